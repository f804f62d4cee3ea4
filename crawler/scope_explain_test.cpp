#include "crawler/scope_explain.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/settings_store.h"
#include "crawler/scan_scope.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

// A scratch disk: a permitted root "home" with a forbidden "home/work", a
// temporary directory "tmp" (named by $TMPDIR for the test), and files of
// each kind the diagnosis must tell apart.
class ScopeExplainTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("TMPDIR");
    old_tmpdir_ = old ? old : "";
    root_ = JoinPath(dir_.path(), "home");
    tmp_ = JoinPath(dir_.path(), "tmp");
    for (const char* sub : {"home/docs", "home/work", "home/.cache", "tmp/chosen", "elsewhere"}) {
      std::filesystem::create_directories(JoinPath(dir_.path(), sub));
    }
    setenv("TMPDIR", tmp_.c_str(), 1);
    ASSERT_TRUE(settings_.Load(dir_.File("Setting")));
    settings_.SetValue(kSearchSection, key::kPermittedPaths, "|" + root_ + "|" + tmp_ + "/chosen|");
    settings_.SetValue(kSearchSection, key::kForbiddenPaths, "|" + root_ + "/work|");
    settings_.SetValue(kSearchSection, key::kDocumentTypes, "txt|doc");
    scope_.Load(settings_, root_, {tmp_});
  }
  void TearDown() override {
    if (old_tmpdir_.empty()) {
      unsetenv("TMPDIR");
    } else {
      setenv("TMPDIR", old_tmpdir_.c_str(), 1);
    }
  }
  std::string Make(const std::string& relative, uint64_t size = 5) {
    const std::string path = JoinPath(dir_.path(), relative);
    std::ofstream(path) << "hello";
    std::filesystem::resize_file(path, size);
    return path;
  }

  ScratchDir dir_;
  SettingsStore settings_;
  ScanScope scope_;
  std::string root_, tmp_, old_tmpdir_;
};

TEST_F(ScopeExplainTest, EachReasonIsNamedWithWhatCausedIt) {
  struct Case {
    std::string path;
    ScopeVerdict verdict;
    std::string detail;
  };
  const Case cases[] = {
      {Make("home/docs/a.txt"), ScopeVerdict::kInScope, ""},
      {JoinPath(root_, "docs/none.txt"), ScopeVerdict::kMissing, ""},
      {JoinPath(root_, "docs"), ScopeVerdict::kNotAFile, ""},
      {Make("elsewhere/a.txt"), ScopeVerdict::kNotUnderRoot, root_ + "; " + tmp_ + "/chosen"},
      {Make("home/.cache/a.txt"), ScopeVerdict::kExcludedName, ".cache"},
      {Make("home/work/a.txt"), ScopeVerdict::kForbiddenPath, root_ + "/work"},
      {Make("home/docs/a.jpg"), ScopeVerdict::kTypeNotChosen, "|JPG|"},
      {Make("home/docs/big.txt", kMaxIndexedFileSize + 1), ScopeVerdict::kOverSizeLimit, ""},
      // The limit itself is still indexed.
      {Make("home/docs/edge.txt", kMaxIndexedFileSize), ScopeVerdict::kInScope, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const ScopeExplanation e = ExplainScope(scope_, c.path, false);
    EXPECT_EQ(e.verdict, c.verdict) << ScopeVerdictKey(e.verdict);
    EXPECT_EQ(e.detail, c.detail);
    EXPECT_FALSE(DescribeScope(e).empty());
  }
}

TEST_F(ScopeExplainTest, TemporaryDirectoryIsNamedAsSuch) {
  // With a root above it, the forbidden temporary directory keeps its
  // files out.
  settings_.SetValue(kSearchSection, key::kPermittedPaths, "|" + dir_.path() + "|");
  scope_.Load(settings_, root_, {tmp_});
  const ScopeExplanation e = ExplainScope(scope_, Make("tmp/a.txt"), false);
  EXPECT_EQ(e.verdict, ScopeVerdict::kTemporaryDirectory);
  EXPECT_EQ(e.detail, tmp_);
  EXPECT_NE(DescribeScope(e).find(tmp_), std::string::npos);
}

TEST_F(ScopeExplainTest, AgreesWithTheCrawlersOwnRules) {
  // A root chosen inside the forbidden temporary directory is walked, and
  // the diagnosis says so; text detection admits an unchosen type whose content is text.
  const std::string chosen = Make("tmp/chosen/a.txt");
  EXPECT_FALSE(scope_.IsFileExcluded(chosen));
  EXPECT_EQ(ExplainScope(scope_, chosen, false).verdict, ScopeVerdict::kInScope);
  const ScopeExplanation text = ExplainScope(scope_, Make("home/docs/b.jpg"), true);
  EXPECT_EQ(text.verdict, ScopeVerdict::kInScope);
  EXPECT_EQ(text.detail, "text");
  const std::string binary = JoinPath(root_, "docs/c.jpg");
  std::ofstream(binary, std::ios::binary) << std::string("\xff\xd8\xff\xe0\0\0\0\0JFIF", 12);
  EXPECT_EQ(ExplainScope(scope_, binary, true).verdict, ScopeVerdict::kTypeNotChosen)
      << "text detection admits only what looks like text";
}

TEST_F(ScopeExplainTest, RelativePathsAreJudgedAgainstTheWorkingDirectory) {
  const std::string file = Make("home/docs/rel.txt");
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(JoinPath(root_, "docs").c_str()), 0);
  const ScopeExplanation e = ExplainScope(scope_, "./x/../rel.txt", false);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(e.path, file);
  EXPECT_EQ(e.verdict, ScopeVerdict::kInScope);
}

}  // namespace
}  // namespace lun
