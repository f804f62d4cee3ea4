#include "config/tab_fields.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(TabFieldsTest, FieldsSurviveTheLineWhateverTheyHold) {
  const std::vector<std::string> fields = {"", "plain", "a\tb", "line\r\nend", "back\\slash\\",
                                           "中文\\t字面"};
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) line += (i ? "\t" : "") + EscapeField(fields[i]);
  EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
  EXPECT_EQ(SplitFields(line), fields);
  EXPECT_EQ(SplitFields("no tabs"), std::vector<std::string>{"no tabs"});
  EXPECT_EQ(SplitFields("dangling\\"), std::vector<std::string>{"dangling\\"});
}

}  // namespace
}  // namespace lun
