#include "engine/storage/data_table.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "config/settings_store.h"
#include "engine/storage/allocation.h"
#include "engine/storage/field_def_format.h"
#include "engine/storage/field_definition.h"
#include "engine/storage/name_rules.h"
#include "engine/storage/storage_files.h"
#include "engine/storage/value_codec.h"
#include "platform/error_log.h"
#include "platform/paths.h"

namespace lun {
namespace {

namespace fd = field_def_format;

constexpr char kAnyFieldKey[] = "任意字段";
// How much of a record body ReadStoredValue reads at once to find a field.
constexpr size_t kFieldWalkBytes = 4096;

}  // namespace

DataTable::DataTable(const TableEnvironment& env)
    : env_(env),
      fs_(env.file_system ? *env.file_system : DefaultFileSystem()),
      segments_(fs_, env.segment_record_limit),
      deletions_(fs_),
      indexes_(fs_, env.index_factory,
               IndexedRecords{[this] { return record_count(); },
                              [this](uint32_t r, std::vector<Variant>* values) {
                                return ReadRecord(r, values);
                              },
                              [this] { return SyncRecordFiles(); }}) {}

DataTable::~DataTable() { Close(); }

std::string DataTable::SchemaPath() const { return JoinPath(data_folder_, name_ + ".stu"); }
std::string DataTable::DataPath(int k) const { return segments_.DataPath(k); }
std::string DataTable::OffsetPath(int k) const { return segments_.OffsetPath(k); }
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
    std::lock_guard<std::mutex> lock(data_mutex_);
    CloseFiles();
    return status;
  }
  ReadAnyFields();
  indexes_.Attach(name_, index_folder_, env_.project_folder, &fields_);
  indexes_.Recover();
  open_ = true;
  return EngineStatus::Ok();
}

EngineStatus DataTable::OpenStorage() {
  if (EngineStatus s = LoadFieldDefinitions(); !s) return s;
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (EngineStatus s = segments_.Open(data_folder_, name_, FieldTypes()); !s) return s;
  if (EngineStatus s = deletions_.Load(DeletionPath(), segments_.record_count()); !s) return s;
  BuildFields();
  return EngineStatus::Ok();
}

EngineStatus DataTable::LoadFieldDefinitions() {
  if (!schema_.is_open() && schema_.Open(fs_, SchemaPath(), O_RDWR | O_CREAT, 0644) != 0) {
    return EngineStatus::Fail(msg::kCannotOpenSchema);
  }
  uint64_t size = 0;
  if (fs_.Size(schema_.get(), &size) != 0) return EngineStatus::Fail(msg::kCannotOpenSchema);
  std::string data;
  if (!ResizeWithRetry(data, static_cast<size_t>(size - size % fd::kRecordSize))) {
    return EngineStatus::Fail(msg::kOutOfMemory);
  }
  if (!data.empty() && ReadFully(fs_, schema_.get(), data.data(), data.size(), 0) != 0) {
    return EngineStatus::Fail(msg::kCannotOpenSchema);
  }
  definitions_ = ParseFieldDefinitions(data);
  return EngineStatus::Ok();
}

// The types of the fields a record body holds, in order.
std::vector<int> DataTable::FieldTypes() const {
  std::vector<int> types;
  for (const FieldDefinition& d : definitions_) {
    if (d.disabled == 0) types.push_back(d.type());
  }
  return types;
}

void DataTable::BuildFields() {
  std::unique_lock<std::shared_mutex> lock(fields_mutex_);
  fields_.clear();
  for (size_t i = 0; i < definitions_.size(); ++i) {
    if (definitions_[i].disabled == 0) AppendField(static_cast<int>(i));
  }
}

// Requires fields_mutex_ held exclusively.
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

void DataTable::CloseFiles() {
  segments_.Close();
  deletions_.Close();
}

void DataTable::Close() {
  if (open_) {
    bool records_unsynced = false;
    {
      std::lock_guard<std::mutex> lock(data_mutex_);
      records_unsynced = segments_.dirty();
    }
    indexes_.Close(records_unsynced);
    (void)FlushDeletions();
  }
  {
    std::unique_lock<std::shared_mutex> lock(fields_mutex_);
    for (auto& f : fields_) f->index.reset();
    fields_.clear();
  }
  any_fields_.clear();
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    CloseFiles();
  }
  schema_.Close();
  definitions_.clear();
  open_ = false;
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

int DataTable::FieldPosition(std::string_view name) const {
  std::shared_lock<std::shared_mutex> lock(fields_mutex_);
  const TableField* f = FindField(name);
  return f ? f->position : -1;
}

bool DataTable::HasFieldAt(int position) const {
  std::shared_lock<std::shared_mutex> lock(fields_mutex_);
  return FieldAt(position) != nullptr;
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
  if (!schema_.is_open()) return EngineStatus::Fail(msg::kCannotOpenSchema);

  const std::string record = BuildFieldDefinition(name, type_word, index_kind, aux_text);
  uint64_t size = 0;
  if (const int rc = fs_.Size(schema_.get(), &size)) {
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, SchemaPath(), rc));
  }
  // A trailing partial definition (a torn earlier write) is overwritten.
  const uint64_t at = size / fd::kRecordSize * fd::kRecordSize;
  int rc = WriteFully(fs_, schema_.get(), record.data(), record.size(), at);
  if (rc == 0) rc = fs_.Sync(schema_.get());
  if (rc != 0) {
    (void)fs_.Truncate(schema_.get(), at);
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, SchemaPath(), rc));
  }
  if (EngineStatus s = LoadFieldDefinitions(); !s) return s;
  TableField* added = nullptr;
  {
    std::unique_lock<std::shared_mutex> lock(fields_mutex_);
    added = AppendField(static_cast<int>(definitions_.size() - 1));
  }
  // Records already in the table are fed to the new index (they read as
  // Empty for the new field), so that its record numbers match the table's.
  if (added->index_kind != kNoIndex) indexes_.AddIndexOfNewField();
  ReadAnyFields();
  return EngineStatus::Ok();
}

// ---------------------------------------------------------------- appending

RecordWriter DataTable::NewRecord() {
  if (!open_) return RecordWriter(nullptr, 0);
  std::shared_lock<std::shared_mutex> lock(fields_mutex_);
  return RecordWriter(this, fields_.size());
}

EngineStatus DataTable::EncodeRecord(const std::vector<Variant>& values, std::string* body,
                                     std::vector<Variant>* stored) const {
  std::shared_lock<std::shared_mutex> lock(fields_mutex_);
  body->clear();
  if (!ReserveWithRetry(*body, 1024)) return EngineStatus::FailQuietly(msg::kOutOfMemory);
  stored->assign(fields_.size(), Variant());
  const Variant empty;
  for (size_t i = 0; i < fields_.size(); ++i) {
    const TableField& f = *fields_[i];
    const Variant& value = i < values.size() ? values[i] : empty;
    // Index values are kept by kind, not by f.index, which a rebuild under
    // the write lock may replace meanwhile.
    Variant* index_value = f.index_kind != kNoIndex ? &(*stored)[i] : nullptr;
    if (EncodeFieldValue(f.type, value, body, index_value) != S_OK) {
      return EngineStatus::Fail("字段值不能转换为字段类型:" + f.name);
    }
  }
  return EngineStatus::Ok();
}

EngineStatus DataTable::AppendEncoded(const std::string& body, const std::vector<Variant>& stored,
                                      uint32_t* record) {
  TableWriteHold hold(lock_);
  if (!open_) return EngineStatus::FailQuietly("表未打开");
  uint32_t number = 0;
  {
    std::lock_guard<std::mutex> lock(data_mutex_);
    if (EngineStatus s = segments_.Append(body); !s) return s;
    number = segments_.record_count() - 1;
  }
  // A field added since the record was encoded is Empty in it (the record
  // predates the field), and its index gets Empty too.
  indexes_.TakeAppended(number, stored);
  if (record) *record = number;
  return EngineStatus::Ok();
}

uint32_t DataTable::record_count() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return segments_.record_count();
}

uint32_t DataTable::live_count() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return segments_.record_count() - deletions_.size();
}

// ---------------------------------------------------------------- reading

bool DataTable::ReadBody(uint32_t record, std::string* body) const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return segments_.ReadBody(record, body);
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
// itself, so that a small field is read without the record's text. The
// walk to the field reads the start of the body once: most values before a
// wanted one are a few bytes (names, times, sizes), and a read per length
// prefix cost a system call each, under the lock. Only what reaches past
// this first read is read again from the file.
bool DataTable::ReadStoredValue(uint32_t record, int position, std::string* stored) const {
  if (position < 0 || position >= static_cast<int>(fields_.size())) return false;
  std::lock_guard<std::mutex> lock(data_mutex_);
  BodySpan span;
  if (!segments_.Locate(record, &span)) return false;
  uint64_t pos = span.begin;
  char head[kFieldWalkBytes];
  uint64_t head_size = std::min<uint64_t>(span.end - pos, sizeof head);
  // A body cut short by damage is walked from the file as far as it goes.
  if (head_size > 0 && segments_.ReadAt(span, pos, head, static_cast<size_t>(head_size)) != 0) {
    head_size = 0;
  }
  auto read = [&](void* out, uint64_t n, uint64_t at) {
    if (at + n <= span.begin + head_size) {
      std::memcpy(out, head + (at - span.begin), static_cast<size_t>(n));
      return true;
    }
    return segments_.ReadAt(span, at, out, static_cast<size_t>(n)) == 0;
  };
  for (int i = 0; i <= position; ++i) {
    const int type = fields_[static_cast<size_t>(i)]->type;
    uint64_t width = FixedWidth(type);
    if (IsLengthPrefixed(type)) {
      unsigned char n[4];
      if (span.end - pos < 4 || !read(n, 4, pos)) return false;
      pos += 4;
      width = DecodeFixed32(n);
    }
    if (span.end - pos < width) return false;
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

DataTable::DeletionOutcome DataTable::Delete(uint32_t record) {
  if (!open_) return DeletionOutcome::kRefused;
  TableWriteHold hold(lock_);
  std::lock_guard<std::mutex> lock(data_mutex_);
  if (record >= segments_.record_count()) return DeletionOutcome::kRefused;
  switch (deletions_.Delete(record)) {
    case DeletionList::Outcome::kDeleted:
      return DeletionOutcome::kDeleted;
    case DeletionList::Outcome::kAlreadyDeleted:
      return DeletionOutcome::kAlreadyDeleted;
    case DeletionList::Outcome::kRefused:
      break;
  }
  return DeletionOutcome::kRefused;
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
  if (const int rc = deletions_.Sync()) {
    return EngineStatus::Fail(IoMessage(msg::kCannotOpenFile, DeletionPath(), rc));
  }
  return EngineStatus::Ok();
}

bool DataTable::IsDeleted(uint32_t record) const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return deletions_.Contains(record);
}

std::vector<uint32_t> DataTable::DeletedRecords() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return deletions_.records();
}

// ---------------------------------------------------------------- segments

int DataTable::segment_count() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return segments_.segment_count();
}

std::vector<SegmentInfo> DataTable::Segments() const {
  std::lock_guard<std::mutex> lock(data_mutex_);
  return segments_.Info();
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
    const std::vector<SegmentInfo> info = segments_.Info();
    if (k < 0 || k >= static_cast<int>(info.size())) return EngineStatus::FailQuietly();
    uint32_t first = 0;
    for (int j = 0; j < k; ++j) first += info[static_cast<size_t>(j)].records;
    status = segments_.Drop(k);
    // Deletions follow their records: those of the dropped segment go, later
    // ones shift down with the records.
    const bool changed = deletions_.RemoveRange(first, info[static_cast<size_t>(k)].records);
    // Deletions of records that no longer exist are forgotten.
    deletions_.ForgetFrom(segments_.record_count());
    if (changed) (void)deletions_.Rewrite();
  }
  // Record numbers moved: the indexes restart and take the remaining records.
  indexes_.Restart();
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
    status = segments_.RemoveAll();
    if (const int rc = deletions_.Clear(); rc != 0 && status) {
      status = EngineStatus::Fail(IoMessage("", DeletionPath(), rc));
    }
  }
  indexes_.Restart();
  return status;
}

// ---------------------------------------------------------------- durability

bool DataTable::SyncRecordFiles() {
  std::lock_guard<std::mutex> lock(data_mutex_);
  const bool records = segments_.Sync();
  return deletions_.Sync() == 0 && records;
}

EngineStatus DataTable::FlushIndexes() { return indexes_.Flush(); }

}  // namespace lun
