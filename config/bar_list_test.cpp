#include "config/bar_list.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(BarListTest, SplitsAndJoinsTheStoredForm) {
  const struct {
    const char* list;
    std::vector<std::string> items;
    const char* joined;
  } cases[] = {
      {"|/a|/b|", {"/a", "/b"}, "|/a|/b|"},
      {"/a|/b", {"/a", "/b"}, "|/a|/b|"},
      {"|/a||/b|", {"/a", "/b"}, "|/a|/b|"},
      {"|", {}, ""},
      {"", {}, ""},
      {"|文档 目录|DOC|", {"文档 目录", "DOC"}, "|文档 目录|DOC|"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitBarList(c.list), c.items) << c.list;
    EXPECT_EQ(JoinBarList(c.items), c.joined) << c.list;
  }
  EXPECT_EQ(JoinBarList({"", "x", ""}), "|x|");
}

}  // namespace
}  // namespace lun
