// The project file, tables and fields: their files byte for byte, and every
// naming rule with the message that wins.
#include "engine/storage/search_project.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/storage/field_def_format.h"
#include "engine/storage/project_format.h"
#include "engine/storage/storage_test_util.h"
#include "engine/storage/value_codec.h"

namespace lun {
namespace {

std::string TextAt(const std::string& data, size_t offset) {
  return std::string(data.c_str() + offset);
}

class SearchProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    project_ = scratch_.Make();
    ASSERT_TRUE(project_->CreateProject(scratch_.project_path()).ok());
  }
  ScratchProject scratch_;
  std::unique_ptr<SearchProject> project_;
};

TEST_F(SearchProjectTest, NewProjectIsOneHeaderRecordAndOpensWithNoTables) {
  const std::string data = ReadTestFile(scratch_.project_path());
  ASSERT_EQ(data.size(), 1804u);
  EXPECT_EQ(TextAt(data, 0), "Tamrix Local Search 1.0");
  EXPECT_EQ(data.find_first_not_of('\0', 24), std::string::npos);
  EXPECT_EQ(scratch_.settings().GetValue("检索设置", "数据源"), scratch_.project_path());

  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  EXPECT_EQ(reopened->table_count(), 0);
}

TEST_F(SearchProjectTest, FileWithoutBannerIsRefusedSilently) {
  WriteTestFile(scratch_.project_path(), std::string(1804, '\0'));
  auto p = scratch_.Make();
  EXPECT_FALSE(p->OpenProject().ok());
  EXPECT_EQ(scratch_.ErrorLog(), "");

  scratch_.settings().SetValue("检索设置", "数据源", scratch_.home().File("missing.db"));
  EXPECT_EQ(p->OpenProject().message(), "不能打开工程文件");
  EXPECT_NE(scratch_.ErrorLog().find("\t不能打开工程文件\r\n"), std::string::npos);
}

TEST_F(SearchProjectTest, CreateTableChecksInOrder) {
  ASSERT_TRUE(project_->CreateTable("", "", "Docs", "").ok());
  struct Case {
    const char* what;
    std::string name;
    const char* message;
  };
  const std::array<Case, 15> cases = {{
      {"empty name: no message", "", ""},
      {"260 bytes", std::string(260, 'n'), "表名长度大于256"},
      // 259 bytes passes the length test; the path test stops it next.
      {"259 bytes", std::string(259, 'n'), "数据路径超长"},
      {"backslash", "a\\b", "表名不能包含\\/:*?\"<>|"},
      {"slash", "a/b", "表名不能包含\\/:*?\"<>|"},
      {"colon", "a:b", "表名不能包含\\/:*?\"<>|"},
      {"asterisk", "a*b", "表名不能包含\\/:*?\"<>|"},
      {"question mark", "a?b", "表名不能包含\\/:*?\"<>|"},
      {"double quote", "a\"b", "表名不能包含\\/:*?\"<>|"},
      {"less-than", "a<b", "表名不能包含\\/:*?\"<>|"},
      {"greater-than", "a>b", "表名不能包含\\/:*?\"<>|"},
      {"bar", "a|b", "表名不能包含\\/:*?\"<>|"},
      // The folder test comes before the name test.
      {"same name again", "Docs", "目录已存在!"},
      {"differing only in case", "DOCS", "该表已经存在！"},
      {"the folder itself", ".", "目录已存在!"},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const EngineStatus s = project_->CreateTable("", "", c.name, "");
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.message(), c.message);
    if (*c.message) EXPECT_NE(scratch_.ErrorLog().find(c.message), std::string::npos);
  }
  EXPECT_EQ(project_->table_count(), 1);
  EXPECT_EQ(ReadTestFile(scratch_.project_path()).size(), 2 * 1804u);
}

TEST_F(SearchProjectTest, TableRecordsStoreFoldersRelativeWhenInside) {
  const std::string outside = scratch_.home().File("elsewhere");
  ASSERT_TRUE(project_->CreateTable("", "", "文档", "描述").ok());
  ASSERT_TRUE(project_->CreateTable(outside, outside + "/", "日志", "").ok());
  const std::string data = ReadTestFile(scratch_.project_path());
  ASSERT_EQ(data.size(), 3 * 1804u);
  const size_t t0 = 1804, t1 = 2 * 1804;
  namespace pf = project_format;
  EXPECT_EQ(TextAt(data, t0 + pf::kNameOffset), "文档");
  EXPECT_EQ(TextAt(data, t0 + pf::kIndexFolderOffset), ".");
  EXPECT_EQ(TextAt(data, t0 + pf::kDataFolderOffset), ".");
  EXPECT_EQ(TextAt(data, t0 + pf::kDescriptionOffset), "描述");
  EXPECT_EQ(TextAt(data, t1 + pf::kIndexFolderOffset), outside);
  EXPECT_EQ(TextAt(data, t1 + pf::kDataFolderOffset), outside);
  EXPECT_TRUE(std::filesystem::exists(outside + "/日志/日志.stu"));
  EXPECT_TRUE(std::filesystem::is_directory(project_->project_folder() + "/文档"));

  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  ASSERT_EQ(reopened->table_count(), 2);
  EXPECT_EQ(reopened->TableAt(1)->data_folder(), outside + "/日志");
  EXPECT_EQ(reopened->FindTable("文档")->description(), "描述");
  EXPECT_TRUE(reopened->TableAt(0)->is_open());
  EXPECT_EQ(reopened->TableAt(2), nullptr);
}

TEST_F(SearchProjectTest, DeletingFirstOfThreeShiftsTheRest) {
  for (const char* name : {"A", "B", "C"})
    ASSERT_TRUE(project_->CreateTable("", "", name, "").ok());
  DataTable* b = project_->FindTable("b");
  ASSERT_TRUE(project_->DeleteTable(0).ok());
  EXPECT_EQ(ReadTestFile(scratch_.project_path()).size(), 3 * 1804u);
  EXPECT_EQ(project_->TableAt(0), b);
  EXPECT_EQ(b->position(), 0);
  EXPECT_EQ(project_->TableAt(1)->position(), 1);
  EXPECT_FALSE(std::filesystem::exists(project_->project_folder() + "/A"));
  EXPECT_FALSE(project_->DeleteTable(5).ok());
  ASSERT_TRUE(project_->DeleteTable("c").ok());

  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  ASSERT_EQ(reopened->table_count(), 1);
  EXPECT_EQ(reopened->TableAt(0)->name(), "B");
}

TEST_F(SearchProjectTest, AddFieldChecksInOrder) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  DataTable* t = project_->FindTable("T");
  ASSERT_TRUE(t->AddField("Name", "", kFieldText, kWordIndex).ok());
  const size_t room =
      259 - t->index_folder().size() - 7;  // longest name that fits the path rule, + 1
  struct Case {
    const char* what;
    std::string name;
    const char* message;
  };
  const std::array<Case, 9> cases = {{
      {"260 bytes", std::string(260, 'f'), "字段名长度大于256"},
      {"path too long", std::string(room, 'f'), "数据路径超长"},
      {"asterisk", "a*b", "字段名不能包含\\/:*?\"<>|"},
      {"colon", "a:b", "字段名不能包含\\/:*?\"<>|"},
      {"dot", ".", "字段名不符合要求!"},
      {"dot dot", "..", "字段名不符合要求!"},
      {"empty", "", "字段名不符合要求!"},
      {"same name, other case", "NAME", "该字段已经存在！"},
      {"same name", "Name", "该字段已经存在！"},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(t->AddField(c.name, "", kFieldText, kNoIndex).message(), c.message);
  }
  EXPECT_TRUE(t->AddField(std::string(room - 1, 'f'), "", kFieldText, kNoIndex).ok());
  EXPECT_EQ(t->field_count(), 2);
  EXPECT_EQ(t->FindField("name"), t->FieldAt(0));
  EXPECT_EQ(t->FieldAt(2), nullptr);
}

// A file of the same name in the current folder used to refuse the field,
// which made the schema depend on where the program was started.
TEST_F(SearchProjectTest, FieldNamedLikeAFileInTheCurrentFolderIsAccepted) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch_.home().path());
  WriteTestFile("路径", "x");
  const EngineStatus s = project_->FindTable("T")->AddField("路径", "", kFieldText, kNoIndex);
  std::filesystem::current_path(previous);
  EXPECT_TRUE(s.ok()) << s.message();
}

TEST_F(SearchProjectTest, FieldDefinitionBytes) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  DataTable* t = project_->FindTable("T");
  ASSERT_TRUE(t->AddField("路径", "", kFieldText, kWordIndex).ok());
  // A torn definition at the end is overwritten by the next one.
  { std::ofstream(t->SchemaPath(), std::ios::binary | std::ios::app) << std::string(100, 'x'); }
  ASSERT_TRUE(t->AddField("大小", "aux", kFieldInteger, kExactIndex).ok());
  const std::string data = ReadTestFile(t->SchemaPath());
  ASSERT_EQ(data.size(), 2 * 2340u);
  namespace fd = field_def_format;
  std::string expected(2340, '\0');
  expected.replace(0, 6, "路径");
  expected.replace(fd::kTypeWordOffset, 4, std::string("\x01\0\0\0", 4));
  expected.replace(fd::kReservedMinusOneOffset, 4, "\xFF\xFF\xFF\xFF");
  EXPECT_EQ(data.substr(0, 2340), expected);
  const std::string second = data.substr(2340);
  EXPECT_EQ(TextAt(second, 0), "大小");
  EXPECT_EQ(DecodeFixed32(second.data() + fd::kTypeWordOffset), 2u);
  EXPECT_EQ(DecodeFixed32(second.data() + fd::kIndexKindOffset), 7u);
  EXPECT_EQ(DecodeFixed32(second.data() + fd::kDisabledOffset), 0u);
  EXPECT_EQ(TextAt(second, fd::kAuxTextOffset), "aux");

  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  const TableField* size = reopened->FindTable("T")->FindField("大小");
  ASSERT_NE(size, nullptr);
  EXPECT_EQ(size->type, kFieldInteger);
  EXPECT_EQ(size->index_kind, kExactIndex);
  EXPECT_EQ(size->definition_number, 1);
}

TEST_F(SearchProjectTest, DisabledDefinitionIsSkippedButKeepsItsNumber) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  DataTable* t = project_->FindTable("T");
  ASSERT_TRUE(t->AddField("a", "", kFieldText, kNoIndex).ok());
  ASSERT_TRUE(t->AddField("b", "", kFieldText, kNoIndex).ok());
  std::string data = ReadTestFile(t->SchemaPath());
  data[field_def_format::kDisabledOffset] = 1;
  WriteTestFile(t->SchemaPath(), data);
  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  DataTable* r = reopened->FindTable("T");
  ASSERT_EQ(r->field_count(), 1);
  EXPECT_EQ(r->FieldAt(0)->name, "b");
  EXPECT_EQ(r->FieldAt(0)->definition_number, 1);
}

TEST_F(SearchProjectTest, AnyFieldListComesFromTheTablesSection) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  DataTable* t = project_->FindTable("T");
  ASSERT_TRUE(t->AddField("a", "", kFieldText, kWordIndex).ok());
  ASSERT_TRUE(t->AddField("b", "", kFieldText, kNoIndex).ok());
  ASSERT_TRUE(t->AddField("c", "", kFieldText, kExactIndex).ok());
  EXPECT_EQ(t->any_fields(), (std::vector<int>{0, 2}));  // empty setting: indexed fields

  scratch_.settings().SetValue("T", "任意字段", "B;nope;;a");
  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  EXPECT_EQ(reopened->FindTable("T")->any_fields(), (std::vector<int>{1, 0}));
}

// CreateTable writes the project record before it makes the folders; a crash
// in between leaves a record whose folders the next open creates.
TEST_F(SearchProjectTest, ListedTableWithoutFoldersOpensEmpty) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  const std::string data_dir = project_->FindTable("T")->data_folder();
  project_->CloseProject();
  std::filesystem::remove_all(data_dir);
  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  DataTable* t = reopened->FindTable("T");
  ASSERT_TRUE(t->is_open());
  EXPECT_TRUE(std::filesystem::exists(data_dir + "/T.stu"));
  EXPECT_TRUE(t->AddField("a", "", kFieldText, kNoIndex).ok());
}

TEST_F(SearchProjectTest, TableThatCannotOpenStaysListed) {
  ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
  const std::string schema = project_->FindTable("T")->SchemaPath();
  project_->CloseProject();
  std::filesystem::remove(schema);
  std::filesystem::create_directory(schema);  // cannot be opened for writing
  auto reopened = scratch_.Make();
  ASSERT_TRUE(reopened->OpenProject().ok());
  DataTable* t = reopened->FindTable("T");
  ASSERT_NE(t, nullptr);
  EXPECT_FALSE(t->is_open());
  EXPECT_FALSE(t->NewRecord().valid());
  EXPECT_NE(scratch_.ErrorLog().find("不能打开DB8文件"), std::string::npos);
}

}  // namespace
}  // namespace lun
