// TableIndexes: the indexes of one table's fields, and the protocol that
// keeps them level with the table's records (field_index.h gives the
// contract with each index).
//
// Each field with an index kind gets its index from the project's factory,
// held in its TableField. This unit creates them, feeds them the records
// (live appends and catch-up), flushes them under the index-write marker
// and rebuilds them when they are behind, ahead or damaged:
//   * Flush: the record files are synced first (an index never refers to
//     records the disk may lose), then the marker "IndexWrite.Busy" is
//     created and synced in the index folder, every index flushes, and the
//     marker is removed. A failed index write keeps the marker.
//   * Recover (table open): a marker found means a flush was cut short:
//     every index file goes and the indexes are rebuilt from the records.
//     An index ahead of the records is rebuilt; one behind is caught up.
//   * An index a read found damaged is rebuilt from the records at the next
//     flush; when the table closes first, the marker stays for the next
//     open. A session that only reads writes nothing at close.
//
// Thread safety: none of its own. The table calls it under its write lock
// (or before any writer runs); the records are read through the table's
// data lock.
#ifndef LUN_ENGINE_STORAGE_TABLE_INDEXES_H_
#define LUN_ENGINE_STORAGE_TABLE_INDEXES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/variant.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/field_index.h"

namespace lun {

class FileSystem;
struct TableField;

// What the indexes need of their table.
struct IndexedRecords {
  // The table's record count (the next record number).
  std::function<uint32_t()> count;
  // Every field's value of a record (DataTable::ReadRecord).
  std::function<bool(uint32_t record, std::vector<Variant>* values)> read;
  // Makes the record (and deletion) files durable; false on failure.
  std::function<bool()> sync;
};

class TableIndexes {
 public:
  TableIndexes(FileSystem& fs, FieldIndexFactory factory, IndexedRecords records)
      : fs_(fs), factory_(std::move(factory)), records_(std::move(records)) {}
  TableIndexes(const TableIndexes&) = delete;
  TableIndexes& operator=(const TableIndexes&) = delete;

  // The table these indexes serve: its name, folders and fields (which
  // outlive this object's use of them).
  void Attach(const std::string& table, const std::string& index_folder,
              const std::string& project_folder, std::vector<std::unique_ptr<TableField>>* fields);

  // At table open: opens or rebuilds every field's index and brings each
  // level with the records.
  void Recover();
  // After a field was added: creates its index and feeds it every record
  // (Empty for the records that predate it).
  void AddIndexOfNewField();
  // Drops every index file and rebuilds the indexes from the records (the
  // record numbers changed).
  void Restart();

  // Feeds a record just appended; `values` are the fields' stored values
  // (Empty beyond the fields the record was encoded with). An index that
  // refuses it is marked for a rebuild. Flushes when an index wants it.
  void TakeAppended(uint32_t record, const std::vector<Variant>& values);

  // Syncs the records, then flushes every index under the marker.
  EngineStatus Flush();
  // Called as the table closes: flushes when anything changed (records not
  // yet synced, index records not yet flushed) or an index is damaged, so
  // that a damaged index keeps the marker.
  void Close(bool records_unsynced);

  bool empty() const;

 private:
  void Create();
  void CatchUp();
  void DropFiles(int definition_number);  // -1: every D* and F* file
  void MarkDamaged();
  bool AnyDamaged() const;
  // Drops the indexes a read found damaged and rebuilds them.
  void RebuildDamaged();
  std::string MarkerPath() const;

  FileSystem& fs_;
  FieldIndexFactory factory_;
  IndexedRecords records_;
  std::string table_;
  std::string index_folder_;
  std::string project_folder_;
  std::vector<std::unique_ptr<TableField>>* fields_ = nullptr;
  bool damaged_ = false;  // an index write failed: keep the marker
  // An index took records since its last flush: closing must flush. A
  // session that only reads leaves this false, so closing writes nothing.
  bool unflushed_ = false;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_TABLE_INDEXES_H_
