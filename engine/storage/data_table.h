// DataTable: one table of a SearchProject, with its fields, its records,
// its deletion list, its lock and the indexes of its fields. The table
// keeps the field definitions and the locking and offers the API; the
// pieces live in their own units:
//   segment_files.h  the record files, their repair at open, appends
//   deletion_list.h  the deleted record numbers and their file
//   table_indexes.h  the fields' indexes and the flush-marker protocol
//   record_writer.h  a record being built for appending
//
// Files, for table {T} with data folder D and index folder I (each already
// {root}/{T}):
//   D/{T}.stu         field definitions (field_def_format.h)
//   D/{T}.S{k}        record data of segment k (segment_format.h)
//   D/{T}.R{k}        record offsets of segment k
//   D/{T}.Del         deleted record numbers (deletion_format.h)
//   I/D{n}.*          index files of the field with definition number n
//   I/IndexWrite.Busy present while an index flush is under way
//
// Record numbers count from 0 in insertion order across segments and never
// change, except that DropSegment shifts the records after the dropped
// segment down.
//
// Durability: a record is committed when RecordWriter::Commit returns
// success; its 8-byte offset entry, written after its body, is the commit
// point. After a crash (kill -9) every committed record reads back with its
// exact values, the visible records are a prefix of those appended, and an
// uncommitted tail is cut off at the next open. A deletion is on disk when
// DeleteRecord or AppendDeletion returns. Indexes are brought level with
// the records at open (field_index.h).
//
// Thread safety: record reads (ReadFieldRaw, ReadRecord, GetFieldValue) and
// counts may be called from any thread at any time; they are serialised with
// appends record by record by the table's data lock. Writers (a
// RecordWriter's Commit, DeleteRecord, AppendDeletion, ClearTable,
// DropSegment, AddField) take the table's TableLock for writing themselves,
// each for the one operation; a RecordWriter holds no lock while it is
// filled, and compresses its text before it takes the lock. Searches take
// the TableLock for reading (ReadLock) around their evaluation.
// FindField/FieldAt may be used while no AddField runs (the field list only
// grows, and only under the write lock); RecordWriters may be filled while
// AddField runs.
#ifndef LUN_ENGINE_STORAGE_DATA_TABLE_H_
#define LUN_ENGINE_STORAGE_DATA_TABLE_H_

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "engine/storage/deletion_list.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/field_definition.h"
#include "engine/storage/field_index.h"
#include "engine/storage/record_format.h"
#include "engine/storage/record_writer.h"
#include "engine/storage/segment_files.h"
#include "engine/storage/table_indexes.h"
#include "engine/storage/table_lock.h"
#include "platform/file_system.h"

namespace lun {

class FileSystem;
class SettingsStore;

// One field of a table as the table uses it.
struct TableField {
  std::string name;
  uint32_t type_word = 0;    // bits 0-15 type, bits 16-31 subtype
  int type = kFieldUnknown;  // type_word & 0xFFFF
  IndexKind index_kind = kNoIndex;
  int position = 0;           // among the table's fields
  int definition_number = 0;  // record index in {T}.stu
  // The field's index; null without an index (kind -1, no factory, or its
  // files could not be opened).
  std::unique_ptr<FieldIndex> index;
};

// What a table needs from its project; owned by the project, outlives the
// table.
struct TableEnvironment {
  FileSystem* file_system = nullptr;  // every read and write of the table's files
  SettingsStore* settings = nullptr;  // any-field list; null: every indexed field
  FieldIndexFactory index_factory;    // null: no indexes
  std::string project_folder;
  // Records per segment before a new segment is started. Readers locate
  // records through each segment's own count, so any value reads any table.
  uint32_t segment_record_limit = 1'000'000;
};

class DataTable {
 public:
  // The highest record number a table accepts is one below this.
  static constexpr uint32_t kRecordNumberLimit = SegmentFiles::kRecordNumberLimit;
  // Read-lock time-out of searches, in milliseconds.
  static constexpr uint32_t kSearchReadTimeoutMs = 15000;

  explicit DataTable(const TableEnvironment& env);
  ~DataTable();  // closes the table
  DataTable(const DataTable&) = delete;
  DataTable& operator=(const DataTable&) = delete;

  // Opens the table `name` whose folders are {data_root}/{name} and
  // {index_root}/{name} (both created when missing): reads the field
  // definitions, opens the segments, loads the deletion list, reads the
  // any-field list and brings the indexes level with the records. A damaged
  // segment header hides that segment and the later ones (they are moved
  // aside as "{T}.S{k}.bad-{uuid}" so that new records never overwrite
  // them); a torn tail is cut off. Fails only when the definitions or an
  // intact segment's files cannot be opened; is_open() tells the outcome.
  EngineStatus Open(std::string_view name, std::string_view description,
                    const std::string& data_root, const std::string& index_root, int position);
  // Flushes the indexes, closes every file. Called by the destructor.
  void Close();

  bool is_open() const { return open_; }
  const std::string& name() const { return name_; }
  const std::string& description() const { return description_; }
  int position() const { return position_; }
  void set_position(int position) { position_ = position; }
  const std::string& data_folder() const { return data_folder_; }
  const std::string& index_folder() const { return index_folder_; }

  // ---- fields
  // First field whose name equals `name` ignoring ASCII case; null if none.
  TableField* FindField(std::string_view name) const;
  // Field at `position`; null when position is out of range.
  TableField* FieldAt(int position) const;
  // Position of the field named `name` (as FindField); -1 if none. Safe
  // while AddField runs.
  int FieldPosition(std::string_view name) const;
  int field_count() const { return static_cast<int>(fields_.size()); }
  // Adds a field (type_word: type code, subtype in bits 16-31). Takes the
  // write lock. Messages: "字段名长度大于256",
  // "数据路径超长", "字段名不能包含\/:*?"<>|", "字段名不符合要求!",
  // "该字段已经存在！". Records appended earlier read as Empty for it.
  EngineStatus AddField(std::string_view name, std::string_view aux_text, uint32_t type_word,
                        IndexKind index_kind);
  // Positions of the fields a term without a field name is searched in.
  const std::vector<int>& any_fields() const { return any_fields_; }

  // ---- locks
  void WriteLock() { lock_.WriteLock(); }
  [[nodiscard]] bool ReadLock(uint32_t timeout_ms) { return lock_.ReadLock(timeout_ms); }
  void Unlock() { lock_.Unlock(); }
  TableLock& table_lock() { return lock_; }

  // ---- appending
  // A writer for one new record (record_writer.h); not valid() when the
  // table is not open.
  RecordWriter NewRecord();
  // The record number the next append gets (= records stored, deleted or
  // not).
  uint32_t record_count() const;
  // Records not deleted.
  uint32_t live_count() const;

  // ---- reading (any thread)
  // The stored value of field `position` of `record`: text and document as
  // UTF-16LE bytes (decompressed), other types as stored. The buffer comes
  // from `heap`. False when the record or field does not exist, the record
  // predates the field, or the stored bytes are damaged.
  [[nodiscard]] bool ReadFieldRaw(uint32_t record, int position, std::pmr::string* out) const;
  // Every field of `record` as GetFieldValue gives it, with one read of the
  // body. Fields the record does not reach are Empty. False when the record
  // does not exist or its body cannot be read; a damaged value reads as
  // Empty and makes the result false while the other values are still given.
  [[nodiscard]] bool ReadRecord(uint32_t record, std::vector<Variant>* values) const;
  // The stored value as a variant (see value_codec.h StoredValueToVariant);
  // Empty for a missing record or field.
  Variant GetFieldValue(uint32_t record, int position) const;
  // The stored bytes of field `position` of `record`, read without the rest
  // of the body: for text and document the method byte and payload that
  // StoredTextReader takes (empty for an empty value). False when the
  // record or field does not exist or the record predates the field.
  [[nodiscard]] bool ReadStoredValue(uint32_t record, int position, std::string* stored) const;
  // The record body as stored (for the checker and dump). False when the
  // record does not exist or its offsets are out of bounds.
  [[nodiscard]] bool ReadBody(uint32_t record, std::string* body) const;

  // ---- deleting
  // Marks `record` deleted and writes it to {T}.Del; false when it is
  // already deleted, does not exist, or the deletion cannot be written.
  bool DeleteRecord(uint32_t record);
  // The crawler's form: false when `record` is not below record_count() or
  // the deletion cannot be written; deleting a deleted record again succeeds
  // and changes nothing.
  bool AppendDeletion(uint32_t record);
  // Syncs the deletion file. Deletions are written when they are made, so
  // nothing waits in memory; this makes them survive power loss too.
  EngineStatus FlushDeletions();
  bool IsDeleted(uint32_t record) const;
  // The deleted record numbers, ascending.
  std::vector<uint32_t> DeletedRecords() const;

  // ---- whole segments and the table
  // Removes segment k; later records shift down by its record count, the
  // deletion list is renumbered to match, and the indexes are rebuilt from
  // the remaining records. Takes the write lock.
  EngineStatus DropSegment(int k);
  // Removes every record and deletion; the indexes restart empty. Takes the
  // write lock.
  EngineStatus ClearTable();
  int segment_count() const;
  std::vector<SegmentInfo> Segments() const;

  // Syncs the record and deletion files, then flushes every index (see
  // field_index.h). Records committed before it returns successfully survive
  // power loss. The write lock must be held by the caller, or no writer may
  // run.
  EngineStatus FlushIndexes();

  // File names of this table's files.
  std::string SchemaPath() const;
  std::string DataPath(int k) const;
  std::string OffsetPath(int k) const;
  std::string DeletionPath() const;
  std::string IndexMarkerPath() const;

 private:
  friend class RecordWriter;

  // Encodes `values` (by field position, Empty beyond their end) into a
  // record body and the values the indexes get. Takes the field list's
  // lock only, never the write lock.
  EngineStatus EncodeRecord(const std::vector<Variant>& values, std::string* body,
                            std::vector<Variant>* stored) const;
  // Appends an encoded record and feeds the indexes, under the write lock.
  EngineStatus AppendEncoded(const std::string& body, const std::vector<Variant>& stored,
                             uint32_t* record);
  // Whether `position` names a field; safe while AddField runs.
  bool HasFieldAt(int position) const;
  EngineStatus OpenStorage();
  EngineStatus LoadFieldDefinitions();
  std::vector<int> FieldTypes() const;
  void BuildFields();
  TableField* AppendField(int definition_number);
  void ReadAnyFields();
  // Closes the record and deletion files; requires data_mutex_.
  void CloseFiles();
  enum class DeletionOutcome { kDeleted, kAlreadyDeleted, kRefused };
  DeletionOutcome Delete(uint32_t record);
  bool SyncRecordFiles();
  EngineStatus DropSegmentLocked(int k);

  TableEnvironment env_;
  FileSystem& fs_;
  std::string name_;
  std::string description_;
  std::string data_folder_;
  std::string index_folder_;
  int position_ = 0;
  bool open_ = false;

  // The field list grows under the write lock and this mutex; writers that
  // are being filled read it under this mutex alone.
  mutable std::shared_mutex fields_mutex_;
  std::vector<std::unique_ptr<TableField>> fields_;
  std::vector<int> any_fields_;
  TableLock lock_;

  // Guards the record files, the counts and the deletion list.
  mutable std::mutex data_mutex_;
  SegmentFiles segments_;
  DeletionList deletions_;
  TableIndexes indexes_;
  ScopedFd schema_;
  std::vector<FieldDefinition> definitions_;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_DATA_TABLE_H_
