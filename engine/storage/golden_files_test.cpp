// Golden files: a tiny project written by this code and checked in under
// testdata/golden. Reading them back catches a reader that drifts from the
// stored format; writing the same project afresh and comparing bytes catches
// a writer that drifts. To regenerate after a deliberate format change, run
// the test with LUN_WRITE_GOLDEN=1 and review the diff.
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>

#include "engine/storage/storage_test_util.h"
#include "engine/storage/value_codec.h"

#ifndef LUN_STORAGE_TESTDATA
#error "LUN_STORAGE_TESTDATA must name engine/storage/testdata"
#endif

namespace lun {
namespace {

const std::string kGolden = std::string(LUN_STORAGE_TESTDATA) + "/golden";

std::u16string LongText() {
  std::u16string t;
  for (int i = 0; i < 40; ++i) t += u"桌面全文检索，";
  return t;
}

// A text long enough for the seekable form: three chunks and a seek table.
std::u16string SeekableText() {
  std::u16string t;
  for (int i = 0; t.size() < 40'000; ++i)
    t += u"第" + std::u16string(1, u'0' + i % 10) + u"段，全文检索。";
  return t;
}

// Table 文档: 名称 text (word index), 大小 integer, 比例 single, 值 double,
// 有效 logical, 时间 date, 附件 binary, 正文 document (word index).
const std::vector<std::vector<Variant>>& Rows() {
  static const auto* rows = new std::vector<std::vector<Variant>>{
      {Variant::Bstr(u"甲.txt"), Variant::I4(1234), Variant::R4(0.5f), Variant::R8(-1.25),
       Variant::Bool(true), Variant::Date(45000.75), Variant::I4(7), Variant::Bstr(LongText())},
      {Variant::Bstr(u""), Variant(), Variant(), Variant(), Variant::Bool(false), Variant(),
       Variant::Bstr(u"附"), Variant::Bstr(u"短")},
      {Variant::Bstr(u"乙.txt"), Variant::I4(2), Variant(), Variant(), Variant::Bool(true),
       Variant(), Variant(), Variant::Bstr(SeekableText())},
  };
  return *rows;
}

void BuildGoldenProject(ScratchProject& scratch) {
  auto p = scratch.Make(nullptr, 1);
  ASSERT_TRUE(p->CreateProject(scratch.project_path()).ok());
  ASSERT_TRUE(p->CreateTable("", "", "文档", "golden").ok());
  DataTable* t = p->FindTable("文档");
  const std::array<std::pair<const char*, int>, 8> fields = {{{"名称", kFieldText},
                                                              {"大小", kFieldInteger},
                                                              {"比例", kFieldSingle},
                                                              {"值", kFieldDouble},
                                                              {"有效", kFieldLogical},
                                                              {"时间", kFieldDate},
                                                              {"附件", kFieldBinary},
                                                              {"正文", kFieldDocument}}};
  for (const auto& [name, type] : fields) {
    ASSERT_TRUE(t->AddField(name, "", type, IsTextType(type) ? kWordIndex : kNoIndex).ok());
  }
  for (const auto& row : Rows()) {
    RecordWriter writer = t->NewRecord();
    ASSERT_TRUE(writer.valid());
    for (size_t i = 0; i < row.size(); ++i) writer.SetValueAt(static_cast<int>(i), row[i]);
    ASSERT_TRUE(writer.Commit().ok());
  }
  ASSERT_TRUE(t->DeleteRecord(1));
}

const std::vector<std::string> kFiles = {"local.db",     "文档/文档.stu", "文档/文档.S0",
                                         "文档/文档.R0", "文档/文档.S1",  "文档/文档.R1",
                                         "文档/文档.S2", "文档/文档.R2",  "文档/文档.Del"};

// The creation time in a data file header is the only byte range that differs
// between runs.
std::string WithoutTime(const std::string& file, std::string data) {
  if (file.find(".S") != std::string::npos && data.size() >= 44) data.replace(24, 20, 20, '\0');
  return data;
}

TEST(GoldenFilesTest, WriterProducesTheCheckedInBytes) {
  ScratchProject scratch;
  BuildGoldenProject(scratch);
  const std::string dir = DirName(scratch.project_path());
  if (std::getenv("LUN_WRITE_GOLDEN")) {
    for (const std::string& f : kFiles) {
      std::filesystem::create_directories(std::filesystem::path(kGolden + "/" + f).parent_path());
      std::filesystem::copy_file(dir + "/" + f, kGolden + "/" + f,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  for (const std::string& f : kFiles) {
    SCOPED_TRACE(f);
    const std::string golden = ReadTestFile(kGolden + "/" + f);
    ASSERT_FALSE(golden.empty());
    EXPECT_EQ(WithoutTime(f, ReadTestFile(dir + "/" + f)), WithoutTime(f, golden));
  }
}

TEST(GoldenFilesTest, ReaderDecodesTheCheckedInFiles) {
  ScratchProject scratch;
  const std::string dir = DirName(scratch.project_path());
  std::filesystem::create_directories(dir);
  std::filesystem::copy(kGolden, dir, std::filesystem::copy_options::recursive);
  scratch.settings().SetValue("检索设置", "数据源", scratch.project_path());
  auto p = scratch.Make();
  ASSERT_TRUE(p->OpenProject().ok());
  DataTable* t = p->FindTable("文档");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->description(), "golden");
  ASSERT_EQ(t->record_count(), 3u);
  EXPECT_EQ(t->live_count(), 2u);
  EXPECT_TRUE(t->IsDeleted(1));
  const std::vector<Variant> expected0 = {
      Variant::Bstr(u"甲.txt"),     Variant::I4(1234),        Variant::R4(0.5f),
      Variant::R8(-1.25),           Variant::Bool(true),      Variant::Date(45000.75),
      Variant::Bstr(u"二进制数据"), Variant::Bstr(LongText())};
  const std::vector<Variant> expected1 = {Variant::Bstr(u""),
                                          Variant::I4(0),
                                          Variant::R4(0),
                                          Variant::R8(0),
                                          Variant::Bool(false),
                                          Variant::Date(0),
                                          Variant::Bstr(u"二进制数据"),
                                          Variant::Bstr(u"短")};
  std::vector<Variant> values;
  ASSERT_TRUE(t->ReadRecord(0, &values));
  for (size_t i = 0; i < expected0.size(); ++i) EXPECT_TRUE(values[i] == expected0[i]) << i;
  ASSERT_TRUE(t->ReadRecord(1, &values));
  for (size_t i = 0; i < expected1.size(); ++i) EXPECT_TRUE(values[i] == expected1[i]) << i;
  // The seekable form: read whole, and from its last chunk through the
  // seek table.
  EXPECT_TRUE(t->GetFieldValue(2, 7) == Variant::Bstr(SeekableText()));
  std::string stored;
  ASSERT_TRUE(t->ReadStoredValue(2, 7, &stored));
  StoredTextReader reader(stored);
  const size_t start = reader.SeekNear(39'000);
  EXPECT_EQ(start, 2u * record_format::kSeekChunkBytes / 2);
  std::u16string tail;
  while (reader.Next(&tail)) {
  }
  EXPECT_EQ(tail, SeekableText().substr(start));
}

}  // namespace
}  // namespace lun
