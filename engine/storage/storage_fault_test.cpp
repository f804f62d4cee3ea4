// Record storage under failing and short I/O (the FileSystem seam).
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/storage/data_table.h"
#include "engine/storage/storage_test_util.h"
#include "platform/fault_file_system.h"

namespace lun {
namespace {

std::u16string TextFor(int i) {
  return std::u16string(5 + i % 7, static_cast<char16_t>(u'甲' + i));
}

// Table T with a text and an integer field, in a project on `scratch`.
DataTable* MakeTable(SearchProject* project, ScratchProject& scratch) {
  EXPECT_TRUE(project->CreateProject(scratch.project_path()).ok());
  EXPECT_TRUE(project->CreateTable("", "", "T", "").ok());
  DataTable* t = project->FindTable("T");
  EXPECT_TRUE(t->AddField("名称", "", kFieldText, kNoIndex).ok());
  EXPECT_TRUE(t->AddField("大小", "", kFieldInteger, kNoIndex).ok());
  return t;
}

// Odd records are prepared before they are committed, as a loader does.
EngineStatus Append(DataTable* t, int i) {
  RecordWriter writer = t->NewRecord();
  if (!writer.valid()) return EngineStatus::FailQuietly("begin");
  writer.SetValue("名称", Variant::Bstr(TextFor(i)));
  writer.SetValue("大小", Variant::I4(i));
  if (i % 2 && !writer.Prepare().ok()) return EngineStatus::FailQuietly("prepare");
  return writer.Commit();
}

struct Sizes {
  uint32_t records;
  std::vector<uint64_t> files;
  bool operator==(const Sizes&) const = default;
};

Sizes SizesOf(DataTable* t) {
  Sizes s{t->record_count(), {}};
  for (int k = 0; k < 8; ++k) {
    std::error_code ec;
    s.files.push_back(std::filesystem::file_size(t->DataPath(k), ec));
    s.files.push_back(std::filesystem::file_size(t->OffsetPath(k), ec));
  }
  return s;
}

// Fails each operation of an append in turn (segment roll included): a
// failed append leaves the files and counts exactly as they were and the
// table keeps working; a successful one is readable.
TEST(StorageFaultTest, EachFailingOperationOfAnAppendLeavesNoTrace) {
  FaultFileSystem fs;
  ScratchProject scratch(&fs);
  auto project = scratch.Make(nullptr, 2);
  DataTable* t = MakeTable(project.get(), scratch);
  int next = 0;
  std::vector<int> committed;
  for (uint64_t n = 1; n <= 12; ++n) {
    for (int error : {EIO, ENOSPC}) {
      SCOPED_TRACE(testing::Message() << "operation " << n << " errno " << error);
      const Sizes before = SizesOf(t);
      const uint64_t failures = fs.failures();
      fs.FailAt(fs.operations() + n, error, false);
      const EngineStatus s = Append(t, next);
      fs.FailAt(0, 0, false);
      if (s.ok()) {
        committed.push_back(next);
        EXPECT_EQ(t->record_count(), before.records + 1);
      } else {
        EXPECT_GT(fs.failures(), failures);
        EXPECT_EQ(SizesOf(t), before);
      }
      ++next;
      EXPECT_EQ(t->table_lock().state(), 0);
      ASSERT_TRUE(Append(t, next).ok());  // the next operation works
      committed.push_back(next++);
    }
  }
  project.reset();
  auto reopened = scratch.Make(nullptr, 2);
  ASSERT_TRUE(reopened->OpenProject().ok());
  DataTable* r = reopened->FindTable("T");
  ASSERT_EQ(r->record_count(), committed.size());
  for (uint32_t i = 0; i < committed.size(); ++i) {
    std::vector<Variant> values;
    ASSERT_TRUE(r->ReadRecord(i, &values));
    EXPECT_TRUE(values[0] == Variant::Bstr(TextFor(committed[i])));
    EXPECT_TRUE(values[1] == Variant::I4(committed[i]));
  }
}

TEST(StorageFaultTest, PersistentFailureRefusesWritesWithoutHarm) {
  FaultFileSystem fs;
  ScratchProject scratch(&fs);
  auto project = scratch.Make();
  DataTable* t = MakeTable(project.get(), scratch);
  ASSERT_TRUE(Append(t, 0).ok());
  fs.FailAt(fs.operations() + 1, ENOSPC, true);
  for (int i = 1; i < 4; ++i) EXPECT_FALSE(Append(t, i).ok());
  EXPECT_FALSE(t->DeleteRecord(0));
  EXPECT_EQ(t->live_count(), 1u);
  fs.FailAt(0, 0, false);
  ASSERT_TRUE(Append(t, 4).ok());
  ASSERT_TRUE(t->DeleteRecord(0));
  EXPECT_EQ(t->record_count(), 2u);
  EXPECT_TRUE(t->GetFieldValue(1, 1) == Variant::I4(4));
}

// Short writes are completed by the engine: the files equal a clean run's.
TEST(StorageFaultTest, ShortWritesGiveTheSameFiles) {
  auto run = [](ScratchProject& scratch) {
    auto project = scratch.Make(nullptr, 3);
    DataTable* t = MakeTable(project.get(), scratch);
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(Append(t, i * 31).ok());
    EXPECT_TRUE(t->DeleteRecord(5));
    EXPECT_TRUE(t->AppendDeletion(2));
    std::vector<std::string> files;
    for (int k = 0; k < 3; ++k) {
      files.push_back(ReadTestFile(t->DataPath(k)).substr(44));  // after the creation time
      files.push_back(ReadTestFile(t->OffsetPath(k)));
    }
    files.push_back(ReadTestFile(t->DeletionPath()));
    files.push_back(ReadTestFile(t->SchemaPath()));
    return files;
  };
  ScratchProject clean_scratch;
  const auto clean = run(clean_scratch);
  FaultFileSystem fs;
  fs.ShortWriteEvery(2);
  ScratchProject short_scratch(&fs);
  const auto shortened = run(short_scratch);
  ASSERT_EQ(clean.size(), shortened.size());
  for (size_t i = 0; i < clean.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_FALSE(clean[i].empty());
    EXPECT_EQ(clean[i], shortened[i]);
  }
}

}  // namespace
}  // namespace lun
