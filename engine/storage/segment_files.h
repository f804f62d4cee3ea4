// SegmentFiles: the record files of one table, segment by segment.
//
// Segment k of table {T} is the pair {T}.S{k} (header and record bodies)
// and {T}.R{k} (one offset entry per record); segment_format.h gives their
// bytes and record_format.h a body's. Records are numbered from 0 across
// the segments in order; a segment takes records until it holds
// `record_limit`, then the next one is started.
//
// Commit contract: Append writes a record's body, then its offset entry;
// the entry is the commit point. A failed Append leaves the files and the
// counts exactly as they were. Sync makes what was appended durable.
//
// Repair contract (Open): what a crash or damage at rest can leave is put
// right before any record is read:
//   * a gap in the numbering left by an interrupted drop is closed by
//     completing the renumbering; lone files at the gap (a segment being
//     started) hold nothing committed and are removed;
//   * a segment whose header is damaged is hidden with every later one:
//     they are renamed "{T}.S{k}.bad-{uuid}" / "{T}.R{k}.bad-{uuid}", so
//     that new records never overwrite them;
//   * a torn offset entry is cut, and so are offset entries pointing
//     outside the data file or backwards at the end of the last segment;
//   * bytes after the last committed body (a body whose entry was never
//     written) are cut, so the next append starts where a clean run would.
//
// Thread safety: none. The table serialises every call (its data lock).
#ifndef LUN_ENGINE_STORAGE_SEGMENT_FILES_H_
#define LUN_ENGINE_STORAGE_SEGMENT_FILES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/engine_error.h"
#include "platform/file_system.h"

namespace lun {

// Sizes of one segment, for lundb stat and check.
struct SegmentInfo {
  uint32_t records = 0;
  uint64_t data_bytes = 0;
};

// Where a record's body lies: bytes [begin, end) of its segment's data
// file.
struct BodySpan {
  size_t segment = 0;
  uint64_t begin = 0;
  uint64_t end = 0;
};

class SegmentFiles {
 public:
  // The highest record number a table accepts is one below this.
  static constexpr uint32_t kRecordNumberLimit = 0xFFFFFFF0u;

  SegmentFiles(FileSystem& fs, uint32_t record_limit) : fs_(fs), record_limit_(record_limit) {}
  SegmentFiles(const SegmentFiles&) = delete;
  SegmentFiles& operator=(const SegmentFiles&) = delete;

  // Repairs and opens the segments of table `table` in `folder`.
  // `field_types` are the types of the table's fields in order (they tell
  // where the last body ends). Fails only when an intact segment's files
  // cannot be opened; the segments opened so far stay open.
  EngineStatus Open(const std::string& folder, const std::string& table,
                    const std::vector<int>& field_types);
  void Close();

  std::string DataPath(int k) const;
  std::string OffsetPath(int k) const;

  // Records stored, the next record number.
  uint32_t record_count() const { return record_count_; }
  int segment_count() const { return static_cast<int>(segments_.size()); }
  std::vector<SegmentInfo> Info() const;
  // Records appended since the last Sync.
  bool dirty() const;

  // Appends a record body (starting a segment when the last one is full).
  // Fails when the table is full (kRecordNumberLimit) or on an I/O error.
  EngineStatus Append(std::string_view body);

  // The span of `record`'s body; false when the record does not exist or
  // its offsets are out of bounds.
  bool Locate(uint32_t record, BodySpan* span) const;
  // Reads `n` bytes at `offset` of the data file of `span`'s segment: 0 or
  // an errno value.
  int ReadAt(const BodySpan& span, uint64_t offset, void* buf, size_t n) const;
  // The whole body of `record`.
  bool ReadBody(uint32_t record, std::string* body) const;

  // Syncs the files written since the last sync; false when one fails.
  bool Sync();

  // Removes segment k; the later segments take its number and the one
  // after. The offset file goes first, so a crash part-way leaves a data
  // file without entries, which the next open removes.
  EngineStatus Drop(int k);
  // Removes every segment, from the last to the first.
  EngineStatus RemoveAll();

 private:
  struct Segment {
    ScopedFd data;
    ScopedFd offsets;
    uint32_t count = 0;
    uint64_t data_size = 0;
    bool dirty = false;  // written since the last sync
  };

  void RepairNumbering();
  void QuarantineFrom(int k);
  EngineStatus OpenSegments();
  void CutUncommittedTail(const std::vector<int>& field_types);
  // Closes the files, repairs the numbering and opens the segments again.
  EngineStatus Rescan();
  EngineStatus StartSegment();
  // Removes the last segment, which holds no record.
  void RemoveLast();
  EngineStatus AppendToLast(std::string_view body);

  FileSystem& fs_;
  const uint32_t record_limit_;
  std::string folder_;
  std::string table_;
  std::vector<Segment> segments_;
  uint32_t record_count_ = 0;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_SEGMENT_FILES_H_
