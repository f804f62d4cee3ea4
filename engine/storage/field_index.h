// FieldIndex: how a table reaches the index of one of its fields.
//
// The storage layer (this directory) keeps the records; the index layer
// (engine/index/) builds the word and exact-value indexes over them. Storage
// must not depend on the index layer, so it sees an index only through this
// interface and creates indexes through a FieldIndexFactory that the owner of
// the SearchProject hands in. A null factory means the tables have no
// indexes (tools and tests that look at records only).
//
// Durability contract between the two (the table drives it):
//   * AddRecord only takes the record into memory. It never writes index
//     files, so a crash between two flushes loses nothing the records do not
//     hold.
//   * Index files are written only inside Flush(). The table calls Flush()
//     when WantsFlush() says so (after AddRecord), when the table closes, and
//     before files are dropped. Around every round of flushes the table syncs
//     the record files, creates and syncs the "index write in progress"
//     marker in the index folder, calls Flush() on the indexes, and removes
//     the marker afterwards. Flush() returns only after its own files are
//     synced (FileSystem::Sync), so a removed marker means the index files
//     are whole.
//   * At table open the table compares RecordCount() with its own record
//     count: an index behind is fed the missing records in order (catch-up);
//     an index ahead, or any index of a table whose marker was found, is
//     dropped (its files deleted) and rebuilt from the records.
//   * An index whose files turn out damaged is never trusted: at open it
//     starts again empty (and is fed every record); when a read finds the
//     damage later, damaged() says so and the table rebuilds it.
//   * The value handed to AddRecord is the value as a reader gets it back
//     (DataTable::GetFieldValue): text and document VT_BSTR (an empty string
//     for an empty or null text), integer VT_I4, single VT_R4, double VT_R8,
//     logical VT_BOOL, date VT_DATE, binary the text "二进制数据"; Empty for a
//     record that predates the field. The same holds for live appends and
//     for catch-up, so a rebuilt index equals one built live.
//
// Thread safety: the table calls AddRecord, WantsFlush and Flush under its
// write lock, one thread at a time. Readers (queries) use the concrete index
// type under the table's read lock; what they may call concurrently with
// nothing else is the index layer's business.
#ifndef LUN_ENGINE_STORAGE_FIELD_INDEX_H_
#define LUN_ENGINE_STORAGE_FIELD_INDEX_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engine/storage/record_format.h"

namespace lun {

class FileSystem;
class Variant;

// What an index needs to open (or create) its files.
struct FieldIndexSpec {
  std::string index_folder;         // the table's index folder ({folder}/{name})
  std::string project_folder;       // folder of the project file (Filter.Chr lives here)
  std::string table_name;
  int definition_number = 0;        // the field's record index in the .stu file
  IndexKind index_kind = kNoIndex;
  int field_type = 0;               // 1 text ... 8 document
  uint32_t table_record_count = 0;  // records in the table when opened
  FileSystem* file_system = nullptr;  // every index write goes through it; never null
};

// The index of one field, all its generations. Owned by the table's field;
// destroyed when the table closes or its index files are dropped (the table
// flushes it first when it is kept).
class FieldIndex {
 public:
  virtual ~FieldIndex() = default;

  // Takes record `record_number` with the field's stored `value` into memory.
  // Records arrive in record-number order with no gaps, starting at
  // RecordCount(). False when the record could not be taken (the table logs
  // it and rebuilds the index at the next open).
  virtual bool AddRecord(uint32_t record_number, const Variant& value) = 0;

  // True when the index wants its periodic write (for example 2000 records
  // since the last flush, or a generation that must roll over).
  virtual bool WantsFlush() const = 0;

  // Writes everything held in memory to the index files and syncs them.
  // False on an I/O failure; the index stays usable in memory and the table
  // keeps its marker, so the next open rebuilds.
  virtual bool Flush() = 0;

  // Records the index has taken so far (its base plus what was added); at
  // open the table compares it with its own record count.
  virtual uint32_t RecordCount() const = 0;

  // True once a read found the index's stored files damaged. The index has
  // then already left the marker (so a crash still leads to a rebuild at the
  // next open); the table rebuilds it from the records at its next index
  // write, or keeps the marker when it closes first. May be called by the
  // writer while readers set it.
  virtual bool damaged() const { return false; }
};

// Creates the index of one field from its FieldIndexSpec, opening existing files or
// creating empty ones. Returns null when the files cannot be opened; the
// table then runs without that index (and logs it).
using FieldIndexFactory =
    std::function<std::unique_ptr<FieldIndex>(const FieldIndexSpec&)>;

// Name of the marker file that says an index flush of the table is under way
// (in the table's index folder).
inline constexpr char kIndexWriteMarkerName[] = "IndexWrite.Busy";

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_FIELD_INDEX_H_
