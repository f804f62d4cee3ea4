#include "crawler/extract/compiled_help.h"

#include <vector>

#include <gtest/gtest.h>

#include "crawler/extract/extract_test_util.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

std::vector<CompiledHelpPage> ReadPages(const std::string& path, bool* opened,
                                        std::atomic<bool>* stop = nullptr,
                                        size_t stop_after = 0) {
  std::vector<CompiledHelpPage> pages;
  *opened = ForEachCompiledHelpPage(path, stop, [&](const CompiledHelpPage& page) {
    pages.push_back(page);
    if (stop && pages.size() == stop_after) *stop = true;
    return true;
  });
  return pages;
}

class CompiledHelpTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_.File(name);
    EXPECT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, bytes), 0);
    return path;
  }
  ScratchDir dir_;
};

TEST_F(CompiledHelpTest, EveryPageInEveryFolderWithItsKey) {
  const std::string intro = "<html><title>Intro</title><body>Welcome</body></html>";
  const std::string path = Write(
      "help (1).chm",
      MakeChm({{"/#SYSTEM", "internal"},
               {"/$FIftiMain", "internal"},
               {"/html/", ""},
               {"/html/intro.htm", intro},
               {"/html/sub/DEEP.HTML", "<p>deep page</p><script>no</script>"},
               {"/index.htm", "<p>top</p>"},
               {"/style.css", "p { color: red }"},
               {"/logo.gif", "GIF89a"}}));
  bool opened = false;
  const std::vector<CompiledHelpPage> pages = ReadPages(path, &opened);
  EXPECT_TRUE(opened);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(pages[0].name, "intro.htm");
  EXPECT_EQ(pages[0].key, "mk:@MSITStore:" + path + "::/html/intro.htm");
  EXPECT_EQ(pages[0].text, u"Intro\nWelcome");
  EXPECT_EQ(pages[0].size, intro.size());
  EXPECT_EQ(pages[1].name, "DEEP.HTML");  // any case of the extension
  EXPECT_EQ(pages[1].key, "mk:@MSITStore:" + path + "::/html/sub/DEEP.HTML");
  EXPECT_EQ(pages[1].text, u"deep page");
  EXPECT_EQ(pages[2].key, "mk:@MSITStore:" + path + "::/index.htm");
}

TEST_F(CompiledHelpTest, StopFlagAndCallbackEndTheWalk) {
  const std::string path = Write("a.chm", MakeChm({{"/a.htm", "a"}, {"/b.htm", "b"}, {"/c.htm", "c"}}));
  std::atomic<bool> stop{false};
  bool opened = false;
  EXPECT_EQ(ReadPages(path, &opened, &stop, 1).size(), 1u);
  int calls = 0;
  ForEachCompiledHelpPage(path, nullptr, [&](const CompiledHelpPage&) { return ++calls < 2; });
  EXPECT_EQ(calls, 2);
}

TEST_F(CompiledHelpTest, DamagedFilesCostTheirPagesOnly) {
  bool opened = true;
  EXPECT_TRUE(ReadPages(Write("text.chm", "not compiled help at all"), &opened).empty());
  EXPECT_FALSE(opened);
  EXPECT_TRUE(ReadPages(dir_.File("missing.chm"), &opened).empty());
  EXPECT_FALSE(opened);
  // A directory entry whose name runs past the end of the block makes chmlib
  // read out of bounds; that happens in the reader's child process.
  const std::string hostile = MakeChm({{"/ok.htm", "fine"}}, 64, std::string("\x83\x7F", 2));
  const std::vector<CompiledHelpPage> pages = ReadPages(Write("bad.chm", hostile), &opened);
  EXPECT_LE(pages.size(), 1u);
  // A content offset far past the end of the file: the page is skipped.
  std::string truncated = MakeChm({{"/gone.htm", std::string(1000, 'x')}});
  truncated.resize(truncated.size() - 500);
  EXPECT_TRUE(ReadPages(Write("cut.chm", truncated), &opened).empty());
  EXPECT_TRUE(opened);
}

}  // namespace
}  // namespace lun
