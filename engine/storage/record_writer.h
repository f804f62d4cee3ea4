// RecordWriter: one record being built for appending to a table.
//
// DataTable::NewRecord() hands one out; SetValue fills fields, Commit
// appends the record. Fields not set store Empty (zeros, or a length of 0).
// A writer destroyed or moved from without a successful Commit appends
// nothing: no lock or file is held while it is filled, so dropping it is
// the whole of cancelling.
//
// Commit encodes the values (and compresses the text) before it takes the
// table's write lock, so that other appenders and searches wait only for
// the file writes and the index updates, never for compression. A field
// added between NewRecord and Commit can be set, or stores Empty like any
// field not set.
//
// Thread safety: a writer belongs to one thread; writers of one table may
// be filled and committed on several threads at once (the table
// serialises the appends). The table must outlive its writers.
#ifndef LUN_ENGINE_STORAGE_RECORD_WRITER_H_
#define LUN_ENGINE_STORAGE_RECORD_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/variant.h"
#include "engine/storage/engine_error.h"

namespace lun {

class DataTable;

class RecordWriter {
 public:
  // A writer of no table (not valid()), to be assigned one.
  RecordWriter() = default;
  RecordWriter(RecordWriter&& other) noexcept
      : table_(std::exchange(other.table_, nullptr)),
        values_(std::move(other.values_)),
        prepared_(std::exchange(other.prepared_, false)),
        body_(std::move(other.body_)),
        stored_(std::move(other.stored_)) {}
  RecordWriter& operator=(RecordWriter&& other) noexcept {
    table_ = std::exchange(other.table_, nullptr);
    values_ = std::move(other.values_);
    prepared_ = std::exchange(other.prepared_, false);
    body_ = std::move(other.body_);
    stored_ = std::move(other.stored_);
    return *this;
  }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;
  ~RecordWriter() = default;  // cancels: nothing was appended

  // False when the table was not open when the writer was made; such a
  // writer takes no values and commits nothing.
  bool valid() const { return table_ != nullptr; }

  // Sets the value of the field named `field_name` (ASCII case ignored);
  // false when the table has no such field.
  bool SetValue(std::string_view field_name, Variant value);
  // Sets the value of the field at `position`; false when out of range.
  bool SetValueAt(int position, Variant value);

  // Encodes the values now (the text compressed), so that Commit only
  // appends: a loader can prepare the next record on one thread while
  // another commits. Fails as Commit does when a value cannot be converted
  // (the values stay, to be corrected). Setting a value afterwards undoes
  // it; Commit prepares a writer that is not prepared.
  EngineStatus Prepare();

  // Appends the record and gives its number in `*record` (when given). Fails
  // when a value cannot be converted to its field's type, when the table is
  // full or closed, or on an I/O error; a failed commit leaves the table's
  // files and counts as they were. The writer is empty afterwards either
  // way.
  EngineStatus Commit(uint32_t* record = nullptr);

 private:
  friend class DataTable;
  explicit RecordWriter(DataTable* table, size_t fields) : table_(table), values_(fields) {}

  DataTable* table_ = nullptr;
  std::vector<Variant> values_;  // by field position
  bool prepared_ = false;
  std::string body_;             // the encoded record, once prepared
  std::vector<Variant> stored_;  // what the indexes get, once prepared
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_RECORD_WRITER_H_
