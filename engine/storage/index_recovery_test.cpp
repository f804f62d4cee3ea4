// How a table keeps its indexes level with its records: what it hands them,
// when it flushes them, and what it does at open after a crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/storage/data_table.h"
#include "engine/storage/storage_test_util.h"

namespace lun {
namespace {

class IndexRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    journal_.flush_every = 3;
    Reopen();
  }
  void Reopen() {
    project_.reset();
    project_ = scratch_.Make(RecordingFactory(&journal_));
    if (!created_) {
      ASSERT_TRUE(project_->CreateProject(scratch_.project_path()).ok());
      ASSERT_TRUE(project_->CreateTable("", "", "T", "").ok());
      table_ = project_->FindTable("T");
      ASSERT_TRUE(table_->AddField("名称", "", kFieldText, kWordIndex).ok());
      ASSERT_TRUE(table_->AddField("大小", "", kFieldInteger, kNoIndex).ok());
      ASSERT_TRUE(table_->AddField("类型", "", kFieldText, kExactIndex).ok());
      created_ = true;
    } else {
      ASSERT_TRUE(project_->OpenProject().ok());
    }
    table_ = project_->FindTable("T");
    index_folder_ = table_->index_folder();
  }
  void Append(int i) {
    RecordWriter writer = table_->NewRecord();
    ASSERT_TRUE(writer.valid());
    writer.SetValue("名称", Variant::I4(i));  // stored as text
    writer.SetValue("大小", Variant::I4(i));
    writer.SetValue("类型", Variant::Bstr(u"t"));
    ASSERT_TRUE(writer.Commit().ok());
  }
  // Record numbers the word index was handed, in order.
  std::vector<uint32_t> Fed(int definition) {
    std::vector<uint32_t> out;
    for (const auto& [n, v] : journal_.added[definition]) out.push_back(n);
    return out;
  }
  std::string Marker() const { return index_folder_ + "/" + kIndexWriteMarkerName; }
  bool MarkerExists() { return std::filesystem::exists(Marker()); }
  void WriteIndexCount(int definition, uint32_t count) {
    std::ofstream(index_folder_ + "/D" + std::to_string(definition) + ".Ha0",
                  std::ios::binary | std::ios::trunc)
        << "Fake" << count;
  }

  ScratchProject scratch_;
  IndexJournal journal_;
  std::unique_ptr<SearchProject> project_;
  DataTable* table_ = nullptr;
  std::string index_folder_;
  bool created_ = false;
};

TEST_F(IndexRecoveryTest, IndexesGetStoredValuesOfIndexedFieldsOnly) {
  Append(7);
  ASSERT_EQ(journal_.added[0].size(), 1u);
  EXPECT_TRUE(journal_.added[0][0].second == Variant::Bstr(u"7"));
  EXPECT_EQ(journal_.added.count(1), 0u);  // 大小 has no index
  EXPECT_TRUE(journal_.added[2][0].second == Variant::Bstr(u"t"));
  EXPECT_EQ(table_->FieldAt(1)->index, nullptr);
}

TEST_F(IndexRecoveryTest, FlushesWhenDueAndRemovesTheMarker) {
  for (int i = 0; i < 2; ++i) Append(i);
  EXPECT_EQ(journal_.flushes[0], 0);
  Append(2);
  EXPECT_EQ(journal_.flushes[0], 1);
  EXPECT_EQ(journal_.flushes[2], 1);
  EXPECT_FALSE(MarkerExists());
}

TEST_F(IndexRecoveryTest, IndexBehindIsCaughtUpAtOpen) {
  for (int i = 0; i < 5; ++i) Append(i);  // flushed after 3; records 3 and 4 only in memory
  journal_.added.clear();
  // A crash loses what the index held in memory: the stored count says 3.
  project_.reset();  // closing would flush; simulate the crash by rewriting the count
  WriteIndexCount(0, 3);
  WriteIndexCount(2, 3);
  journal_.added.clear();
  Reopen();
  EXPECT_EQ(Fed(0), (std::vector<uint32_t>{3, 4}));
  EXPECT_TRUE(journal_.added[0][1].second == Variant::Bstr(u"4"));
  EXPECT_EQ(table_->FieldAt(0)->index->RecordCount(), 5u);
  EXPECT_FALSE(MarkerExists());
}

TEST_F(IndexRecoveryTest, IndexAheadIsRebuilt) {
  for (int i = 0; i < 4; ++i) Append(i);
  project_.reset();
  WriteIndexCount(2, 99);
  journal_.added.clear();
  Reopen();
  EXPECT_EQ(Fed(2), (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_TRUE(Fed(0).empty());  // the word index was level and is kept
  EXPECT_EQ(table_->FieldAt(2)->index->RecordCount(), 4u);
}

TEST_F(IndexRecoveryTest, MarkerAtOpenRebuildsEveryIndex) {
  for (int i = 0; i < 4; ++i) Append(i);
  project_.reset();
  std::ofstream(Marker()) << "";
  std::ofstream(index_folder_ + "/F0.x") << "stale";
  journal_.added.clear();
  Reopen();
  EXPECT_EQ(Fed(0), (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(Fed(2), (std::vector<uint32_t>{0, 1, 2, 3}));
  EXPECT_FALSE(MarkerExists());
  EXPECT_FALSE(std::filesystem::exists(index_folder_ + "/F0.x"));
}

TEST_F(IndexRecoveryTest, FailedFlushKeepsTheMarkerForTheNextOpen) {
  journal_.fail_flush = true;
  for (int i = 0; i < 3; ++i) Append(i);
  EXPECT_TRUE(MarkerExists());
  EXPECT_NE(scratch_.ErrorLog().find("索引写入失败"), std::string::npos);
  journal_.fail_flush = false;
  project_.reset();
  journal_.added.clear();
  Reopen();
  EXPECT_EQ(Fed(0), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_FALSE(MarkerExists());
}

TEST_F(IndexRecoveryTest, FieldAddedLaterIsFedTheEarlierRecords) {
  for (int i = 0; i < 2; ++i) Append(i);
  ASSERT_TRUE(table_->AddField("新", "", kFieldDate, kExactIndex).ok());
  EXPECT_EQ(Fed(3), (std::vector<uint32_t>{0, 1}));
  EXPECT_TRUE(journal_.added[3][0].second.is_empty());
  Append(2);
  EXPECT_EQ(Fed(3), (std::vector<uint32_t>{0, 1, 2}));
}

TEST_F(IndexRecoveryTest, DropAndClearRestartTheIndexesLevelWithTheRecords) {
  project_.reset();
  project_ = scratch_.Make(RecordingFactory(&journal_), 2);
  ASSERT_TRUE(project_->OpenProject().ok());
  table_ = project_->FindTable("T");
  for (int i = 0; i < 5; ++i) Append(i);
  journal_.added.clear();
  ASSERT_TRUE(table_->DropSegment(0).ok());
  // The remaining three records, renumbered from 0.
  EXPECT_EQ(Fed(0), (std::vector<uint32_t>{0, 1, 2}));
  EXPECT_TRUE(journal_.added[0][0].second == Variant::Bstr(u"2"));
  ASSERT_TRUE(table_->ClearTable().ok());
  EXPECT_EQ(table_->FieldAt(0)->index->RecordCount(), 0u);
  Append(9);
  EXPECT_EQ(table_->FieldAt(0)->index->RecordCount(), 1u);
}

}  // namespace
}  // namespace lun
