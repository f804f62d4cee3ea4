#include "crawler/document_table.h"

#include <unordered_set>

#include "automation/date_time.h"
#include "automation/variant.h"
#include "crawler/extract/archive_members.h"
#include "crawler/scan_scope.h"
#include "engine/index/field_generations.h"
#include "engine/index/field_lookup.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/record_format.h"
#include "engine/storage/search_project.h"
#include "platform/path_text.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

struct FieldSpec {
  const char* name;
  int type;
  IndexKind index_kind;
};

constexpr FieldSpec kDocumentFields[] = {
    {doc::kName, kFieldText, kWordIndex},     {doc::kType, kFieldText, kExactIndex},
    {doc::kPath, kFieldText, kExactIndex},    {doc::kDirectory, kFieldText, kWordIndex},
    {doc::kSize, kFieldInteger, kNoIndex},    {doc::kCreated, kFieldDate, kNoIndex},
    {doc::kModified, kFieldDate, kNoIndex},   {doc::kText, kFieldText, kWordIndex},
    {doc::kPower, kFieldSingle, kNoIndex},    {doc::kCategory, kFieldText, kExactIndex},
    {doc::kHistory, kFieldInteger, kNoIndex}, {doc::kMd5, kFieldText, kExactIndex},
    {doc::kFileId, kFieldText, kNoIndex},
};

constexpr FieldSpec kLogFields[] = {
    {"时间", kFieldDate, kNoIndex},
    {"IP", kFieldText, kNoIndex},
    {"行为", kFieldText, kNoIndex},
    {"内容", kFieldText, kNoIndex},
};

constexpr FieldSpec kQueueFields[] = {
    {doc::kName, kFieldText, kNoIndex},
    {doc::kType, kFieldInteger, kNoIndex},
};

template <size_t N>
DataTable* EnsureTable(SearchProject& project, const char* name, const FieldSpec (&fields)[N]) {
  DataTable* t = project.FindTable(name);
  if (!t) {
    if (!project.CreateTable("", "", name, "").ok()) return project.FindTable(name);
    t = project.FindTable(name);
    if (!t) return nullptr;
  }
  // A table made by an older build (or one whose creation was interrupted)
  // gets the fields it lacks; its earlier records read as Empty there.
  for (const FieldSpec& f : fields) {
    if (t->FindField(f.name)) continue;
    if (!t->AddField(f.name, "", static_cast<uint32_t>(f.type), f.index_kind).ok()) return nullptr;
  }
  return t;
}

int Position(const DataTable& table, const char* field) {
  const TableField* f = table.FindField(field);
  return f ? f->position : -1;
}

// The records the exact-value index (and the stored values it has not
// taken yet) gives for `path`, deleted ones included. The table's read
// lock is held for the look-up; a writer flushing a large index can hold
// the lock for long, so it is waited for rather than the look-up given up
// (a failed look-up would append a second record of the path).
std::vector<uint32_t> PathCandidates(DataTable& table, const std::u16string& path) {
  const TableField* field = table.FindField(doc::kPath);
  if (!field) return {};
  while (!table.ReadLock(DataTable::kSearchReadTimeoutMs)) {
  }
  FieldLookupRequest request;
  request.field_type = field->type;
  request.index_kind = field->index_kind;
  request.index = dynamic_cast<const FieldGenerations*>(field->index.get());
  request.stored.record_count = table.record_count();
  const int position = field->position;
  request.stored.read = [&table, position](uint32_t r) { return table.GetFieldValue(r, position); };
  request.term = path;
  LookupResult result;
  (void)FieldLookup(request, &result);
  table.Unlock();
  return {result.records.begin(), result.records.end()};
}

}  // namespace

DataTable* EnsureDocumentTable(SearchProject& project) {
  return EnsureTable(project, kDocumentTable, kDocumentFields);
}
DataTable* EnsureLogTable(SearchProject& project) {
  return EnsureTable(project, kLogTable, kLogFields);
}
DataTable* EnsureQueueTable(SearchProject& project) {
  return EnsureTable(project, kQueueTable, kQueueFields);
}

double FileTimeToDate(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  const double seconds = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec;
  return CombineDayAndTime(DaysFromDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
                           seconds / 86400.0);
}

DocumentWriter::DocumentWriter(SearchProject& project, SearchService& search)
    : project_(project), search_(search) {}

std::string FileIdOf(uint64_t device, uint64_t inode) {
  return std::to_string(device) + ":" + std::to_string(inode);
}

int CountOversizeDocuments(SearchService& search) {
  std::unique_ptr<Recordset> rs;
  const std::string query = std::string("[") + kDocumentTable + "]:" + doc::kSize + ">" +
                            std::to_string(kMaxIndexedFileSize);
  if (search.Search(query, &rs) != kEngineOk || !rs) return -1;
  return static_cast<int>(rs->count());
}

std::vector<uint32_t> DocumentWriter::FindPath(const std::string& path) const {
  DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return {};
  const std::u16string wide_path = ToWide(PathText(path));
  const int column = Position(*table, doc::kPath);
  std::vector<uint32_t> records;
  for (uint32_t r : PathCandidates(*table, wide_path)) {
    // The index compares normalised text (case, width, traditional forms);
    // on this file system "A.txt" and "a.txt" are two files, so only
    // records of exactly this path count.
    if (!table->IsDeleted(r) && table->GetFieldValue(r, column).AsString() == wide_path) {
      records.push_back(r);
    }
  }
  return records;
}

bool DocumentWriter::Matches(const DataTable& table, uint32_t r,
                             const DocumentRecord& record) const {
  if (table.GetFieldValue(r, Position(table, doc::kModified)).AsDouble() != record.modified ||
      static_cast<uint32_t>(table.GetFieldValue(r, Position(table, doc::kSize)).AsInteger()) !=
          record.size) {
    return false;
  }
  // Records made before the identity was kept, and mail, match on the rest.
  const int id_at = Position(table, doc::kFileId);
  const std::string stored_id =
      id_at < 0 ? std::string() : ToNarrow(table.GetFieldValue(r, id_at).AsString());
  return stored_id.empty() || record.file_id.empty() || stored_id == record.file_id;
}

bool DocumentWriter::IsCurrent(const DocumentRecord& record) const {
  const DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return false;
  for (uint32_t r : FindPath(record.path)) {
    if (Matches(*table, r, record)) return true;
  }
  return false;
}

uint32_t DocumentWriter::ReplaceOlder(const DocumentRecord& record, bool* unchanged) {
  *unchanged = false;
  DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return 0;
  uint32_t replaced = 0;
  // A changed archive: its members are written before it, so only those
  // that the new record no longer lists go.
  std::unordered_set<std::string> listed;
  if (IsArchivePath(record.path)) {
    for (std::string& key : ListedMemberKeys(record.path, record.text)) {
      listed.insert(std::move(key));
    }
  }
  for (uint32_t r : FindPath(record.path)) {
    if (Matches(*table, r, record)) {
      *unchanged = true;
      return replaced;
    }
    RemoveListedMembers(*table, r, listed);
    if (table->DeleteRecord(r)) ++replaced;
  }
  return replaced;
}

void DocumentWriter::RemoveListedMembers(DataTable& table, uint32_t r,
                                         const std::unordered_set<std::string>& keep) {
  const std::string path = ToNarrow(table.GetFieldValue(r, Position(table, doc::kPath)).AsString());
  if (!IsArchivePath(path)) return;
  const std::u16string names(table.GetFieldValue(r, Position(table, doc::kText)).AsString());
  for (const std::string& key : ListedMemberKeys(PathOnDisk(path), names)) {
    if (keep.count(key) > 0) continue;
    for (uint32_t member : FindPath(key)) (void)table.DeleteRecord(member);
  }
}

void DocumentWriter::set_fast_insert(bool on) {
  fast_insert_ = on;
  std::lock_guard lock(forced_mutex_);
  forced_paths_.clear();
}

bool DocumentWriter::NeedsCheck(const std::string& path, bool force) {
  if (!fast_insert_) return true;
  // The walk appends without looking; a file the change monitor wrote
  // before the walk reached it already has its record.
  std::lock_guard lock(forced_mutex_);
  if (force) {
    forced_paths_.insert(path);
    return true;
  }
  return forced_paths_.count(path) > 0;
}

bool DocumentWriter::AddOrUpdateDocument(const DocumentRecord& record, bool force) {
  std::shared_lock gate(write_gate_);
  std::lock_guard check(check_mutex_);
  uint32_t history = 0;
  if (NeedsCheck(record.path, force)) {
    bool unchanged = false;
    history = ReplaceOlder(record, &unchanged);
    if (unchanged) return true;
  }
  DataTable* table = EnsureDocumentTable(project_);
  if (!table) return false;
  // A failed append is logged by the engine; the file comes back at its
  // next change or reconciliation.
  if (Append(*table, record, history) && on_append_) on_append_();
  return true;
}

bool DocumentWriter::Append(DataTable& table, const DocumentRecord& record, uint32_t history) {
  const std::string category = CategoryOfType("|" + record.type + "|");
  RecordWriter writer = table.NewRecord();
  if (!writer.valid()) return false;
  // Names and paths are stored in their text form (path_text.h): a name
  // whose bytes are not UTF-8 is found and opened like any other.
  writer.SetValue(doc::kName, Variant::Bstr(ToWide(PathText(record.name))));
  writer.SetValue(doc::kType, Variant::Bstr(ToWide(record.type)));
  writer.SetValue(doc::kPath, Variant::Bstr(ToWide(PathText(record.path))));
  writer.SetValue(
      doc::kDirectory,
      Variant::Bstr(ToWide(PathText(record.directory ? *record.directory : DirName(record.path)))));
  writer.SetValue(doc::kSize, Variant::I4(static_cast<int32_t>(record.size)));
  writer.SetValue(doc::kCreated, Variant::Date(record.created));
  writer.SetValue(doc::kModified, Variant::Date(record.modified));
  writer.SetValue(doc::kText, Variant::Bstr(record.text));
  writer.SetValue(doc::kPower, Variant::R4(record.power));
  writer.SetValue(doc::kCategory, Variant::Bstr(ToWide(category)));
  writer.SetValue(doc::kHistory, Variant::I4(static_cast<int32_t>(history)));
  writer.SetValue(doc::kMd5, Variant::Bstr(ToWide(record.md5)));
  writer.SetValue(doc::kFileId, Variant::Bstr(ToWide(record.file_id)));
  // The number the commit gave: another writer (the mail sources) may
  // append right after it.
  uint32_t number = 0;
  if (!writer.Commit(&number).ok()) return false;
  AddToCategoryList(number, CategoryIndex(category));
  return true;
}

void DocumentWriter::RemoveDocuments(const std::string& path) {
  std::lock_guard check(check_mutex_);
  DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return;
  for (uint32_t r : FindPath(path)) {
    RemoveListedMembers(*table, r, {});
    (void)table->DeleteRecord(r);
  }
}

void DocumentWriter::RemoveRecord(uint32_t record) {
  std::lock_guard check(check_mutex_);
  RemoveRecordLocked(record);
}

void DocumentWriter::RemoveRecordLocked(uint32_t record) {
  DataTable* table = project_.FindTable(kDocumentTable);
  if (table && record < table->record_count() && !table->IsDeleted(record)) {
    RemoveListedMembers(*table, record, {});
    (void)table->DeleteRecord(record);
  }
}

void DocumentWriter::ForEachFileRecord(const std::function<void(const StoredFile&)>& visit) const {
  ForEachRecordOnDisk(/*members=*/false, visit);
}

void DocumentWriter::ForEachRecordOnDisk(
    bool members, const std::function<void(const StoredFile&)>& visit) const {
  const DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return;
  const int path = Position(*table, doc::kPath);
  const int type = Position(*table, doc::kType);
  const int directory = Position(*table, doc::kDirectory);
  const int size = Position(*table, doc::kSize);
  const int modified = Position(*table, doc::kModified);
  const int file_id = Position(*table, doc::kFileId);
  const uint32_t end = table->record_count();
  for (uint32_t r = 0; r < end; ++r) {
    if (table->IsDeleted(r)) continue;
    StoredFile f;
    f.record = r;
    const std::string path_text = ToNarrow(table->GetFieldValue(r, path).AsString());
    if (path_text.empty() || path_text[0] != '/' ||
        ToNarrow(table->GetFieldValue(r, directory).AsString()) != DirName(path_text)) {
      continue;
    }
    f.path = PathOnDisk(path_text);
    if (!members && IsArchiveMemberKey(f.path)) continue;
    f.type = ToNarrow(table->GetFieldValue(r, type).AsString());
    f.size = static_cast<uint32_t>(table->GetFieldValue(r, size).AsInteger());
    f.modified = table->GetFieldValue(r, modified).AsDouble();
    if (file_id >= 0) f.file_id = ToNarrow(table->GetFieldValue(r, file_id).AsString());
    visit(f);
  }
}

bool DocumentWriter::ReadFileState(uint32_t record, StoredFile* file, std::u16string* text) const {
  const DataTable* table = project_.FindTable(kDocumentTable);
  if (!table || record >= table->record_count() || table->IsDeleted(record)) return false;
  file->record = record;
  file->size = static_cast<uint32_t>(
      table->GetFieldValue(record, Position(*table, doc::kSize)).AsInteger());
  file->modified = table->GetFieldValue(record, Position(*table, doc::kModified)).AsDouble();
  *text = table->GetFieldValue(record, Position(*table, doc::kText)).AsString();
  return true;
}

std::vector<StoredFile> DocumentWriter::FilesBelow(const std::string& directory) const {
  std::vector<StoredFile> below;
  const std::string prefix = directory + "/";
  // Archive members too: they move with their folder.
  ForEachRecordOnDisk(/*members=*/true, [&](const StoredFile& f) {
    if (f.path.compare(0, prefix.size(), prefix) == 0) below.push_back(f);
  });
  return below;
}

// The tree operations list the records below a directory under the check
// lock, like every writer: a record appended between the listing and the
// removal or move would otherwise stay behind under a path that is gone.
void DocumentWriter::RemoveTree(const std::string& directory) {
  std::lock_guard check(check_mutex_);
  for (const StoredFile& f : FilesBelow(directory)) RemoveRecordLocked(f.record);
}

bool DocumentWriter::StoredRecord(const DataTable& table, const StoredFile& f,
                                  DocumentRecord* record) const {
  std::vector<Variant> values;
  if (!table.ReadRecord(f.record, &values)) return false;
  auto value = [&](const char* field) {
    const int at = Position(table, field);
    return at < 0 ? Variant() : values[static_cast<size_t>(at)];
  };
  record->path = f.path;
  record->name = ToNarrow(value(doc::kName).AsString());
  record->type = ToNarrow(value(doc::kType).AsString());
  record->size = f.size;
  record->created = value(doc::kCreated).AsDouble();
  record->modified = f.modified;
  record->text = value(doc::kText).AsString();
  record->power = static_cast<float>(value(doc::kPower).AsDouble());
  record->md5 = ToNarrow(value(doc::kMd5).AsString());
  record->file_id = f.file_id;
  return true;
}

size_t DocumentWriter::Rewrite(const std::function<std::vector<StoredFile>()>& choose,
                               const std::function<bool(DocumentRecord*)>& change) {
  std::shared_lock gate(write_gate_);
  std::lock_guard check(check_mutex_);
  DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return 0;
  size_t written = 0;
  for (const StoredFile& f : choose()) {
    DocumentRecord record;
    // Written again meanwhile: that record is new anyway.
    if (table->IsDeleted(f.record) || !StoredRecord(*table, f, &record)) continue;
    if (!change(&record)) {
      (void)table->DeleteRecord(f.record);
    } else if (Append(*table, record, 0)) {
      (void)table->DeleteRecord(f.record);
      ++written;
    }
  }
  return written;
}

size_t DocumentWriter::MoveTree(const std::string& from, const std::string& to) {
  return Rewrite([&] { return FilesBelow(from); }, [&](DocumentRecord* record) {
    record->path = to + record->path.substr(from.size());
    // A file written under the new name meanwhile keeps its own record.
    return FindPath(record->path).empty();
  });
}

size_t DocumentWriter::MarkChanged(const std::function<bool(const StoredFile&)>& which) {
  auto chosen = [&] {
    std::vector<StoredFile> files;
    ForEachRecordOnDisk(/*members=*/true, [&](const StoredFile& f) {
      if (which(f)) files.push_back(f);
    });
    return files;
  };
  return Rewrite(chosen, [](DocumentRecord* record) {
    record->modified -= 1.0 / 86400;
    return true;
  });
}

bool DocumentWriter::ClearDocuments() {
  std::unique_lock gate(write_gate_);
  DataTable* table = project_.FindTable(kDocumentTable);
  if (table && !table->ClearTable().ok()) {
    BuildCategoryLists();  // whatever is left keeps its lists
    return false;
  }
  for (CategorySlot& slot : categories_) {
    std::lock_guard lock(slot.mutex);
    slot.records.clear();
  }
  return true;
}

std::string DocumentWriter::StatusText() const {
  if (!project_.is_open()) return "数据连接已关闭";
  const DataTable* documents = project_.FindTable(kDocumentTable);
  if (!documents) return "“文档”数据表不存在";
  const DataTable* queue = project_.FindTable(kQueueTable);
  return "待索引文件: " + std::to_string(queue ? queue->live_count() : 0) +
         "，已索引文件: " + std::to_string(documents->live_count());
}

void DocumentWriter::BuildCategoryLists() {
  for (int i = 0; i < static_cast<int>(categories_.size()); ++i) {
    const std::string name = CategoryName(i);
    if (name.empty()) break;
    std::unique_ptr<Recordset> rs;
    std::vector<uint32_t> records;
    if (search_.Search(std::string("[") + kDocumentTable + "]:" + doc::kCategory + "=" + name,
                       &rs) == kEngineOk &&
        rs) {
      records.assign(rs->rows().records.begin(), rs->rows().records.end());
    }
    std::lock_guard lock(categories_[i].mutex);
    categories_[i].records = std::move(records);
  }
}

void DocumentWriter::AddToCategoryList(uint32_t record, int category) {
  if (category < 0 || category >= static_cast<int>(categories_.size())) return;
  std::lock_guard lock(categories_[category].mutex);
  categories_[category].records.push_back(record);
}

std::vector<uint32_t> DocumentWriter::CategoryList(int index) const {
  if (index < 0 || index >= static_cast<int>(categories_.size())) return {};
  std::lock_guard lock(categories_[index].mutex);
  return categories_[index].records;
}

}  // namespace lun
