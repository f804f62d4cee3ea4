#include "engine/storage/data_table.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <map>
#include <set>

#include "config/settings_store.h"
#include "engine/storage/allocation.h"
#include "engine/storage/deletion_format.h"
#include "engine/storage/field_def_format.h"
#include "engine/storage/field_definition.h"
#include "engine/storage/name_rules.h"
#include "engine/storage/segment_format.h"
#include "engine/storage/segment_header.h"
#include "engine/storage/storage_files.h"
#include "engine/storage/value_codec.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/paths.h"
#include "platform/uuid.h"

namespace lun {
namespace {

namespace sf = segment_format;
namespace fd = field_def_format;

constexpr char kAnyFieldKey[] = "任意字段";
// How much of a record body ReadStoredValue reads at once to find a field.
constexpr size_t kFieldWalkBytes = 4096;

std::string IoMessage(std::string_view what, const std::string& path, int error) {
  return std::string(what) + path + ":" + ErrorText(error);
}

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

}  // namespace

DataTable::DataTable(const TableEnvironment& env)
    : env_(env), fs_(env.file_system ? *env.file_system : DefaultFileSystem()) {}

DataTable::~DataTable() { Close(); }

std::string DataTable::SchemaPath() const { return JoinPath(data_folder_, name_ + ".stu"); }
std::string DataTable::DataPath(int k) const {
  return JoinPath(data_folder_, name_ + ".S" + std::to_string(k));
}
std::string DataTable::OffsetPath(int k) const {
  return JoinPath(data_folder_, name_ + ".R" + std::to_string(k));
}
std::string DataTable::DeletionPath() const { return JoinPath(data_folder_, name_ + ".Del"); }
std::string DataTable::IndexMarkerPath() const {
  return JoinPath(index_folder_, kIndexWriteMarkerName);
}

// ---------------------------------------------------------------- opening

EngineStatus DataTable::Open(std::string_view name, std::string_view description,
                             const std::string& data_root, const std::string& index_root,
                             int position) {
  Close();
  name_ = name;
  description_ = description;
  position_ = position;
  data_folder_ = JoinPath(data_root, name_);
  index_folder_ = JoinPath(index_root, name_);
  (void)MakeFolders(fs_, data_folder_);
  (void)MakeFolders(fs_, index_folder_);
  EngineStatus status = OpenStorage();
  if (!status) {
    CloseSegmentFiles();
    return status;
  }
  ReadAnyFields();
  RecoverIndexes();
  open_ = true;
  return EngineStatus::Ok();
}

EngineStatus DataTable::OpenStorage() {
  if (EngineStatus s = LoadFieldDefinitions(); !s) return s;
  RepairSegmentNumbering();
  if (EngineStatus s = OpenSegments(); !s) return s;
  CutUncommittedTail();
  if (EngineStatus s = LoadDeletions(); !s) return s;
  BuildFields();
  return EngineStatus::Ok();
}

EngineStatus DataTable::LoadFieldDefinitions() {
  if (schema_fd_ < 0) {
    if (fs_.Open(SchemaPath(), O_RDWR | O_CREAT, 0644, &schema_fd_) != 0) {
      schema_fd_ = -1;
      return EngineStatus::Fail(msg::kCannotOpenSchema);
    }
  }
  uint64_t size = 0;
  if (fs_.Size(schema_fd_, &size) != 0) return EngineStatus::Fail(msg::kCannotOpenSchema);
  std::string data;
  if (!ResizeWithRetry(data, static_cast<size_t>(size - size % fd::kRecordSize))) {
    return EngineStatus::Fail(msg::kOutOfMemory);
  }
  if (!data.empty() && ReadFully(fs_, schema_fd_, data.data(), data.size(), 0) != 0) {
    return EngineStatus::Fail(msg::kCannotOpenSchema);
  }
  definitions_ = ParseFieldDefinitions(data);
  return EngineStatus::Ok();
}

void DataTable::BuildFields() {
  fields_.clear();
  for (size_t i = 0; i < definitions_.size(); ++i) {
    if (definitions_[i].disabled == 0) AppendField(static_cast<int>(i));
  }
}

TableField* DataTable::AppendField(int definition_number) {
  const FieldDefinition& d = definitions_[static_cast<size_t>(definition_number)];
  auto f = std::make_unique<TableField>();
  f->name = d.name;
  f->type_word = d.type_word;
  f->type = d.type();
  f->index_kind = d.index_kind;
  f->position = static_cast<int>(fields_.size());
  f->definition_number = definition_number;
  fields_.push_back(std::move(f));
  return fields_.back().get();
}

// Segment files are renamed one by one when a segment is dropped, and a new
// segment's data file exists for a moment before its offset file. A crash in
// either leaves a gap or a lone file; without repair the scan would stop at
// the gap, and the next roll-over would truncate the hidden segments after
// it. So the renumbering is completed and lone files at the gap (which hold
// no committed record) are removed.
void DataTable::RepairSegmentNumbering() {
  std::set<int> data_files, offset_files;
  for (const std::string& file : ListFiles(data_folder_)) {
    if (const int k = SegmentNumberOf(file, name_, 'S'); k >= 0) data_files.insert(k);
    if (const int k = SegmentNumberOf(file, name_, 'R'); k >= 0) offset_files.insert(k);
  }
  auto pair_at = [&](int k) { return data_files.count(k) && offset_files.count(k); };
  for (int k = 0;; ++k) {
    if (pair_at(k)) continue;
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
      return;  // the scan below stops at the gap; nothing is overwritten
    }
    data_files.erase(next);
    offset_files.erase(next);
    data_files.insert(k);
    offset_files.insert(k);
  }
}

void DataTable::QuarantineSegmentsFrom(int k) {
  for (int j = k;; ++j) {
    const std::string data = DataPath(j), offsets = OffsetPath(j);
    const bool has_data = PathExists(data), has_offsets = PathExists(offsets);
    if (!has_data && !has_offsets) return;
    const std::string suffix = ".bad-" + NewUuidText();
    if (has_data) (void)fs_.Rename(data, data + suffix);
    if (has_offsets) (void)fs_.Rename(offsets, offsets + suffix);
  }
}

EngineStatus DataTable::OpenSegments() {
  for (int k = 0;; ++k) {
    const std::string data_path = DataPath(k), offset_path = OffsetPath(k);
    if (!PathExists(data_path) || !PathExists(offset_path)) break;
    Segment seg;
    if (fs_.Open(data_path, O_RDWR, 0, &seg.data_fd) != 0) {
      AppendEngineErrorLog(msg::kCannotOpenFile + data_path);
      break;
    }
    unsigned char header[sf::kHeaderReadSize] = {};
    size_t got = 0;
    (void)ReadFully(fs_, seg.data_fd, header, sizeof(header), 0, &got);
    const char* problem = SegmentHeaderProblem(header, got);
    if (problem) {
      (void)fs_.Close(seg.data_fd);
      AppendEngineErrorLog(std::string(msg::kCannotVerifyFile) + data_path + problem);
      // Later segments stay hidden, as the header check demands; moving them
      // aside keeps a later roll-over from overwriting them.
      QuarantineSegmentsFrom(k);
      break;
    }
    if (fs_.Open(offset_path, O_RDWR, 0, &seg.offset_fd) != 0) {
      (void)fs_.Close(seg.data_fd);
      return EngineStatus::Fail(msg::kCannotOpenOffsets);
    }
    uint64_t offsets_size = 0;
    if (fs_.Size(seg.data_fd, &seg.data_size) != 0 || fs_.Size(seg.offset_fd, &offsets_size) != 0) {
      (void)fs_.Close(seg.data_fd);
      (void)fs_.Close(seg.offset_fd);
      return EngineStatus::Fail(msg::kCannotOpenOffsets);
    }
    // A partial entry was never acknowledged: its record is not committed.
    if (offsets_size % sf::kOffsetEntrySize != 0) {
      offsets_size -= offsets_size % sf::kOffsetEntrySize;
      (void)fs_.Truncate(seg.offset_fd, offsets_size);
    }
    const uint64_t count = offsets_size / sf::kOffsetEntrySize;
    seg.count = static_cast<uint32_t>(std::min<uint64_t>(count, kRecordNumberLimit));
    segments_.push_back(seg);
  }
  uint64_t total = 0;
  for (const Segment& s : segments_) total += s.count;
  next_record_ = static_cast<uint32_t>(std::min<uint64_t>(total, kRecordNumberLimit));
  return EngineStatus::Ok();
}

// A crash between a record's body and its offset entry leaves bytes after the
// last committed record. They are cut off so that the last record's length
// (the distance to the end of the file) is exactly its body again, and the
// next append starts where a clean run would have. Offset entries that point
// outside the data file or backwards (possible only after power loss or
// damage at rest) are dropped from the end first.
void DataTable::CutUncommittedTail() {
  if (segments_.empty()) return;
  Segment& s = segments_.back();
  uint64_t last = sf::kHeaderSize;
  while (s.count > 0) {
    unsigned char entries[16];
    const uint32_t n = s.count >= 2 ? 2 : 1;
    const uint64_t at = uint64_t{s.count - n} * sf::kOffsetEntrySize;
    if (ReadFully(fs_, s.offset_fd, entries, n * 8, at) != 0) break;
    last = DecodeFixed64(entries + (n - 1) * 8);
    const uint64_t previous = n == 2 ? DecodeFixed64(entries) : sf::kHeaderSize;
    if (last >= sf::kHeaderSize && last <= s.data_size && last >= previous) break;
    --s.count;
    --next_record_;
    (void)fs_.Truncate(s.offset_fd, uint64_t{s.count} * sf::kOffsetEntrySize);
    last = sf::kHeaderSize;
  }
  uint64_t end = sf::kHeaderSize;
  if (s.count > 0) {
    std::string body;
    if (s.data_size - last > (uint64_t{1} << 31) || !ResizeWithRetry(body, s.data_size - last) ||
        ReadFully(fs_, s.data_fd, body.data(), body.size(), last) != 0) {
      return;  // cannot tell where the record ends: leave the file as it is
    }
    size_t pos = 0;
    for (const FieldDefinition& d : definitions_) {
      if (d.disabled != 0) continue;
      ValueExtent e;
      if (!LocateValue(d.type(), body, pos, &e)) break;
      pos = e.end;
    }
    end = last + pos;
  }
  if (end < s.data_size && fs_.Truncate(s.data_fd, end) == 0) s.data_size = end;
}

EngineStatus DataTable::LoadDeletions() {
  deleted_.clear();
  deletion_file_size_ = 0;
  std::string data;
  const int rc = ReadWholeFile(fs_, DeletionPath(), &data);
  if (rc == ENOENT) {
    live_count_ = next_record_;
    return EngineStatus::Ok();
  }
  if (rc != 0) {
    AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, DeletionPath(), rc));
  }
  const size_t count = data.size() / deletion_format::kEntrySize;
  bool out_of_range = false;
  if (!ReserveWithRetry(deleted_, count + 1000)) return EngineStatus::Fail(msg::kOutOfMemory);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t n = DecodeFixed32(data.data() + i * deletion_format::kEntrySize);
    if (n < next_record_) {
      deleted_.push_back(n);
    } else {
      out_of_range = true;
    }
  }
  std::sort(deleted_.begin(), deleted_.end());
  deleted_.erase(std::unique(deleted_.begin(), deleted_.end()), deleted_.end());
  live_count_ = next_record_ - static_cast<uint32_t>(deleted_.size());
  deletion_file_size_ = count * deletion_format::kEntrySize;
  if (out_of_range) {
    // Numbers beyond the table would delete records appended later.
    (void)RewriteDeletionFile();
  } else if (data.size() % deletion_format::kEntrySize != 0) {
    // A partial entry would shift every later one by its length.
    int fd = -1;
    if (fs_.Open(DeletionPath(), O_RDWR, 0, &fd) == 0) {
      (void)fs_.Truncate(fd, deletion_file_size_);
      (void)fs_.Close(fd);
    }
  }
  return EngineStatus::Ok();
}

void DataTable::ReadAnyFields() {
  any_fields_.clear();
  const std::string value =
      env_.settings ? env_.settings->GetValue(name_, kAnyFieldKey) : std::string();
  if (value.empty()) {
    for (const auto& f : fields_) {
      if (f->index_kind != kNoIndex) any_fields_.push_back(f->position);
    }
    return;
  }
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(';', start);
    if (end == std::string::npos) end = value.size();
    const std::string_view part(value.data() + start, end - start);
    if (!part.empty()) {
      if (const TableField* f = FindField(part)) any_fields_.push_back(f->position);
    }
    start = end + 1;
  }
}

void DataTable::CloseSegmentFiles() {
  for (Segment& s : segments_) {
    if (s.data_fd >= 0) (void)fs_.Close(s.data_fd);
    if (s.offset_fd >= 0) (void)fs_.Close(s.offset_fd);
  }
  segments_.clear();
  if (deletion_fd_ >= 0) {
    (void)fs_.Close(deletion_fd_);
    deletion_fd_ = -1;
  }
}

EngineStatus DataTable::RescanSegments() {
  CloseSegmentFiles();
  RepairSegmentNumbering();
  EngineStatus status = OpenSegments();
  // Deletions of records that no longer exist are forgotten.
  deleted_.erase(std::lower_bound(deleted_.begin(), deleted_.end(), next_record_), deleted_.end());
  live_count_ = next_record_ - static_cast<uint32_t>(deleted_.size());
  return status;
}

void DataTable::Close() {
  if (open_) {
    // A damaged index is rebuilt at the next open, not on the way out: its
    // marker stays. A session that changed nothing writes nothing.
    if (AnyIndexDamaged()) index_damaged_ = true;
    bool records_unsynced = false;
    {
      std::lock_guard<std::mutex> lock(data_mutex_);
      for (const Segment& s : segments_) records_unsynced = records_unsynced || s.dirty;
    }
    if (index_unflushed_ || records_unsynced || index_damaged_) (void)FlushIndexes();
    (void)FlushDeletions();
  }
  for (auto& f : fields_) f->index.reset();
  fields_.clear();
  any_fields_.clear();
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    CloseSegmentFiles();
    deleted_.clear();
    next_record_ = 0;
    live_count_ = 0;
  }
  if (schema_fd_ >= 0) {
    (void)fs_.Close(schema_fd_);
    schema_fd_ = -1;
  }
  definitions_.clear();
  open_ = false;
  editing_ = false;
  index_damaged_ = false;
}

// ---------------------------------------------------------------- fields

TableField* DataTable::FindField(std::string_view name) const {
  for (const auto& f : fields_) {
    if (EqualsIgnoringCase(f->name, name)) return f.get();
  }
  return nullptr;
}

TableField* DataTable::FieldAt(int position) const {
  if (position < 0 || position >= static_cast<int>(fields_.size())) return nullptr;
  return fields_[static_cast<size_t>(position)].get();
}

EngineStatus DataTable::AddField(std::string_view name, std::string_view aux_text,
                                 uint32_t type_word, IndexKind index_kind) {
  TableWriteHold hold(lock_);
  if (name.size() >= fd::kNameSize) return EngineStatus::Fail(msg::kFieldNameTooLong);
  if (index_folder_.size() + name.size() + 7 >= 259) {
    return EngineStatus::Fail(msg::kDataPathTooLong);
  }
  if (HasForbiddenNameChar(name)) return EngineStatus::Fail(msg::kFieldNameBadChar);
  if (!IsUsableFieldName(name)) return EngineStatus::Fail(msg::kFieldNameInvalid);
  if (FindField(name)) return EngineStatus::Fail(msg::kFieldExists);
  if (schema_fd_ < 0) return EngineStatus::Fail(msg::kCannotOpenSchema);

  const std::string record = BuildFieldDefinition(name, type_word, index_kind, aux_text);
  uint64_t size = 0;
  if (const int rc = fs_.Size(schema_fd_, &size)) {
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, SchemaPath(), rc));
  }
  // A trailing partial definition (a torn earlier write) is overwritten.
  const uint64_t at = size / fd::kRecordSize * fd::kRecordSize;
  int rc = WriteFully(fs_, schema_fd_, record.data(), record.size(), at);
  if (rc == 0) rc = fs_.Sync(schema_fd_);
  if (rc != 0) {
    (void)fs_.Truncate(schema_fd_, at);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, SchemaPath(), rc));
  }
  if (EngineStatus s = LoadFieldDefinitions(); !s) return s;
  TableField* added = AppendField(static_cast<int>(definitions_.size() - 1));
  if (env_.index_factory && added->index_kind != kNoIndex) {
    // Records already in the table are fed to the new index (they read as
    // Empty for the new field), so that its record numbers match the table's.
    CreateIndexes();
    CatchUpIndexes();
  }
  ReadAnyFields();
  return EngineStatus::Ok();
}

// ---------------------------------------------------------------- appending

bool DataTable::BeginRecord() {
  if (!open_) return false;
  lock_.WriteLock();
  editing_ = true;
  for (auto& f : fields_) f->value = Variant();
  return true;
}

bool DataTable::SetValue(std::string_view field_name, Variant value) {
  TableField* f = FindField(field_name);
  if (!f) return false;
  f->value = std::move(value);
  return true;
}

void DataTable::CancelRecord() {
  if (!editing_) return;
  editing_ = false;
  lock_.Unlock();
}

uint32_t DataTable::record_count() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return next_record_;
}

uint32_t DataTable::live_count() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return live_count_;
}

EngineStatus DataTable::StartSegment() {
  const int k = static_cast<int>(segments_.size());
  Segment seg;
  const std::string data_path = DataPath(k), offset_path = OffsetPath(k);
  if (const int rc = fs_.Open(data_path, O_RDWR | O_CREAT | O_TRUNC, 0644, &seg.data_fd)) {
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, data_path, rc));
  }
  const std::string header = BuildSegmentHeader(LocalTimeStamp());
  // The header is complete before the offset file exists, so a segment that
  // the scan sees (both files present) never has a torn header.
  if (const int rc = WriteFully(fs_, seg.data_fd, header.data(), header.size(), 0)) {
    (void)fs_.Close(seg.data_fd);
    (void)fs_.Unlink(data_path);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, data_path, rc));
  }
  LUN_KILL_POINT("segment-roll-data-created");
  if (const int rc = fs_.Open(offset_path, O_RDWR | O_CREAT | O_TRUNC, 0644, &seg.offset_fd)) {
    (void)fs_.Close(seg.data_fd);
    (void)fs_.Unlink(data_path);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, offset_path, rc));
  }
  LUN_KILL_POINT("segment-roll-offsets-created");
  seg.data_size = sf::kHeaderSize;
  seg.dirty = true;
  segments_.push_back(seg);
  return EngineStatus::Ok();
}

EngineStatus DataTable::AppendBody(const std::string& body) {
  Segment& s = segments_.back();
  const uint64_t offset = s.data_size;
  const int k = static_cast<int>(segments_.size() - 1);
  if (const int rc = WriteFully(fs_, s.data_fd, body.data(), body.size(), offset)) {
    (void)fs_.Truncate(s.data_fd, offset);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, DataPath(k), rc));
  }
  LUN_KILL_POINT("record-body-written");
  char entry[sf::kOffsetEntrySize];
  EncodeFixed64(entry, offset);
  const uint64_t entry_at = uint64_t{s.count} * sf::kOffsetEntrySize;
  // The entry is the commit point. A failed entry write must not be
  // reported as a stored record, and must not leave part of an entry behind.
  if (const int rc = WriteFully(fs_, s.offset_fd, entry, sizeof(entry), entry_at)) {
    (void)fs_.Truncate(s.offset_fd, entry_at);
    (void)fs_.Truncate(s.data_fd, offset);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, OffsetPath(k), rc));
  }
  LUN_KILL_POINT("record-offset-written");
  s.data_size = offset + body.size();
  s.dirty = true;
  ++s.count;
  ++next_record_;
  ++live_count_;
  return EngineStatus::Ok();
}

EngineStatus DataTable::CommitRecord() {
  if (!editing_) return EngineStatus::FailQuietly("CommitRecord without BeginRecord");
  editing_ = false;
  std::string body;
  std::vector<Variant> stored(fields_.size());
  EngineStatus status = EngineStatus::Ok();
  if (!ReserveWithRetry(body, 1024)) status = EngineStatus::FailQuietly(msg::kOutOfMemory);
  for (size_t i = 0; status && i < fields_.size(); ++i) {
    TableField& f = *fields_[i];
    if (EncodeFieldValue(f.type, f.value, &body, f.index ? &stored[i] : nullptr) != S_OK) {
      status = EngineStatus::Fail("字段值不能转换为字段类型:" + f.name);
    }
  }
  bool index_failed = false;
  if (status) {
    std::lock_guard<std::mutex> lock(data_mutex_);
    if (next_record_ >= kRecordNumberLimit) {
      status = EngineStatus::Fail("数据表记录数已达上限:" + name_);
    } else if (segments_.empty() || segments_.back().count >= env_.segment_record_limit) {
      status = StartSegment();
    }
    if (status) status = AppendBody(body);
    if (status) {
      const uint32_t record = next_record_ - 1;
      for (size_t i = 0; i < fields_.size(); ++i) {
        if (!fields_[i]->index) continue;
        index_unflushed_ = true;
        if (!fields_[i]->index->AddRecord(record, stored[i])) index_failed = true;
      }
    }
  }
  if (index_failed) MarkIndexDamaged();
  if (status) {
    bool due = false;
    for (const auto& f : fields_) due = due || (f->index && f->index->WantsFlush());
    if (due) (void)FlushIndexes();  // a failure keeps the marker: rebuilt at open
  }
  lock_.Unlock();
  return status;
}

// ---------------------------------------------------------------- reading

bool DataTable::LocateRecord(uint32_t record, size_t* segment, uint32_t* local) const {
  if (record >= next_record_) return false;
  uint32_t left = record;
  for (size_t k = 0; k < segments_.size(); ++k) {
    if (left < segments_[k].count) {
      *segment = k;
      *local = left;
      return true;
    }
    left -= segments_[k].count;
  }
  return false;
}

bool DataTable::RecordSpan(size_t segment, uint32_t local, uint64_t* offset, uint64_t* end) const {
  const Segment& s = segments_[segment];
  unsigned char entries[16];
  const bool last = local + 1 >= s.count;
  if (ReadFully(fs_, s.offset_fd, entries, last ? 8 : 16, uint64_t{local} * sf::kOffsetEntrySize) !=
      0) {
    return false;
  }
  *offset = DecodeFixed64(entries);
  *end = last ? s.data_size : DecodeFixed64(entries + 8);
  return *offset >= sf::kHeaderSize && *offset <= *end && *end <= s.data_size;
}

bool DataTable::FindRecord(uint32_t record, size_t* segment, uint64_t* offset,
                           uint64_t* end) const {
  uint32_t local;
  return LocateRecord(record, segment, &local) && RecordSpan(*segment, local, offset, end);
}

bool DataTable::ReadBody(uint32_t record, std::string* body) const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  size_t segment;
  uint64_t offset, end;
  if (!FindRecord(record, &segment, &offset, &end)) return false;
  if (!ResizeWithRetry(*body, static_cast<size_t>(end - offset))) return false;
  return body->empty() ||
         ReadFully(fs_, segments_[segment].data_fd, body->data(), body->size(), offset) == 0;
}

bool DataTable::ReadRecord(uint32_t record, std::vector<Variant>* values) const {
  values->assign(fields_.size(), Variant());
  std::string body;
  if (!ReadBody(record, &body)) return false;
  bool whole = true;
  size_t pos = 0;
  for (size_t i = 0; i < fields_.size(); ++i) {
    ValueExtent e;
    if (!LocateValue(fields_[i]->type, body, pos, &e)) {
      // A record that ends exactly here predates the later fields.
      whole = pos == body.size();
      break;
    }
    const std::string_view stored(body.data() + e.value_pos, e.value_size);
    if (!StoredValueToVariant(fields_[i]->type, stored, &(*values)[i])) whole = false;
    pos = e.end;
  }
  return whole;
}

// Reads only the length words in front of the wanted value and the value
// itself, so that a small field is read without the record's text.
bool DataTable::ReadStoredValue(uint32_t record, int position, std::string* stored) const {
  if (position < 0 || position >= static_cast<int>(fields_.size())) return false;
  std::lock_guard<std::mutex> lock(data_mutex_);
  size_t segment;
  uint64_t pos, end;
  if (!FindRecord(record, &segment, &pos, &end)) return false;
  const int fd = segments_[segment].data_fd;
  // The walk to the field reads the start of the body once: most values
  // before a wanted one are a few bytes (names, times, sizes), and a read
  // per length prefix cost a system call each, under the lock. Only what
  // reaches past this first read is read again from the file.
  char head[kFieldWalkBytes];
  const uint64_t start = pos;
  uint64_t head_size = std::min<uint64_t>(end - pos, sizeof head);
  // A body cut short by damage is walked from the file as far as it goes.
  if (head_size > 0 && ReadFully(fs_, fd, head, static_cast<size_t>(head_size), pos) != 0) {
    head_size = 0;
  }
  auto read = [&](void* out, uint64_t n, uint64_t at) {
    if (at + n <= start + head_size) {
      std::memcpy(out, head + (at - start), static_cast<size_t>(n));
      return true;
    }
    return ReadFully(fs_, fd, out, static_cast<size_t>(n), at) == 0;
  };
  for (int i = 0; i <= position; ++i) {
    const int type = fields_[static_cast<size_t>(i)]->type;
    uint64_t width = FixedWidth(type);
    if (IsLengthPrefixed(type)) {
      unsigned char n[4];
      if (end - pos < 4 || !read(n, 4, pos)) return false;
      pos += 4;
      width = DecodeFixed32(n);
    }
    if (end - pos < width) return false;
    if (i < position) {
      pos += width;
      continue;
    }
    if (!ResizeWithRetry(*stored, static_cast<size_t>(width))) return false;
    return width == 0 || read(stored->data(), width, pos);
  }
  return false;
}

bool DataTable::ReadFieldRaw(uint32_t record, int position, std::pmr::string* out) const {
  std::string stored, raw;
  if (!ReadStoredValue(record, position, &stored) || stored.empty()) return false;
  if (!RawFieldBytes(fields_[static_cast<size_t>(position)]->type, stored, &raw)) {
    AppendEngineErrorLog(msg::kReadRawException);
    return false;
  }
  return AllocateWithRetry([&] {
    out->assign(raw.data(), raw.size());
    return true;
  });
}

Variant DataTable::GetFieldValue(uint32_t record, int position) const {
  std::string stored;
  Variant value;
  if (!ReadStoredValue(record, position, &stored)) return value;
  if (stored.empty() && !IsLengthPrefixed(fields_[static_cast<size_t>(position)]->type)) {
    return value;  // a type that stores nothing
  }
  (void)StoredValueToVariant(fields_[static_cast<size_t>(position)]->type, stored, &value);
  return value;
}

// ---------------------------------------------------------------- deleting

// Deletions are written when they are made (one 4-byte write), not held back
// until 1000 accumulate: a deletion held in memory would be lost by a crash
// and the deleted record would come back, for instance next to the newer
// record that replaced it.
bool DataTable::WriteDeletion(uint32_t record) {
  if (deletion_fd_ < 0) {
    if (const int rc = fs_.Open(DeletionPath(), O_RDWR | O_CREAT, 0644, &deletion_fd_)) {
      deletion_fd_ = -1;
      AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, DeletionPath(), rc));
      return false;
    }
    uint64_t size = 0;
    if (fs_.Size(deletion_fd_, &size) == 0) {
      deletion_file_size_ = size - size % deletion_format::kEntrySize;
    }
  }
  char entry[deletion_format::kEntrySize];
  EncodeFixed32(entry, record);
  if (const int rc = WriteFully(fs_, deletion_fd_, entry, sizeof(entry), deletion_file_size_)) {
    (void)fs_.Truncate(deletion_fd_, deletion_file_size_);
    AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, DeletionPath(), rc));
    return false;
  }
  deletion_file_size_ += sizeof(entry);
  return true;
}

bool DataTable::RewriteDeletionFile() {
  std::string data;
  for (uint32_t n : deleted_) PutFixed32(&data, n);
  if (deletion_fd_ >= 0) {
    (void)fs_.Close(deletion_fd_);
    deletion_fd_ = -1;
  }
  LUN_KILL_POINT("deletion-rewrite-start");
  if (const int rc = ReplaceFileAtomically(fs_, DeletionPath(), data)) {
    AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, DeletionPath(), rc));
    return false;
  }
  LUN_KILL_POINT("deletion-rewrite-done");
  deletion_file_size_ = data.size();
  return true;
}

DataTable::DeletionOutcome DataTable::Delete(uint32_t record) {
  if (!open_) return DeletionOutcome::kRefused;
  TableWriteHold hold(lock_);
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (record >= next_record_) return DeletionOutcome::kRefused;
  const auto at = std::lower_bound(deleted_.begin(), deleted_.end(), record);
  if (at != deleted_.end() && *at == record) return DeletionOutcome::kAlreadyDeleted;
  if (deleted_.size() == deleted_.capacity() &&
      !ReserveWithRetry(deleted_, deleted_.size() + 1000)) {
    return DeletionOutcome::kRefused;
  }
  if (!WriteDeletion(record)) return DeletionOutcome::kRefused;
  deleted_.insert(std::lower_bound(deleted_.begin(), deleted_.end(), record), record);
  --live_count_;
  return DeletionOutcome::kDeleted;
}

bool DataTable::DeleteRecord(uint32_t record) {
  return Delete(record) == DeletionOutcome::kDeleted;
}

// Unlike DeleteRecord this was meant for numbers that arrive in ascending
// order and did not search; numbers may arrive in any order, so it inserts at
// the sorted place too and ignores a repeated number (counting it twice would
// make the live count wrong).
bool DataTable::AppendDeletion(uint32_t record) {
  return Delete(record) != DeletionOutcome::kRefused;
}

EngineStatus DataTable::FlushDeletions() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (deletion_fd_ >= 0) {
    if (const int rc = fs_.Sync(deletion_fd_)) {
      return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, DeletionPath(), rc));
    }
  }
  return EngineStatus::Ok();
}

bool DataTable::IsDeleted(uint32_t record) const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return std::binary_search(deleted_.begin(), deleted_.end(), record);
}

std::vector<uint32_t> DataTable::DeletedRecords() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return deleted_;
}

// ---------------------------------------------------------------- segments

int DataTable::segment_count() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return static_cast<int>(segments_.size());
}

std::vector<SegmentInfo> DataTable::Segments() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  std::vector<SegmentInfo> out;
  for (const Segment& s : segments_) out.push_back({s.count, s.data_size});
  return out;
}

EngineStatus DataTable::DropSegment(int k) {
  if (!open_) return EngineStatus::FailQuietly();
  TableWriteHold hold(lock_);
  return DropSegmentLocked(k);
}

EngineStatus DataTable::DropSegmentLocked(int k) {
  EngineStatus status = EngineStatus::Ok();
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    if (k < 0 || k >= static_cast<int>(segments_.size())) return EngineStatus::FailQuietly();
    uint32_t first = 0;
    for (int j = 0; j < k; ++j) first += segments_[static_cast<size_t>(j)].count;
    const uint32_t dropped = segments_[static_cast<size_t>(k)].count;
    const int count = static_cast<int>(segments_.size());
    CloseSegmentFiles();
    // The offset file goes first: a data file without one holds nothing
    // committed and is removed at the next open.
    int rc = fs_.Unlink(OffsetPath(k));
    if (rc == 0 || rc == ENOENT) rc = fs_.Unlink(DataPath(k));
    LUN_KILL_POINT("segment-drop-removed");
    for (int j = k + 1; (rc == 0 || rc == ENOENT) && j < count; ++j) {
      rc = fs_.Rename(DataPath(j), DataPath(j - 1));
      if (rc == 0) rc = fs_.Rename(OffsetPath(j), OffsetPath(j - 1));
      LUN_KILL_POINT("segment-drop-renamed");
    }
    if (rc != 0 && rc != ENOENT) status = EngineStatus::Fail(IoMessage("", DataPath(k), rc));
    // Deletions follow their records: those of the dropped segment go, later
    // ones shift down with the records.
    std::vector<uint32_t> renumbered;
    for (uint32_t n : deleted_) {
      if (n < first) {
        renumbered.push_back(n);
      } else if (n >= first + dropped) {
        renumbered.push_back(n - dropped);
      }
    }
    const bool changed = renumbered != deleted_;
    deleted_ = std::move(renumbered);
    if (EngineStatus s = RescanSegments(); !s && status) status = s;
    if (changed) (void)RewriteDeletionFile();
  }
  // Record numbers moved: the indexes restart and take the remaining records.
  RestartIndexes();
  return status;
}

// Segments are removed from the last to the first, and the deletion file
// after them: a crash part-way leaves the first segments whole with their
// own numbers and deletions, never records that come back undeleted.
EngineStatus DataTable::ClearTable() {
  if (!open_) return EngineStatus::FailQuietly();
  TableWriteHold hold(lock_);
  EngineStatus status = EngineStatus::Ok();
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    const int count = static_cast<int>(segments_.size());
    CloseSegmentFiles();
    for (int k = count - 1; k >= 0; --k) {
      int rc = fs_.Unlink(OffsetPath(k));
      if (rc == 0 || rc == ENOENT) rc = fs_.Unlink(DataPath(k));
      if (rc != 0 && rc != ENOENT && status) {
        status = EngineStatus::Fail(IoMessage("", DataPath(k), rc));
      }
      LUN_KILL_POINT("clear-segment-removed");
    }
    const int rc = fs_.Unlink(DeletionPath());
    if (rc != 0 && rc != ENOENT && status) {
      status = EngineStatus::Fail(IoMessage("", DeletionPath(), rc));
    }
    deleted_.clear();
    deletion_file_size_ = 0;
    if (EngineStatus s = RescanSegments(); !s && status) status = s;
  }
  RestartIndexes();
  return status;
}

// ---------------------------------------------------------------- indexes

void DataTable::RestartIndexes() {
  for (auto& f : fields_) f->index.reset();
  DropIndexFiles(-1);
  CreateIndexes();
  CatchUpIndexes();
  if (has_indexes()) (void)FlushIndexes();
}

bool DataTable::has_indexes() const {
  for (const auto& f : fields_) {
    if (f->index) return true;
  }
  return false;
}

void DataTable::CreateIndexes() {
  if (!env_.index_factory) return;
  const uint32_t records = record_count();
  for (auto& f : fields_) {
    if (f->index || f->index_kind == kNoIndex) continue;
    FieldIndexSpec index_spec;
    index_spec.index_folder = index_folder_;
    index_spec.project_folder = env_.project_folder;
    index_spec.table_name = name_;
    index_spec.definition_number = f->definition_number;
    index_spec.index_kind = f->index_kind;
    index_spec.field_type = f->type;
    index_spec.table_record_count = records;
    index_spec.file_system = &fs_;
    f->index = env_.index_factory(index_spec);
  }
}

void DataTable::DropIndexFiles(int definition_number) {
  const std::string prefix =
      definition_number < 0 ? std::string() : "D" + std::to_string(definition_number) + ".";
  for (const std::string& file : ListFiles(index_folder_)) {
    const bool match = definition_number < 0 ? (file[0] == 'D' || file[0] == 'F')
                                             : file.compare(0, prefix.size(), prefix) == 0;
    if (match) (void)fs_.Unlink(JoinPath(index_folder_, file));
  }
}

void DataTable::RecoverIndexes() {
  index_damaged_ = false;
  if (!env_.index_factory) return;
  const bool rebuild = PathExists(IndexMarkerPath());
  if (rebuild) DropIndexFiles(-1);
  CreateIndexes();
  const uint32_t records = record_count();
  for (auto& f : fields_) {
    if (!f->index || f->index->RecordCount() <= records) continue;
    // An index that knows records the table does not have cannot be trimmed:
    // it is rebuilt from the records.
    f->index.reset();
    DropIndexFiles(f->definition_number);
    CreateIndexes();
  }
  const bool fed = [&] {
    for (const auto& f : fields_) {
      if (f->index && f->index->RecordCount() < records) return true;
    }
    return false;
  }();
  CatchUpIndexes();
  if (rebuild || fed) (void)FlushIndexes();
}

void DataTable::CatchUpIndexes() {
  const uint32_t records = record_count();
  uint32_t from = records;
  for (const auto& f : fields_) {
    if (f->index) from = std::min(from, f->index->RecordCount());
  }
  std::vector<Variant> values;
  for (uint32_t r = from; r < records; ++r) {
    // A record that cannot be read still takes its number (Empty values), so
    // that the index's numbering stays the table's.
    (void)ReadRecord(r, &values);
    bool due = false;
    for (size_t i = 0; i < fields_.size(); ++i) {
      FieldIndex* index = fields_[i]->index.get();
      if (!index || index->RecordCount() != r) continue;
      index_unflushed_ = true;
      if (!index->AddRecord(r, values[i])) MarkIndexDamaged();
      due = due || index->WantsFlush();
    }
    if (due) (void)FlushIndexes();
  }
}

bool DataTable::AnyIndexDamaged() const {
  for (const auto& f : fields_) {
    if (f->index && f->index->damaged()) return true;
  }
  return false;
}

void DataTable::RebuildDamagedIndexes() {
  bool any = false;
  for (auto& f : fields_) {
    if (!f->index || !f->index->damaged()) continue;
    AppendEngineErrorLog("索引重建:" + name_ + "/" + f->name);
    f->index.reset();
    DropIndexFiles(f->definition_number);
    any = true;
  }
  if (!any) return;
  CreateIndexes();
  CatchUpIndexes();
}

void DataTable::MarkIndexDamaged() {
  if (!index_damaged_) AppendEngineErrorLog("索引写入失败:" + name_);
  index_damaged_ = true;
  (void)TouchFile(fs_, IndexMarkerPath());
}

bool DataTable::SyncRecordFiles() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  bool ok = true;
  for (Segment& s : segments_) {
    if (!s.dirty) continue;
    if (fs_.Sync(s.data_fd) != 0 || fs_.Sync(s.offset_fd) != 0) {
      ok = false;
    } else {
      s.dirty = false;
    }
  }
  if (deletion_fd_ >= 0 && fs_.Sync(deletion_fd_) != 0) ok = false;
  return ok;
}

EngineStatus DataTable::FlushIndexes() {
  // Records reach the disk before any index that refers to them; without
  // indexes this is what makes the records durable against power loss.
  if (!SyncRecordFiles()) return EngineStatus::Fail("记录同步失败:" + name_);
  if (!has_indexes()) return EngineStatus::Ok();
  // A failed write keeps the marker for the next open; otherwise an index
  // that a read found damaged is rebuilt now, before the marker goes.
  if (!index_damaged_) RebuildDamagedIndexes();
  const std::string marker = IndexMarkerPath();
  int fd = -1;
  int rc = fs_.Open(marker, O_WRONLY | O_CREAT, 0644, &fd);
  if (rc == 0) {
    rc = fs_.Sync(fd);
    const int close_rc = fs_.Close(fd);
    if (rc == 0) rc = close_rc;
  }
  if (rc == 0) rc = fs_.SyncDirectory(index_folder_);
  if (rc != 0) return EngineStatus::Fail(IoMessage("索引写入失败:", marker, rc));
  LUN_KILL_POINT("index-marker-created");
  bool ok = true;
  for (auto& f : fields_) {
    if (!f->index) continue;
    LUN_KILL_POINT("index-flush-between-fields");
    if (!f->index->Flush()) ok = false;
  }
  if (!ok) index_damaged_ = true;
  if (index_damaged_) return EngineStatus::Fail("索引写入失败:" + name_);
  LUN_KILL_POINT("index-flush-done");
  rc = fs_.Unlink(marker);
  if (rc == 0) rc = fs_.SyncDirectory(index_folder_);
  LUN_KILL_POINT("index-marker-removed");
  if (rc != 0) return EngineStatus::Fail(IoMessage("索引写入失败:", marker, rc));
  index_unflushed_ = false;
  return EngineStatus::Ok();
}

}  // namespace lun
