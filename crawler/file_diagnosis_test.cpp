#include "crawler/file_diagnosis.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <fstream>

#include "config/settings_store.h"
#include "crawler/crawler_test_util.h"
#include "crawler/document_table.h"
#include "crawler/scan_scope.h"
#include "crawler/skip_ledger.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

class FileDiagnosisTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(store_.ok);
    root_ = disk_.path();
    ASSERT_TRUE(settings_.Load(config_.File("Setting")));
    settings_.SetValue(kSearchSection, key::kPermittedPaths, "|" + root_ + "|");
    settings_.SetValue(kSearchSection, key::kDocumentTypes, "txt");
    scope_.Load(settings_, root_, {});
  }
  // A file on disk and its record, as the crawler writes it.
  std::string Indexed(const std::string& name, const std::u16string& text) {
    const std::string path = JoinPath(root_, name);
    std::ofstream(path) << "on disk";
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    DocumentRecord r;
    r.name = name;
    r.type = "txt";
    r.path = path;
    r.size = static_cast<uint32_t>(st.st_size);
    r.modified = FileTimeToDate(st.st_mtime);
    r.text = text;
    EXPECT_TRUE(store_.writer->AddOrUpdateDocument(r, true));
    return path;
  }
  FileDiagnosis Diagnose(const std::string& path, const SkipLedger* ledger = nullptr) {
    return DiagnoseFile(scope_, *store_.writer, path, false, ledger);
  }
  static std::map<std::string, std::string> ValuesOf(const FileDiagnosis& d) {
    std::vector<DiagnosisLine> lines;
    EXPECT_TRUE(ParseDiagnosisText(DiagnosisText(d), &lines));
    std::map<std::string, std::string> values;
    for (const DiagnosisLine& line : lines) values[line.key] = line.value;
    return values;
  }

  DocumentStore store_;
  ScratchDir disk_;
  ScratchDir config_;
  SettingsStore settings_;
  ScanScope scope_;
  std::string root_;
};

TEST_F(FileDiagnosisTest, AnIndexedFileShowsItsRecordAndTheStartOfItsText) {
  const std::string path = Indexed("a.txt", u"第一行\r\n\t第二行  words");
  const FileDiagnosis d = Diagnose(path);
  EXPECT_EQ(d.facts.records, 1u);
  EXPECT_EQ(d.facts.text_chars, 16u);
  EXPECT_FALSE(d.facts.changed_since);
  auto values = ValuesOf(d);
  EXPECT_EQ(values["path"], path);
  EXPECT_EQ(values["verdict"], "in_scope");
  EXPECT_EQ(values["text_start"], "第一行 第二行 words") << "one line, blanks folded";
  EXPECT_EQ(values["can_index"], "TRUE");
  EXPECT_EQ(values.count("changed"), 0u);
  EXPECT_EQ(values.count("extraction"), 0u);

  // Saved again with another size after it was indexed.
  std::ofstream(path) << "changed on disk since";
  values = ValuesOf(Diagnose(path));
  EXPECT_EQ(values.count("changed"), 1u);
}

TEST_F(FileDiagnosisTest, MissingTextAndOutOfScopeFilesSayWhy) {
  // A record without text: said, with the likely causes.
  const std::string empty = Indexed("scan.txt", u"");
  EXPECT_NE(ValuesOf(Diagnose(empty))["extraction"], "");

  // The crawler remembers that the service failed on it.
  SkipLedger ledger;
  const std::string poison = Indexed("poison.txt", u"");
  ledger.Add(kSkipExtractFailed, poison);
  EXPECT_NE(ValuesOf(Diagnose(poison, &ledger))["extraction"].find("两次失败"), std::string::npos);

  // Not indexed at all, and not to be: no records, nothing to index now.
  const std::string other = JoinPath(root_, "photo.jpg");
  std::ofstream(other) << "x";
  auto values = ValuesOf(Diagnose(other));
  EXPECT_EQ(values["verdict"], "type_not_chosen");
  EXPECT_EQ(values["records"], "没有");
  EXPECT_EQ(values["can_index"], "FALSE");
  EXPECT_EQ(values.count("text_chars"), 0u);
}

TEST_F(FileDiagnosisTest, TheTextFormKeepsEveryValueOnItsLine) {
  // A path with a tab and a line end cannot break the lines.
  FileDiagnosis d;
  d.scope.path = "/a\tb\nc";
  std::vector<DiagnosisLine> lines;
  ASSERT_TRUE(ParseDiagnosisText(DiagnosisText(d), &lines));
  EXPECT_EQ(lines.front().value, "/a b c");
  for (const char* bad : {"", "path\tx\n", "path\t路径\t/a\n", "x\ty\tz\ncan_index\t\tTRUE"}) {
    EXPECT_FALSE(ParseDiagnosisText(bad, &lines)) << bad;
  }
}

}  // namespace
}  // namespace lun
