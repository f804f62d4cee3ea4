#include "crawler/document_table.h"

#include "automation/date_time.h"
#include "automation/variant.h"
#include "crawler/scan_scope.h"
#include "engine/query/query_escape.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/record_format.h"
#include "engine/storage/search_project.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

struct FieldSpec {
  const char* name;
  int type;
  int index_kind;
};

constexpr FieldSpec kDocumentFields[] = {
    {doc::kName, kFieldText, kWordIndex},     {doc::kType, kFieldText, kExactIndex},
    {doc::kPath, kFieldText, kExactIndex},    {doc::kDirectory, kFieldText, kWordIndex},
    {doc::kSize, kFieldInteger, kNoIndex},    {doc::kCreated, kFieldDate, kNoIndex},
    {doc::kModified, kFieldDate, kNoIndex},   {doc::kText, kFieldText, kWordIndex},
    {doc::kPower, kFieldSingle, kNoIndex},    {doc::kCategory, kFieldText, kExactIndex},
    {doc::kHistory, kFieldInteger, kNoIndex}, {doc::kMd5, kFieldText, kExactIndex},
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
  if (DataTable* t = project.FindTable(name)) return t;
  if (!project.CreateTable("", "", name, "").ok()) return project.FindTable(name);
  DataTable* t = project.FindTable(name);
  if (!t) return nullptr;
  for (const FieldSpec& f : fields) {
    if (!t->AddField(f.name, "", static_cast<uint32_t>(f.type), f.index_kind).ok()) return nullptr;
  }
  return t;
}

std::string PathQuery(const std::string& path) {
  return std::string("[") + kDocumentTable + "]:" + doc::kPath + "=" + EscapeQueryText(path);
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

std::optional<uint32_t> DocumentWriter::ReplaceOlder(const std::string& path, double modified,
                                                     bool* unchanged) {
  *unchanged = false;
  std::unique_ptr<Recordset> rs;
  if (search_.Search(PathQuery(path), &rs) != kEngineOk || !rs) return std::nullopt;
  const int path_column = rs->FindColumn(doc::kPath);
  const int modified_column = rs->FindColumn(doc::kModified);
  const std::u16string wide_path = ToWide(path);
  uint32_t replaced = 0;
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
    // The path index compares normalised text (case, width, traditional
    // forms); on this file system "A.txt" and "a.txt" are two files, so
    // only rows of exactly this path count.
    if (rs->Value(path_column).AsString() != wide_path) continue;
    if (rs->Value(modified_column).AsDouble() == modified) {
      *unchanged = true;
      return replaced;
    }
    rs->DeleteCurrent();
    ++replaced;
  }
  return replaced;
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
  uint32_t history = 0;
  if (NeedsCheck(record.path, force)) {
    bool unchanged = false;
    const std::optional<uint32_t> replaced = ReplaceOlder(record.path, record.modified, &unchanged);
    // A failed check skips the file this time; it comes back at its next
    // change or scan.
    if (!replaced || unchanged) return true;
    history = *replaced;
  }
  DataTable* table = EnsureDocumentTable(project_);
  if (!table) return false;
  const std::string category = CategoryOfType("|" + record.type + "|");
  if (!table->BeginRecord()) return false;
  table->SetValue(doc::kName, Variant::Bstr(ToWide(record.name)));
  table->SetValue(doc::kType, Variant::Bstr(ToWide(record.type)));
  table->SetValue(doc::kPath, Variant::Bstr(ToWide(record.path)));
  table->SetValue(doc::kDirectory,
                  Variant::Bstr(ToWide(record.directory ? *record.directory : DirName(record.path))));
  table->SetValue(doc::kSize, Variant::I4(static_cast<int32_t>(record.size)));
  table->SetValue(doc::kCreated, Variant::Date(record.created));
  table->SetValue(doc::kModified, Variant::Date(record.modified));
  table->SetValue(doc::kText, Variant::Bstr(record.text));
  table->SetValue(doc::kPower, Variant::R4(record.power));
  table->SetValue(doc::kCategory, Variant::Bstr(ToWide(category)));
  table->SetValue(doc::kHistory, Variant::I4(static_cast<int32_t>(history)));
  table->SetValue(doc::kMd5, Variant::Bstr(ToWide(record.md5)));
  if (table->CommitRecord().ok()) AddToCategoryList(table->record_count() - 1, CategoryIndex(category));
  return true;
}

void DocumentWriter::RemoveDocuments(const std::string& path) {
  std::unique_ptr<Recordset> rs;
  if (search_.Search(PathQuery(path), &rs) != kEngineOk || !rs) return;
  const int path_column = rs->FindColumn(doc::kPath);
  const std::u16string wide_path = ToWide(path);
  for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext()) {
    if (rs->Value(path_column).AsString() == wide_path) rs->DeleteCurrent();
  }
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
                       &rs) == kEngineOk && rs) {
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
