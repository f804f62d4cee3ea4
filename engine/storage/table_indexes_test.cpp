// The indexes of a table as a unit: the flush-marker protocol under failing
// I/O (the FileSystem seam), then the recovery at the next open.
#include "engine/storage/table_indexes.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "engine/storage/data_table.h"
#include "engine/storage/storage_files.h"
#include "engine/storage/storage_test_util.h"
#include "platform/fault_file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

// A table's side as the indexes see it: records in memory, two indexed
// fields (definitions 0 and 1).
struct FakeTable {
  std::vector<std::unique_ptr<TableField>> fields;
  std::vector<std::u16string> texts;
  FakeTable() {
    for (int d = 0; d < 2; ++d) {
      auto f = std::make_unique<TableField>();
      f->name = "f" + std::to_string(d);
      f->type = kFieldText;
      f->index_kind = d == 0 ? kWordIndex : kExactIndex;
      f->position = d;
      f->definition_number = d;
      fields.push_back(std::move(f));
    }
  }
  IndexedRecords Records() {
    return {[this] { return static_cast<uint32_t>(texts.size()); },
            [this](uint32_t r, std::vector<Variant>* values) {
              values->assign(2, Variant::Bstr(texts[r]));
              return true;
            },
            [] { return true; }};
  }
};

// A flush stopped at any operation (every later one failing, as a crash
// leaves it) is made good at the next open: every index ends level with the
// records, and an index whose flush may have been cut short (the marker
// stayed) is rebuilt from the first record.
TEST(TableIndexesTest, FlushStoppedAtAnyOperationIsRecoveredAtOpen) {
  for (uint64_t n = 1; n <= 20; ++n) {
    SCOPED_TRACE(testing::Message() << "operation " << n);
    ScratchDir dir;
    IndexJournal journal;
    FakeTable table;
    const std::string marker = dir.File(kIndexWriteMarkerName);
    bool flushed = false;
    {
      FaultFileSystem fs;
      TableIndexes indexes(fs, RecordingFactory(&journal), table.Records());
      indexes.Attach("T", dir.path(), dir.path(), &table.fields);
      for (int i = 0; i < 5; ++i) table.texts.push_back(u"t" + std::u16string(1, u'0' + i));
      indexes.Recover();  // caught up and flushed: the stored indexes count 5
      ASSERT_FALSE(PathExists(marker));
      for (uint32_t r = 5; r < 7; ++r) {
        table.texts.push_back(u"new");
        indexes.TakeAppended(r, {Variant::Bstr(u"new"), Variant::Bstr(u"new")});
      }
      fs.FailAt(fs.operations() + n, EIO, true);
      flushed = indexes.Flush().ok();
      // The process ends here without closing.
      for (auto& f : table.fields) f->index.reset();
    }
    const bool marker_left = PathExists(marker);
    if (flushed) EXPECT_FALSE(marker_left);
    journal.added.clear();
    TableIndexes indexes(DefaultFileSystem(), RecordingFactory(&journal), table.Records());
    indexes.Attach("T", dir.path(), dir.path(), &table.fields);
    indexes.Recover();
    EXPECT_FALSE(PathExists(marker));
    for (int d = 0; d < 2; ++d) {
      EXPECT_EQ(table.fields[static_cast<size_t>(d)]->index->RecordCount(), 7u);
      const auto& fed = journal.added[d];
      if (marker_left) {
        ASSERT_EQ(fed.size(), 7u);  // rebuilt
      } else if (!flushed) {
        EXPECT_LE(fed.size(), 2u);  // caught up from what was stored
      }
      if (!fed.empty()) EXPECT_EQ(fed.back().first, 6u);
    }
  }
}

// Records that cannot be made durable are never referred to by an index:
// the flush stops before the marker and the indexes.
TEST(TableIndexesTest, FailedRecordSyncStopsTheFlushBeforeTheMarker) {
  ScratchDir dir;
  IndexJournal journal;
  FakeTable table;
  IndexedRecords records = table.Records();
  bool sync_ok = true;
  records.sync = [&] { return sync_ok; };
  TableIndexes indexes(DefaultFileSystem(), RecordingFactory(&journal), records);
  indexes.Attach("T", dir.path(), dir.path(), &table.fields);
  indexes.Recover();
  table.texts.push_back(u"a");
  indexes.TakeAppended(0, {Variant::Bstr(u"a"), Variant::Bstr(u"a")});
  sync_ok = false;
  EXPECT_FALSE(indexes.Flush().ok());
  EXPECT_EQ(journal.flushes[0], 0);
  EXPECT_FALSE(PathExists(dir.File(kIndexWriteMarkerName)));
  sync_ok = true;
  EXPECT_TRUE(indexes.Flush().ok());
  EXPECT_EQ(journal.flushes[0], 1);
}

}  // namespace
}  // namespace lun
