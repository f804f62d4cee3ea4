// Record storage: appends, reads, deletions, segments, damaged files and the
// index recovery that the table drives.
#include "engine/storage/data_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "engine/storage/segment_format.h"
#include "engine/storage/storage_test_util.h"
#include "engine/storage/value_codec.h"
#include "platform/fault_file_system.h"

namespace lun {
namespace {

uint64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

class DataTableTest : public ::testing::Test {
 protected:
  // Opens (or reopens) the project with the given segment limit and fake
  // indexes when `indexed`.
  void Open(uint32_t segment_limit = 1'000'000, bool indexed = false) {
    project_.reset();
    project_ = scratch_.Make(indexed ? RecordingFactory(&journal_) : nullptr, segment_limit);
    if (!created_) {
      ASSERT_TRUE(project_->CreateProject(scratch_.project_path()).ok());
      ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
      created_ = true;
    } else {
      ASSERT_TRUE(project_->OpenProject().ok());
    }
    table_ = project_->FindTable("T");
    ASSERT_NE(table_, nullptr);
  }
  // Text "名称" (word index) and integer "大小" (no index).
  void AddBasicFields() {
    ASSERT_TRUE(table_->AddField("名称", "", kFieldText, kWordIndex).ok());
    ASSERT_TRUE(table_->AddField("大小", "", kFieldInteger, kNoIndex).ok());
  }
  EngineStatus Append(std::u16string name, int size) {
    RecordWriter writer = table_->NewRecord();
    EXPECT_TRUE(writer.valid());
    writer.SetValue("名称", Variant::Bstr(std::move(name)));
    writer.SetValue("大小", Variant::I4(size));
    return writer.Commit();
  }
  std::u16string NameOf(uint32_t record) {
    return std::u16string(table_->GetFieldValue(record, 0).AsString());
  }

  ScratchProject scratch_;
  IndexJournal journal_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
  bool created_ = false;
};

TEST_F(DataTableTest, FirstAppendCreatesTheFirstSegmentWithItsHeader) {
  Open();
  AddBasicFields();
  EXPECT_FALSE(std::filesystem::exists(table_->DataPath(0)));
  ASSERT_TRUE(Append(u"A", 7).ok());
  const std::string data = ReadTestFile(table_->DataPath(0));
  namespace sf = segment_format;
  ASSERT_EQ(data.size(), 1024u + 11);
  EXPECT_EQ(data.substr(0, 12), std::string(12, '\0'));
  EXPECT_EQ(data.substr(12, 10), std::string(10, '\x95'));
  EXPECT_EQ(std::string(data.c_str() + sf::kTimeOffset).size(), 19u);
  EXPECT_EQ(std::string(data.c_str() + sf::kCopyrightOffset), sf::kCopyright);
  EXPECT_EQ(std::string(data.c_str() + sf::kVersionOffset), "Tamrix1.0");
  EXPECT_EQ(data.substr(1024), std::string("\x03\0\0\0\0A\0\x07\0\0\0", 11));
  EXPECT_EQ(ReadTestFile(table_->OffsetPath(0)), std::string("\x00\x04\0\0\0\0\0\0", 8));
}

TEST_F(DataTableTest, EveryTypeReadsBackAfterReopen) {
  Open();
  const std::array<std::pair<const char*, int>, 8> fields = {{
      {"文本", kFieldText},
      {"整型", kFieldInteger},
      {"单精度", kFieldSingle},
      {"双精度", kFieldDouble},
      {"逻辑", kFieldLogical},
      {"日期", kFieldDate},
      {"二进制", kFieldBinary},
      {"文档", kFieldDocument},
  }};
  for (const auto& [name, type] : fields)
    ASSERT_TRUE(table_->AddField(name, "", type, kNoIndex).ok());
  std::u16string long_text;
  for (int i = 0; i < 700; ++i) long_text += u"全文检索引擎";
  const std::vector<Variant> in = {
      Variant::Bstr(u"短"), Variant::I4(-5),         Variant::R4(0.25f), Variant::R8(3.5),
      Variant::Bool(true),  Variant::Date(45123.25), Variant::I4(9),     Variant::Bstr(long_text)};
  const std::vector<Variant> expected = {Variant::Bstr(u"短"),         Variant::I4(-5),
                                         Variant::R4(0.25f),           Variant::R8(3.5),
                                         Variant::Bool(true),          Variant::Date(45123.25),
                                         Variant::Bstr(u"二进制数据"), Variant::Bstr(long_text)};
  for (int round = 0; round < 2; ++round) {
    RecordWriter writer = table_->NewRecord();
    ASSERT_TRUE(writer.valid());
    for (size_t i = 0; i < in.size(); ++i) writer.SetValueAt(static_cast<int>(i), in[i]);
    ASSERT_TRUE(writer.Commit().ok());
  }
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "written" : "reopened");
    ASSERT_EQ(table_->record_count(), 2u);
    for (uint32_t r = 0; r < 2; ++r) {
      std::vector<Variant> values;
      ASSERT_TRUE(table_->ReadRecord(r, &values));
      for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(fields[i].first);
        EXPECT_TRUE(values[i] == expected[i]);
        EXPECT_TRUE(table_->GetFieldValue(r, static_cast<int>(i)) == expected[i]);
      }
    }
    std::pmr::string raw;
    ASSERT_TRUE(table_->ReadFieldRaw(1, 7, &raw));
    EXPECT_EQ(raw.size(), long_text.size() * 2);
    EXPECT_EQ(static_cast<unsigned char>(raw[0]), u'全' & 0xFF);
    ASSERT_TRUE(table_->ReadFieldRaw(1, 1, &raw));
    EXPECT_EQ(raw, std::pmr::string("\xFB\xFF\xFF\xFF", 4));
    Open();
  }
}

TEST_F(DataTableTest, EmptyAndNullTextReadBackAsNothing) {
  Open();
  AddBasicFields();
  ASSERT_TRUE(Append(u"", 1).ok());
  RecordWriter writer = table_->NewRecord();
  ASSERT_TRUE(writer.valid());
  writer.SetValue("名称", Variant::Null());
  ASSERT_TRUE(writer.Commit().ok());
  for (uint32_t r = 0; r < 2; ++r) {
    std::pmr::string raw;
    EXPECT_FALSE(table_->ReadFieldRaw(r, 0, &raw));
    EXPECT_TRUE(table_->GetFieldValue(r, 0) == Variant::Bstr(u""));
  }
  EXPECT_TRUE(table_->GetFieldValue(1, 1) == Variant::I4(0));
  EXPECT_TRUE(table_->GetFieldValue(2, 0).is_empty());
  EXPECT_TRUE(table_->GetFieldValue(0, 5).is_empty());
}

TEST_F(DataTableTest, RecordsAppendedBeforeAFieldReadEmptyForIt) {
  Open();
  AddBasicFields();
  ASSERT_TRUE(Append(u"old", 1).ok());
  ASSERT_TRUE(table_->AddField("新", "", kFieldInteger, kNoIndex).ok());
  RecordWriter writer = table_->NewRecord();
  ASSERT_TRUE(writer.valid());
  writer.SetValue("新", Variant::I4(42));
  ASSERT_TRUE(writer.Commit().ok());
  std::vector<Variant> values;
  ASSERT_TRUE(table_->ReadRecord(0, &values));
  EXPECT_TRUE(values[2].is_empty());
  EXPECT_TRUE(table_->GetFieldValue(0, 2).is_empty());
  std::pmr::string raw;
  EXPECT_FALSE(table_->ReadFieldRaw(0, 2, &raw));  // not the next record's bytes
  EXPECT_TRUE(table_->GetFieldValue(1, 2) == Variant::I4(42));
  Open();  // the old record's short body is not taken for a torn tail
  EXPECT_EQ(NameOf(0), u"old");
  EXPECT_TRUE(table_->GetFieldValue(1, 2) == Variant::I4(42));
}

TEST_F(DataTableTest, FailedConversionAppendsNothingAndReleasesTheLock) {
  Open();
  AddBasicFields();
  ASSERT_TRUE(Append(u"a", 1).ok());
  const uint64_t before = FileSize(table_->DataPath(0));
  RecordWriter writer = table_->NewRecord();
  ASSERT_TRUE(writer.valid());
  writer.SetValue("大小", Variant::Bstr(u"twelve"));
  const EngineStatus s = writer.Commit();
  EXPECT_FALSE(s.ok());
  EXPECT_NE(s.message().find("大小"), std::string::npos);
  EXPECT_EQ(table_->record_count(), 1u);
  EXPECT_EQ(FileSize(table_->DataPath(0)), before);
  EXPECT_EQ(table_->table_lock().state(), 0);
}

// A writer holds nothing while it is filled: searches read meanwhile, a
// writer dropped or moved from appends nothing, and a field added while it
// is filled can be set, or stores Empty like any field not set.
TEST_F(DataTableTest, RecordWriterHoldsNoLockAndDroppingItCancels) {
  Open();
  AddBasicFields();
  {
    RecordWriter dropped = table_->NewRecord();
    ASSERT_TRUE(dropped.SetValue("名称", Variant::Bstr(u"never")));
    EXPECT_FALSE(dropped.SetValue("没有", Variant::I4(1)));
    EXPECT_EQ(table_->table_lock().state(), 0);
    ASSERT_TRUE(table_->ReadLock(0));  // a search runs while it is filled
    table_->Unlock();
  }
  RecordWriter first = table_->NewRecord();
  ASSERT_TRUE(first.SetValue("名称", Variant::Bstr(u"first")));
  RecordWriter second = table_->NewRecord();
  ASSERT_TRUE(second.SetValue("名称", Variant::Bstr(u"second")));
  ASSERT_TRUE(table_->AddField("新", "", kFieldInteger, kNoIndex).ok());
  RecordWriter moved = std::move(first);
  EXPECT_FALSE(first.valid());
  EXPECT_FALSE(first.Commit().ok());
  ASSERT_TRUE(moved.SetValueAt(2, Variant::I4(7)));  // the new field
  uint32_t number = 99;
  ASSERT_TRUE(moved.Commit(&number).ok());
  EXPECT_EQ(number, 0u);
  ASSERT_TRUE(second.Commit(&number).ok());
  EXPECT_EQ(number, 1u);
  EXPECT_EQ(table_->record_count(), 2u);
  EXPECT_EQ(NameOf(0), u"first");
  EXPECT_TRUE(table_->GetFieldValue(0, 2) == Variant::I4(7));
  EXPECT_TRUE(table_->GetFieldValue(1, 2) == Variant::I4(0));
}

// A prepared record is what Commit appends, unless a value changed since:
// then it is encoded again; a value that does not convert fails Prepare and
// can be corrected.
TEST_F(DataTableTest, PreparedRecordFollowsTheLastValues) {
  Open();
  AddBasicFields();
  RecordWriter writer = table_->NewRecord();
  ASSERT_TRUE(writer.SetValue("大小", Variant::Bstr(u"twelve")));
  EXPECT_FALSE(writer.Prepare().ok());
  ASSERT_TRUE(writer.SetValue("大小", Variant::I4(12)));
  ASSERT_TRUE(writer.SetValue("名称", Variant::Bstr(u"a")));
  ASSERT_TRUE(writer.Prepare().ok());
  ASSERT_TRUE(writer.SetValue("名称", Variant::Bstr(u"b")));
  ASSERT_TRUE(writer.Commit().ok());
  EXPECT_EQ(table_->record_count(), 1u);
  EXPECT_EQ(NameOf(0), u"b");
  EXPECT_TRUE(table_->GetFieldValue(0, 1) == Variant::I4(12));
}

TEST_F(DataTableTest, DeletionsStaySortedAndAreWrittenAtOnce) {
  Open();
  AddBasicFields();
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(Append(u"r", i).ok());
  EXPECT_TRUE(table_->DeleteRecord(4));
  EXPECT_FALSE(table_->DeleteRecord(4));
  EXPECT_FALSE(table_->DeleteRecord(10));
  EXPECT_EQ(table_->live_count(), 9u);
  for (uint32_t n : {9u, 1u, 7u, 1u}) EXPECT_TRUE(table_->AppendDeletion(n));
  EXPECT_FALSE(table_->AppendDeletion(10));
  EXPECT_EQ(table_->DeletedRecords(), (std::vector<uint32_t>{1, 4, 7, 9}));
  EXPECT_EQ(table_->live_count(), 6u);
  EXPECT_TRUE(table_->IsDeleted(7));
  EXPECT_FALSE(table_->DeleteRecord(9));  // binary search finds what AppendDeletion added
  // On disk in the order they were made, nothing held back in memory.
  EXPECT_EQ(ReadTestFile(table_->DeletionPath()),
            std::string("\x04\0\0\0\x09\0\0\0\x01\0\0\0\x07\0\0\0", 16));
  Open();
  EXPECT_EQ(table_->DeletedRecords(), (std::vector<uint32_t>{1, 4, 7, 9}));
  EXPECT_EQ(table_->live_count(), 6u);
}

TEST_F(DataTableTest, SegmentsRollAtTheLimitAndReadAcrossThem) {
  Open(3);
  AddBasicFields();
  for (int i = 0; i < 7; ++i)
    ASSERT_TRUE(Append(std::u16string(1, static_cast<char16_t>(u'a' + i)), i).ok());
  auto check = [&] {
    ASSERT_EQ(table_->segment_count(), 3);
    const auto segs = table_->Segments();
    EXPECT_EQ(segs[0].records, 3u);
    EXPECT_EQ(segs[2].records, 1u);
    for (uint32_t r = 0; r < 7; ++r)
      EXPECT_EQ(NameOf(r), std::u16string(1, static_cast<char16_t>(u'a' + r)));
  };
  check();
  Open(3);
  check();
  // Any limit reads any table: the segment counts locate the records.
  Open(1000);
  check();
}

TEST_F(DataTableTest, DroppingASegmentRenumbersRecordsAndDeletions) {
  Open(2);
  AddBasicFields();
  for (int i = 0; i < 6; ++i)
    ASSERT_TRUE(Append(std::u16string(1, static_cast<char16_t>(u'a' + i)), i).ok());
  for (uint32_t n : {1u, 2u, 5u}) ASSERT_TRUE(table_->DeleteRecord(n));
  ASSERT_TRUE(table_->DropSegment(1).ok());  // records c, d
  EXPECT_FALSE(table_->DropSegment(2).ok());
  ASSERT_EQ(table_->record_count(), 4u);
  EXPECT_EQ(NameOf(2), u"e");
  EXPECT_EQ(table_->DeletedRecords(), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(table_->live_count(), 2u);
  Open(2);
  EXPECT_EQ(table_->segment_count(), 2);
  EXPECT_EQ(NameOf(3), u"f");
  EXPECT_EQ(table_->DeletedRecords(), (std::vector<uint32_t>{1, 3}));
}

TEST_F(DataTableTest, ClearTableRemovesEverything) {
  Open(2);
  AddBasicFields();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(Append(u"x", i).ok());
  ASSERT_TRUE(table_->DeleteRecord(0));
  ASSERT_TRUE(table_->ClearTable().ok());
  EXPECT_EQ(table_->record_count(), 0u);
  EXPECT_EQ(table_->live_count(), 0u);
  EXPECT_EQ(table_->segment_count(), 0);
  EXPECT_FALSE(std::filesystem::exists(table_->DeletionPath()));
  EXPECT_FALSE(std::filesystem::exists(table_->DataPath(0)));
  ASSERT_TRUE(Append(u"new", 1).ok());
  EXPECT_EQ(NameOf(0), u"new");
  EXPECT_FALSE(table_->IsDeleted(0));
}

// Damage found at open: the table opens, nothing crashes, every intact record
// stays readable. The table has four records in two segments of two.
TEST(DataTableDamageTest, DamagedFilesAtOpen) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> damage;  // `dir` is the data folder
    uint32_t visible;                                    // records after reopening
    const char* log;       // expected in the error log ("" for nothing expected)
    uint32_t deleted = 0;  // deletions that remain valid
  };
  auto patch = [](const std::string& path, size_t at, char byte) {
    std::string data = ReadTestFile(path);
    data[at] = byte;
    WriteTestFile(path, data);
  };
  const std::vector<Case> cases = {
      {"check byte of the second segment", [&](const std::string& d) { patch(d + "/T.S1", 15, 0); },
       2, ",数据校验错误"},
      {"header byte feeding the check", [&](const std::string& d) { patch(d + "/T.S1", 6, 1); }, 2,
       ",数据校验错误"},
      {"copyright of the first segment", [&](const std::string& d) { patch(d + "/T.S0", 50, 'x'); },
       0, ",版权错误"},
      {"version of the second segment", [&](const std::string& d) { patch(d + "/T.S1", 175, 'x'); },
       2, ",数据版本错误"},
      {"offset file cut inside an entry",
       [&](const std::string& d) { std::filesystem::resize_file(d + "/T.R1", 13); }, 3, ""},
      {"last offset entry beyond the data file",
       [&](const std::string& d) { patch(d + "/T.R1", 13, 0x7F); }, 3, ""},
      {"uncommitted body after the last record",
       [&](const std::string& d) {
         std::ofstream(d + "/T.S1", std::ios::binary | std::ios::app) << std::string(37, 'z');
       },
       4, ""},
      {"partial field definition",
       [&](const std::string& d) {
         std::ofstream(d + "/T.stu", std::ios::binary | std::ios::app) << std::string(100, 'q');
       },
       4, ""},
      {"deletion numbers beyond the table and a partial entry",
       [&](const std::string& d) {
         WriteTestFile(d + "/T.Del", std::string("\x01\0\0\0\x63\0\0\0\x02\0", 10));
       },
       4, "", 1},
      {"data file of a later segment missing (interrupted drop)",
       [&](const std::string& d) { std::filesystem::remove(d + "/T.S1"); }, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchProject scratch;
    std::string dir;
    std::vector<std::u16string> names;
    {
      auto project = scratch.Make(nullptr, 2);
      ASSERT_TRUE(project->CreateProject(scratch.project_path()).ok());
      ASSERT_TRUE(project->CreateTable("", "", "T", "").ok());
      DataTable* t = project->FindTable("T");
      ASSERT_TRUE(t->AddField("名称", "", kFieldText, kNoIndex).ok());
      for (int i = 0; i < 4; ++i) {
        names.push_back(std::u16string(10 + i, static_cast<char16_t>(u'a' + i)));
        RecordWriter writer = t->NewRecord();
        ASSERT_TRUE(writer.valid());
        writer.SetValue("名称", Variant::Bstr(names.back()));
        ASSERT_TRUE(writer.Commit().ok());
      }
      dir = t->data_folder();
    }
    c.damage(dir);
    auto project = scratch.Make(nullptr, 2);
    ASSERT_TRUE(project->OpenProject().ok());
    DataTable* t = project->FindTable("T");
    ASSERT_TRUE(t->is_open());
    ASSERT_EQ(t->record_count(), c.visible);
    for (uint32_t r = 0; r < c.visible; ++r) {
      std::vector<Variant> values;
      ASSERT_TRUE(t->ReadRecord(r, &values)) << r;
      EXPECT_TRUE(values[0] == Variant::Bstr(names[r]));
    }
    if (*c.log) EXPECT_NE(scratch.ErrorLog().find(c.log), std::string::npos) << scratch.ErrorLog();
    EXPECT_EQ(t->live_count(), c.visible - c.deleted);
    // New records go after the visible ones and never over hidden data.
    RecordWriter writer = t->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue("名称", Variant::Bstr(u"new"));
    ASSERT_TRUE(writer.Commit().ok());
    project.reset();
    project = scratch.Make(nullptr, 2);
    ASSERT_TRUE(project->OpenProject().ok());
    t = project->FindTable("T");
    ASSERT_EQ(t->record_count(), c.visible + 1);
    EXPECT_TRUE(t->GetFieldValue(c.visible, 0) == Variant::Bstr(u"new"));
    if (c.visible > 0)
      EXPECT_TRUE(t->GetFieldValue(c.visible - 1, 0) == Variant::Bstr(names[c.visible - 1]));
  }
}

// A hidden segment is moved aside, not overwritten by the next roll-over.
TEST(DataTableDamageTest, HiddenSegmentIsKeptAside) {
  ScratchProject scratch;
  auto project = scratch.Make(nullptr, 1);
  ASSERT_TRUE(project->CreateProject(scratch.project_path()).ok());
  ASSERT_TRUE(project->CreateTable("", "", "T", "").ok());
  DataTable* t = project->FindTable("T");
  ASSERT_TRUE(t->AddField("n", "", kFieldInteger, kNoIndex).ok());
  for (int i = 0; i < 2; ++i) {
    RecordWriter writer = t->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue("n", Variant::I4(i));
    ASSERT_TRUE(writer.Commit().ok());
  }
  const std::string dir = t->data_folder();
  const std::string original = ReadTestFile(dir + "/T.S1");
  project.reset();
  std::string damaged = original;
  damaged[20] = 0;
  WriteTestFile(dir + "/T.S1", damaged);
  project = scratch.Make(nullptr, 1);
  ASSERT_TRUE(project->OpenProject().ok());
  bool kept = false;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("T.S1.bad-", 0) == 0) kept = ReadTestFile(e.path().string()) == damaged;
  }
  EXPECT_TRUE(kept);
}

}  // namespace
}  // namespace lun
