#include "platform/path_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <string>

#include "platform/scratch_dir.h"

namespace lun {
namespace {

// Every case is a file in a scratch folder whose name has the given bytes:
// its text form, and the way back to the very same bytes.
TEST(PathTextTest, NamesGetALosslessTextForm) {
  const struct {
    const char* what;
    std::string name;
    std::string text;
  } cases[] = {
      {"ASCII", "notes.txt", "notes.txt"},
      {"UTF-8", "季度报告.txt", "季度报告.txt"},
      {"GBK (valid GB18030)", "\xBC\xBE\xB6\xC8\xB1\xA8\xB8\xE6.txt", "季度报告.txt"},
      {"Latin-1: not GB18030, escaped", "caf\xE9.txt", "caf\xEE\xBF\xA9.txt"},
      {"a lone continuation byte", "a\x80z", "a\xEE\xBE\x80z"},
      {"a truncated UTF-8 character that is GBK", "x\xE4\xB8", "x涓"},
      {"a byte neither UTF-8 nor GB18030 has", "x\xFF", "x\xEE\xBF\xBF"},
      {"GB18030 that decodes to a control character", "\x81\x30\x81\x30",
       "\xEE\xBE\x81" "0" "\xEE\xBE\x81" "0"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;  // one each: a UTF-8 and a GBK name of one text would be one path
    const std::string bytes = dir.path() + "/" + c.name;
    std::ofstream(bytes) << "x";
    const std::string text = PathText(bytes);
    EXPECT_EQ(text, dir.path() + "/" + c.text) << c.what;
    EXPECT_EQ(PathText(text), text) << c.what << ": the text form maps to itself";
    EXPECT_EQ(PathOnDisk(text), bytes) << c.what;
  }
}

TEST(PathTextTest, MissingFilesAndFoldersAreResolvedAsFarAsTheyExist) {
  ScratchDir dir;
  const std::string gbk_folder = dir.path() + "/\xCE\xC4\xBC\xFE";  // GBK 文件
  ASSERT_EQ(::mkdir(gbk_folder.c_str(), 0700), 0);
  // The folder exists in GBK; the file below it is gone.
  EXPECT_EQ(PathOnDisk(dir.path() + "/文件/gone\xEE\xBF\xA9.txt"), gbk_folder + "/gone\xE9.txt");
  // A path that exists as written is itself.
  EXPECT_EQ(PathOnDisk(dir.path()), dir.path());
  EXPECT_EQ(PathOnDisk("/no/such/文件"), "/no/such/文件");
}

}  // namespace
}  // namespace lun
