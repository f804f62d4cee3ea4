#include "crawler/scan_scope.h"

#include <gtest/gtest.h>

#include <fstream>

#include "config/settings_store.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

TEST(ScanScopeTest, TypeListsAndTokens) {
  EXPECT_EQ(NormalizeTypeList("doc|xls"), "|DOC|XLS|");
  EXPECT_EQ(NormalizeTypeList("|doc||xls|"), "|DOC|XLS|");
  EXPECT_EQ(NormalizeTypeList(""), "|");
  EXPECT_EQ(TypeListFromPatterns("*.log;*.ini"), "|LOG|");
  EXPECT_EQ(TypeListFromPatterns("*.log;;*.ini;"), "|LOG|INI|");
  EXPECT_EQ(TypeListFromPatterns(" *.txt ; .md;"), "|TXT|MD|");
  EXPECT_EQ(TypeTokenOf("/a/b.c/report.Final.docx"), "|DOCX|");
  EXPECT_EQ(TypeTokenOf("/a/b.c/README"), "||");
  EXPECT_TRUE(ListContainsToken("|DOC|XLS|", "|xls|"));
  EXPECT_FALSE(ListContainsToken("|DOC|XLS|", "||"));
}

TEST(ScanScopeTest, Categories) {
  const std::pair<const char*, const char*> cases[] = {
      {"|JPEG|", "图像"}, {"|xyz|", "其它"},    {"||", "其它"},   {"|DOCX|", "文档"},
      {"|pdf|", "文档"},  {"|CHM|", "网页"},    {"|EML|", "邮件"}, {"|MP3|", "音乐"},
      {"|RMVB|", "视频"}, {"|EXE|", "程序"},
  };
  for (const auto& [token, category] : cases) {
    EXPECT_EQ(CategoryOfType(token), category) << token;
  }
  EXPECT_EQ(CategoryIndex("网页"), 1);
  EXPECT_EQ(CategoryIndex("其它"), 7);
  EXPECT_EQ(CategoryIndex("nothing"), -1);
  EXPECT_EQ(CategoryName(7), "其它");
  EXPECT_EQ(CategoryName(8), "");
}

TEST(ScanScopeTest, SizeLimit) {
  EXPECT_TRUE(IsSizeIndexable(20971520));
  EXPECT_FALSE(IsSizeIndexable(20971521));
  EXPECT_FALSE(IsSizeIndexable(uint64_t{4} << 30));
  EXPECT_TRUE(HasDiskSpace("/", 0));
  EXPECT_FALSE(HasDiskSpace("/", uint64_t{1} << 40)) << "nobody has an exbibyte free";
  EXPECT_FALSE(HasDiskSpace("/no/such/path", 0));
}

class ScopeFixture : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(settings_.Load(dir_.File("Setting"))); }
  ScratchDir dir_;
  SettingsStore settings_;
  ScanScope scope_;
};

TEST_F(ScopeFixture, DefaultRootIsStoredWhenNoneIsSet) {
  scope_.Load(settings_, "/home/u", {"/tmp"});
  EXPECT_TRUE(scope_.used_default_roots());
  EXPECT_EQ(scope_.PermittedRoots(), std::vector<std::string>{"/home/u"});
  EXPECT_EQ(settings_.GetValue(kSearchSection, key::kPermittedPaths), "|/home/u|");

  settings_.SetValue(kSearchSection, key::kPermittedPaths, "|/data/||/srv|");
  scope_.Load(settings_, "/home/u", {});
  EXPECT_FALSE(scope_.used_default_roots());
  EXPECT_EQ(scope_.PermittedRoots(), (std::vector<std::string>{"/data", "/srv"}));
}

TEST_F(ScopeFixture, ExclusionRules) {
  settings_.SetValue(kSearchSection, key::kForbiddenPaths, "|/home/u/work/|");
  settings_.SetValue(kSearchSection, key::kPermittedPaths, "|/home/u|/tmp/chosen|");
  scope_.Load(settings_, "/home/u", {"/proc", "/tmp"});
  struct Case {
    const char* path;
    bool directory_excluded;
    bool file_excluded;
  };
  const Case cases[] = {
      {"/home/u/docs/a.doc", false, false},
      {"/data/$VAULT$/a.doc", true, true},
      {"/home/u/.cache/x", true, true},
      {"/home/u/lost+found/x", true, true},
      {"/home/u/work", true, true},
      {"/home/u/work/a.doc", true, true},
      {"/home/u/workshop/a.doc", false, false},  // a forbidden path is a directory, not a prefix
      {"/home/u/Work/a.doc", false, false},      // paths are compared as the file system does
      {"/proc/1/status", true, true},            // system paths even with nothing configured
      {"/tmp/x.txt", true, true},
      {"/tmp/chosen/a.txt", false, false},       // a root the user chose inside /tmp
      {"/tmp/chosen", false, false},
      {"/tmp/chosenx/a.txt", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(scope_.IsDirectoryExcluded(c.path), c.directory_excluded);
    EXPECT_EQ(scope_.IsFileExcluded(c.path), c.file_excluded);
  }
  scope_.SetClearing(true);
  EXPECT_TRUE(scope_.IsFileExcluded("/home/u/docs/a.doc"));
}

TEST_F(ScopeFixture, ASkippedRootSaysWhy) {
  const std::string root = dir_.File("root");
  ASSERT_TRUE(MakeDirectories(root + "/work") && MakeDirectories(root + "/.hidden"));
  std::ofstream(root + "/file.txt") << "x";
  settings_.SetValue(kSearchSection, key::kForbiddenPaths, "|" + root + "/work|");
  settings_.SetValue(kSearchSection, key::kPermittedPaths, "|" + root + "|");
  scope_.Load(settings_, root, {});
  const struct {
    std::string root;
    std::string why;
  } cases[] = {
      {root, ""},
      {root + "/missing", "不存在"},
      {root + "/file.txt", "不是文件夹"},
      {root + "/.hidden", "路径中有隐藏或系统文件夹 (以 . 或 $ 开头, lost+found)"},
      {root + "/work", "在禁止扫描的路径 " + root + "/work 中"},
  };
  for (const auto& c : cases) EXPECT_EQ(scope_.WhyRootSkipped(c.root), c.why) << c.root;
}

TEST_F(ScopeFixture, TypeAdmission) {
  settings_.SetValue(kSearchSection, key::kDocumentTypes, "doc|pdf");
  settings_.SetValue(kSearchSection, key::kOtherTextTypes, "*.log;");
  settings_.SetValue(kSearchSection, key::kPlugTypes, "xyz");
  scope_.Load(settings_, "/home/u", {});
  EXPECT_TRUE(scope_.IsTypeAdmitted("|PDF|"));
  EXPECT_TRUE(scope_.IsTypeAdmitted("|log|"));
  EXPECT_TRUE(scope_.IsTypeAdmitted("|XYZ|"));
  EXPECT_FALSE(scope_.IsTypeAdmitted("|JPG|"));
  EXPECT_FALSE(scope_.IsTypeAdmitted("||"));
  scope_.ReplaceTypeList(TypeListKind::kDocument, "doc|filename");
  EXPECT_TRUE(scope_.IsTypeAdmitted("||")) << "FILENAME admits every file";
}

TEST_F(ScopeFixture, ApplyingAListWithANewTypeAsksForARescan) {
  settings_.SetValue(kSearchSection, key::kDocumentTypes, "DOC|PDF");
  scope_.Load(settings_, "/home/u", {});
  int rescans = 0;
  InstallTypeListHooks(settings_, scope_, [&] { ++rescans; });
  ASSERT_TRUE(settings_.ApplySetting(key::kDocumentTypes, "doc|pdf|txt"));
  EXPECT_EQ(rescans, 1);
  EXPECT_EQ(scope_.TypeList(TypeListKind::kDocument), "|DOC|PDF|TXT|");
  ASSERT_TRUE(settings_.ApplySetting(key::kDocumentTypes, "doc|txt"));
  EXPECT_EQ(rescans, 1) << "removing a type asks for nothing";
  ASSERT_TRUE(settings_.ApplySetting(key::kOtherTextTypes, "*.ini;"));
  EXPECT_EQ(rescans, 2);
  EXPECT_EQ(scope_.TypeList(TypeListKind::kOtherText), "|INI|");
}

}  // namespace
}  // namespace lun
