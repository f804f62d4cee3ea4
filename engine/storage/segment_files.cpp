#include "engine/storage/segment_files.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <set>

#include "engine/storage/allocation.h"
#include "engine/storage/segment_format.h"
#include "engine/storage/segment_header.h"
#include "engine/storage/storage_files.h"
#include "engine/storage/value_codec.h"
#include "platform/error_log.h"
#include "platform/kill_point.h"
#include "platform/paths.h"
#include "platform/uuid.h"

namespace lun {
namespace {

namespace sf = segment_format;

// Parses "{name}.S{k}" / "{name}.R{k}"; -1 when `file` is not one.
int SegmentNumberOf(std::string_view file, std::string_view table, char kind) {
  if (file.size() <= table.size() + 2 || file.substr(0, table.size()) != table) return -1;
  if (file[table.size()] != '.' || file[table.size() + 1] != kind) return -1;
  const std::string_view digits = file.substr(table.size() + 2);
  if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits[0] == '0')) return -1;
  int k = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), k);
  if (ec != std::errc() || end != digits.data() + digits.size()) return -1;
  return k;
}

bool Gone(int rc) { return rc == 0 || rc == ENOENT; }

}  // namespace

std::string SegmentFiles::DataPath(int k) const {
  return JoinPath(folder_, table_ + ".S" + std::to_string(k));
}

std::string SegmentFiles::OffsetPath(int k) const {
  return JoinPath(folder_, table_ + ".R" + std::to_string(k));
}

EngineStatus SegmentFiles::Open(const std::string& folder, const std::string& table,
                                const std::vector<int>& field_types) {
  Close();
  folder_ = folder;
  table_ = table;
  RepairNumbering();
  if (EngineStatus s = OpenSegments(); !s) return s;
  CutUncommittedTail(field_types);
  return EngineStatus::Ok();
}

void SegmentFiles::Close() {
  segments_.clear();  // the holders close the files
  record_count_ = 0;
}

// Segment files are renamed one by one when a segment is dropped, and a new
// segment's data file exists for a moment before its offset file. A crash in
// either leaves a gap or a lone file; without repair the scan would stop at
// the gap, and the next roll-over would truncate the hidden segments after
// it. So the renumbering is completed and lone files at the gap (which hold
// no committed record) are removed.
void SegmentFiles::RepairNumbering() {
  std::set<int> data_files, offset_files;
  for (const std::string& file : ListFiles(folder_)) {
    if (const int k = SegmentNumberOf(file, table_, 'S'); k >= 0) data_files.insert(k);
    if (const int k = SegmentNumberOf(file, table_, 'R'); k >= 0) offset_files.insert(k);
  }
  auto pair_at = [&](int k) { return data_files.count(k) && offset_files.count(k); };
  for (int k = 0;; ++k) {
    if (pair_at(k)) continue;
    // A drop cut between the two renames of segment k + 1 left its data file
    // at k and its offset file still at k + 1: the rename is completed (the
    // rule below would take the data file for a lone one and remove it).
    if (data_files.count(k) && offset_files.count(k + 1) && !data_files.count(k + 1)) {
      if (fs_.Rename(OffsetPath(k + 1), OffsetPath(k)) != 0) return;
      offset_files.erase(k + 1);
      offset_files.insert(k);
      continue;
    }
    int next = -1;
    for (int j : data_files) {
      if (j > k && offset_files.count(j)) {
        next = j;
        break;
      }
    }
    if (data_files.erase(k)) (void)fs_.Unlink(DataPath(k));
    if (offset_files.erase(k)) (void)fs_.Unlink(OffsetPath(k));
    if (next < 0) return;
    if (fs_.Rename(DataPath(next), DataPath(k)) != 0 ||
        fs_.Rename(OffsetPath(next), OffsetPath(k)) != 0) {
      return;  // the scan stops at the gap; nothing is overwritten
    }
    data_files.erase(next);
    offset_files.erase(next);
    data_files.insert(k);
    offset_files.insert(k);
  }
}

void SegmentFiles::QuarantineFrom(int k) {
  for (int j = k;; ++j) {
    const std::string data = DataPath(j), offsets = OffsetPath(j);
    const bool has_data = PathExists(data), has_offsets = PathExists(offsets);
    if (!has_data && !has_offsets) return;
    const std::string suffix = ".bad-" + NewUuidText();
    if (has_data) (void)fs_.Rename(data, data + suffix);
    if (has_offsets) (void)fs_.Rename(offsets, offsets + suffix);
  }
}

EngineStatus SegmentFiles::OpenSegments() {
  for (int k = 0;; ++k) {
    const std::string data_path = DataPath(k), offset_path = OffsetPath(k);
    if (!PathExists(data_path) || !PathExists(offset_path)) break;
    Segment seg;
    if (seg.data.Open(fs_, data_path, O_RDWR, 0) != 0) {
      AppendEngineErrorLog(msg::kCannotOpenFile + data_path);
      break;
    }
    unsigned char header[sf::kHeaderReadSize] = {};
    size_t got = 0;
    (void)ReadFully(fs_, seg.data.get(), header, sizeof(header), 0, &got);
    if (const char* problem = SegmentHeaderProblem(header, got)) {
      seg.data.Close();
      AppendEngineErrorLog(std::string(msg::kCannotVerifyFile) + data_path + problem);
      // Later segments stay hidden, as the header check demands; moving them
      // aside keeps a later roll-over from overwriting them.
      QuarantineFrom(k);
      break;
    }
    uint64_t offsets_size = 0;
    if (seg.offsets.Open(fs_, offset_path, O_RDWR, 0) != 0 ||
        fs_.Size(seg.data.get(), &seg.data_size) != 0 ||
        fs_.Size(seg.offsets.get(), &offsets_size) != 0) {
      return EngineStatus::Fail(msg::kCannotOpenOffsets);
    }
    // A partial entry was never acknowledged: its record is not committed.
    if (offsets_size % sf::kOffsetEntrySize != 0) {
      offsets_size -= offsets_size % sf::kOffsetEntrySize;
      (void)fs_.Truncate(seg.offsets.get(), offsets_size);
    }
    const uint64_t count = offsets_size / sf::kOffsetEntrySize;
    seg.count = static_cast<uint32_t>(std::min<uint64_t>(count, kRecordNumberLimit));
    segments_.push_back(std::move(seg));
  }
  uint64_t total = 0;
  for (const Segment& s : segments_) total += s.count;
  record_count_ = static_cast<uint32_t>(std::min<uint64_t>(total, kRecordNumberLimit));
  return EngineStatus::Ok();
}

// A crash between a record's body and its offset entry leaves bytes after the
// last committed record. They are cut off so that the last record's length
// (the distance to the end of the file) is exactly its body again, and the
// next append starts where a clean run would have. Offset entries that point
// outside the data file or backwards (possible only after power loss or
// damage at rest) are dropped from the end first.
void SegmentFiles::CutUncommittedTail(const std::vector<int>& field_types) {
  if (segments_.empty()) return;
  Segment& s = segments_.back();
  uint64_t last = sf::kHeaderSize;
  while (s.count > 0) {
    unsigned char entries[16];
    const uint32_t n = s.count >= 2 ? 2 : 1;
    const uint64_t at = uint64_t{s.count - n} * sf::kOffsetEntrySize;
    if (ReadFully(fs_, s.offsets.get(), entries, n * 8, at) != 0) break;
    last = DecodeFixed64(entries + (n - 1) * 8);
    const uint64_t previous = n == 2 ? DecodeFixed64(entries) : sf::kHeaderSize;
    if (last >= sf::kHeaderSize && last <= s.data_size && last >= previous) break;
    --s.count;
    --record_count_;
    (void)fs_.Truncate(s.offsets.get(), uint64_t{s.count} * sf::kOffsetEntrySize);
    last = sf::kHeaderSize;
  }
  uint64_t end = sf::kHeaderSize;
  if (s.count > 0) {
    std::string body;
    if (s.data_size - last > (uint64_t{1} << 31) || !ResizeWithRetry(body, s.data_size - last) ||
        ReadFully(fs_, s.data.get(), body.data(), body.size(), last) != 0) {
      return;  // cannot tell where the record ends: leave the file as it is
    }
    size_t pos = 0;
    for (int type : field_types) {
      ValueExtent e;
      if (!LocateValue(type, body, pos, &e)) break;
      pos = e.end;
    }
    end = last + pos;
  }
  if (end < s.data_size && fs_.Truncate(s.data.get(), end) == 0) s.data_size = end;
}

EngineStatus SegmentFiles::Rescan() {
  segments_.clear();
  RepairNumbering();
  return OpenSegments();
}

std::vector<SegmentInfo> SegmentFiles::Info() const {
  std::vector<SegmentInfo> out;
  for (const Segment& s : segments_) out.push_back({s.count, s.data_size});
  return out;
}

bool SegmentFiles::dirty() const {
  return std::any_of(segments_.begin(), segments_.end(), [](const Segment& s) { return s.dirty; });
}

// ---------------------------------------------------------------- appending

EngineStatus SegmentFiles::StartSegment() {
  const int k = static_cast<int>(segments_.size());
  Segment seg;
  const std::string data_path = DataPath(k), offset_path = OffsetPath(k);
  if (const int rc = seg.data.Open(fs_, data_path, O_RDWR | O_CREAT | O_TRUNC, 0644)) {
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, data_path, rc));
  }
  const std::string header = BuildSegmentHeader(LocalTimeStamp());
  // The header is complete before the offset file exists, so a segment that
  // the scan sees (both files present) never has a torn header.
  if (const int rc = WriteFully(fs_, seg.data.get(), header.data(), header.size(), 0)) {
    seg.data.Close();
    (void)fs_.Unlink(data_path);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, data_path, rc));
  }
  LUN_KILL_POINT("segment-roll-data-created");
  if (const int rc = seg.offsets.Open(fs_, offset_path, O_RDWR | O_CREAT | O_TRUNC, 0644)) {
    seg.data.Close();
    (void)fs_.Unlink(data_path);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, offset_path, rc));
  }
  LUN_KILL_POINT("segment-roll-offsets-created");
  seg.data_size = sf::kHeaderSize;
  seg.dirty = true;
  segments_.push_back(std::move(seg));
  return EngineStatus::Ok();
}

EngineStatus SegmentFiles::Append(std::string_view body) {
  if (record_count_ >= kRecordNumberLimit) {
    return EngineStatus::Fail("数据表记录数已达上限:" + table_);
  }
  if (segments_.empty() || segments_.back().count >= record_limit_) {
    if (EngineStatus s = StartSegment(); !s) return s;
    EngineStatus status = AppendToLast(body);
    // A segment started for a record that failed goes again: a failed
    // append leaves the files as they were.
    if (!status) RemoveLast();
    return status;
  }
  return AppendToLast(body);
}

void SegmentFiles::RemoveLast() {
  const int k = static_cast<int>(segments_.size()) - 1;
  segments_.pop_back();
  if (fs_.Unlink(OffsetPath(k)) == 0) (void)fs_.Unlink(DataPath(k));
}

EngineStatus SegmentFiles::AppendToLast(std::string_view body) {
  Segment& s = segments_.back();
  const uint64_t offset = s.data_size;
  const int k = static_cast<int>(segments_.size() - 1);
  if (const int rc = WriteFully(fs_, s.data.get(), body.data(), body.size(), offset)) {
    (void)fs_.Truncate(s.data.get(), offset);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, DataPath(k), rc));
  }
  LUN_KILL_POINT("record-body-written");
  char entry[sf::kOffsetEntrySize];
  EncodeFixed64(entry, offset);
  const uint64_t entry_at = uint64_t{s.count} * sf::kOffsetEntrySize;
  // The entry is the commit point. A failed entry write must not be
  // reported as a stored record, and must not leave part of an entry behind.
  if (const int rc = WriteFully(fs_, s.offsets.get(), entry, sizeof(entry), entry_at)) {
    (void)fs_.Truncate(s.offsets.get(), entry_at);
    (void)fs_.Truncate(s.data.get(), offset);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, OffsetPath(k), rc));
  }
  LUN_KILL_POINT("record-offset-written");
  s.data_size = offset + body.size();
  s.dirty = true;
  ++s.count;
  ++record_count_;
  return EngineStatus::Ok();
}

bool SegmentFiles::Sync() {
  bool ok = true;
  for (Segment& s : segments_) {
    if (!s.dirty) continue;
    if (fs_.Sync(s.data.get()) != 0 || fs_.Sync(s.offsets.get()) != 0) {
      ok = false;
    } else {
      s.dirty = false;
    }
  }
  return ok;
}

// ---------------------------------------------------------------- reading

bool SegmentFiles::Locate(uint32_t record, BodySpan* span) const {
  if (record >= record_count_) return false;
  uint32_t local = record;
  size_t k = 0;
  while (k < segments_.size() && local >= segments_[k].count) local -= segments_[k++].count;
  if (k == segments_.size()) return false;
  const Segment& s = segments_[k];
  unsigned char entries[16];
  const bool last = local + 1 >= s.count;
  if (ReadFully(fs_, s.offsets.get(), entries, last ? 8 : 16,
                uint64_t{local} * sf::kOffsetEntrySize) != 0) {
    return false;
  }
  span->segment = k;
  span->begin = DecodeFixed64(entries);
  span->end = last ? s.data_size : DecodeFixed64(entries + 8);
  return span->begin >= sf::kHeaderSize && span->begin <= span->end && span->end <= s.data_size;
}

int SegmentFiles::ReadAt(const BodySpan& span, uint64_t offset, void* buf, size_t n) const {
  return ReadFully(fs_, segments_[span.segment].data.get(), buf, n, offset);
}

bool SegmentFiles::ReadBody(uint32_t record, std::string* body) const {
  BodySpan span;
  if (!Locate(record, &span)) return false;
  if (!ResizeWithRetry(*body, static_cast<size_t>(span.end - span.begin))) return false;
  return body->empty() || ReadAt(span, span.begin, body->data(), body->size()) == 0;
}

// ---------------------------------------------------------------- removing

EngineStatus SegmentFiles::Drop(int k) {
  const int count = static_cast<int>(segments_.size());
  if (k < 0 || k >= count) return EngineStatus::FailQuietly();
  segments_.clear();
  int rc = fs_.Unlink(OffsetPath(k));
  if (Gone(rc)) rc = fs_.Unlink(DataPath(k));
  LUN_KILL_POINT("segment-drop-removed");
  for (int j = k + 1; Gone(rc) && j < count; ++j) {
    rc = fs_.Rename(DataPath(j), DataPath(j - 1));
    if (rc == 0) rc = fs_.Rename(OffsetPath(j), OffsetPath(j - 1));
    LUN_KILL_POINT("segment-drop-renamed");
  }
  EngineStatus status = EngineStatus::Ok();
  if (!Gone(rc)) status = EngineStatus::Fail(IoMessage("", DataPath(k), rc));
  if (EngineStatus s = Rescan(); !s && status) status = s;
  return status;
}

EngineStatus SegmentFiles::RemoveAll() {
  const int count = static_cast<int>(segments_.size());
  segments_.clear();
  EngineStatus status = EngineStatus::Ok();
  for (int k = count - 1; k >= 0; --k) {
    int rc = fs_.Unlink(OffsetPath(k));
    if (Gone(rc)) rc = fs_.Unlink(DataPath(k));
    if (!Gone(rc) && status) status = EngineStatus::Fail(IoMessage("", DataPath(k), rc));
    LUN_KILL_POINT("clear-segment-removed");
  }
  if (EngineStatus s = Rescan(); !s && status) status = s;
  return status;
}

}  // namespace lun
