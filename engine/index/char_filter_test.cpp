#include "engine/index/char_filter.h"

#include <gtest/gtest.h>

#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

void WriteCodes(const std::string& folder, std::vector<uint32_t> codes, size_t extra_bytes = 0) {
  std::string data;
  for (uint32_t c : codes) {
    for (int i = 0; i < 4; ++i) data.push_back(char(c >> (8 * i)));
  }
  data.append(extra_bytes, '\x01');
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), JoinPath(folder, kCharFilterFileName), data), 0);
}

TEST(CharFilterTest, MissingFileLeavesOnlyTheStandardSeparatorsAndLogsOnce) {
  ScratchDir home, project;
  ASSERT_TRUE(SetApplicationHome(home.path()));
  auto filter = CharFilter::ForProject(DefaultFileSystem(), project.path());
  EXPECT_EQ(filter->codes().size(), 14u);
  for (char16_t c : kStandardSeparators) EXPECT_TRUE(filter->IsSeparator(c));
  EXPECT_FALSE(filter->IsSeparator(u'a'));
  EXPECT_FALSE(filter->IsSeparator(u'\u3000'));
  std::string log;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), JoinPath(home.path(), kEngineErrorLogName), &log), 0);
  size_t count = 0;
  for (size_t at = log.find("不能打开过滤文件!"); at != std::string::npos;
       at = log.find("不能打开过滤文件!", at + 1)) {
    ++count;
  }
  EXPECT_EQ(count, 1u);
}

TEST(CharFilterTest, FileCodesAreSortedAndStandardOnesNotAddedTwice) {
  ScratchDir project;
  // Any order; a trailing partial code is ignored; ',' is already listed.
  WriteCodes(project.path(), {u'x', u',', 0x1F600, u'-'}, 3);
  auto filter = CharFilter::ForProject(DefaultFileSystem(), project.path());
  EXPECT_TRUE(filter->IsSeparator(u'x'));
  EXPECT_TRUE(filter->IsSeparator(u'-'));
  EXPECT_TRUE(filter->IsSeparator(0x1F600));
  EXPECT_EQ(filter->codes().size(), 4u + 13u);
  EXPECT_TRUE(std::is_sorted(filter->codes().begin(), filter->codes().end()));
  const size_t before = filter->codes().size();
  filter->AddSeparator(u'x');
  EXPECT_EQ(filter->codes().size(), before);
}

TEST(CharFilterTest, FileShorterThanOneCodeIsEmpty) {
  ScratchDir project;
  WriteCodes(project.path(), {}, 3);
  EXPECT_TRUE(CharFilter::Load(DefaultFileSystem(), project.path())->codes().empty());
}

}  // namespace
}  // namespace lun
