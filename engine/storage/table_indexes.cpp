#include "engine/storage/table_indexes.h"

#include <algorithm>

#include "engine/storage/data_table.h"
#include "engine/storage/storage_files.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/paths.h"

namespace lun {

void TableIndexes::Attach(const std::string& table, const std::string& index_folder,
                          const std::string& project_folder,
                          std::vector<std::unique_ptr<TableField>>* fields) {
  table_ = table;
  index_folder_ = index_folder;
  project_folder_ = project_folder;
  fields_ = fields;
  damaged_ = false;
  unflushed_ = false;
}

std::string TableIndexes::MarkerPath() const {
  return JoinPath(index_folder_, kIndexWriteMarkerName);
}

bool TableIndexes::empty() const {
  if (!fields_) return true;  // never attached: a table that was not opened
  return std::none_of(fields_->begin(), fields_->end(), [](const auto& f) { return f->index != nullptr; });
}

void TableIndexes::Create() {
  if (!factory_) return;
  const uint32_t records = records_.count();
  for (auto& f : *fields_) {
    if (f->index || f->index_kind == kNoIndex) continue;
    FieldIndexSpec index_spec;
    index_spec.index_folder = index_folder_;
    index_spec.project_folder = project_folder_;
    index_spec.table_name = table_;
    index_spec.definition_number = f->definition_number;
    index_spec.index_kind = f->index_kind;
    index_spec.field_type = f->type;
    index_spec.table_record_count = records;
    index_spec.file_system = &fs_;
    f->index = factory_(index_spec);
  }
}

void TableIndexes::DropFiles(int definition_number) {
  const std::string prefix =
      definition_number < 0 ? std::string() : "D" + std::to_string(definition_number) + ".";
  for (const std::string& file : ListFiles(index_folder_)) {
    const bool match = definition_number < 0 ? (file[0] == 'D' || file[0] == 'F')
                                             : file.compare(0, prefix.size(), prefix) == 0;
    if (match) (void)fs_.Unlink(JoinPath(index_folder_, file));
  }
}

void TableIndexes::Recover() {
  damaged_ = false;
  if (!factory_) return;
  const bool rebuild = PathExists(MarkerPath());
  if (rebuild) DropFiles(-1);
  Create();
  const uint32_t records = records_.count();
  for (auto& f : *fields_) {
    if (!f->index || f->index->RecordCount() <= records) continue;
    // An index that knows records the table does not have cannot be trimmed:
    // it is rebuilt from the records.
    f->index.reset();
    DropFiles(f->definition_number);
    Create();
  }
  const bool fed = std::any_of(fields_->begin(), fields_->end(), [&](const auto& f) {
    return f->index && f->index->RecordCount() < records;
  });
  CatchUp();
  if (rebuild || fed) (void)Flush();
}

void TableIndexes::AddIndexOfNewField() {
  if (!factory_) return;
  Create();
  CatchUp();
}

void TableIndexes::Restart() {
  for (auto& f : *fields_) f->index.reset();
  DropFiles(-1);
  Create();
  CatchUp();
  if (!empty()) (void)Flush();
}

void TableIndexes::CatchUp() {
  const uint32_t records = records_.count();
  uint32_t from = records;
  for (const auto& f : *fields_) {
    if (f->index) from = std::min(from, f->index->RecordCount());
  }
  std::vector<Variant> values;
  for (uint32_t r = from; r < records; ++r) {
    // A record that cannot be read still takes its number (Empty values), so
    // that the index's numbering stays the table's.
    (void)records_.read(r, &values);
    bool due = false;
    for (size_t i = 0; i < fields_->size(); ++i) {
      FieldIndex* index = (*fields_)[i]->index.get();
      if (!index || index->RecordCount() != r) continue;
      unflushed_ = true;
      if (!index->AddRecord(r, values[i])) MarkDamaged();
      due = due || index->WantsFlush();
    }
    if (due) (void)Flush();
  }
}

void TableIndexes::TakeAppended(uint32_t record, const std::vector<Variant>& values) {
  bool failed = false;
  bool due = false;
  for (size_t i = 0; i < fields_->size(); ++i) {
    FieldIndex* index = (*fields_)[i]->index.get();
    if (!index) continue;
    unflushed_ = true;
    if (!index->AddRecord(record, i < values.size() ? values[i] : Variant())) failed = true;
    due = due || index->WantsFlush();
  }
  if (failed) MarkDamaged();
  if (due) (void)Flush();  // a failure keeps the marker: rebuilt at open
}

bool TableIndexes::AnyDamaged() const {
  return std::any_of(fields_->begin(), fields_->end(),
                     [](const auto& f) { return f->index && f->index->damaged(); });
}

void TableIndexes::RebuildDamaged() {
  bool any = false;
  for (auto& f : *fields_) {
    if (!f->index || !f->index->damaged()) continue;
    AppendEngineErrorLog("索引重建:" + table_ + "/" + f->name);
    f->index.reset();
    DropFiles(f->definition_number);
    any = true;
  }
  if (!any) return;
  Create();
  CatchUp();
}

void TableIndexes::MarkDamaged() {
  if (!damaged_) AppendEngineErrorLog("索引写入失败:" + table_);
  damaged_ = true;
  (void)TouchFile(fs_, MarkerPath());
}

EngineStatus TableIndexes::Flush() {
  // Records reach the disk before any index that refers to them; without
  // indexes this is what makes the records durable against power loss.
  if (!records_.sync()) return EngineStatus::Fail("记录同步失败:" + table_);
  if (empty()) return EngineStatus::Ok();
  // A failed write keeps the marker for the next open; otherwise an index
  // that a read found damaged is rebuilt now, before the marker goes.
  if (!damaged_) RebuildDamaged();
  const std::string marker = MarkerPath();
  ScopedFd file;
  int rc = file.Open(fs_, marker, O_WRONLY | O_CREAT, 0644);
  if (rc == 0) {
    rc = fs_.Sync(file.get());
    const int close_rc = file.Close();
    if (rc == 0) rc = close_rc;
  }
  if (rc == 0) rc = fs_.SyncDirectory(index_folder_);
  if (rc != 0) return EngineStatus::Fail(IoMessage("索引写入失败:", marker, rc));
  LUN_KILL_POINT("index-marker-created");
  bool ok = true;
  for (auto& f : *fields_) {
    if (!f->index) continue;
    LUN_KILL_POINT("index-flush-between-fields");
    if (!f->index->Flush()) ok = false;
  }
  if (!ok) damaged_ = true;
  if (damaged_) return EngineStatus::Fail("索引写入失败:" + table_);
  LUN_KILL_POINT("index-flush-done");
  rc = fs_.Unlink(marker);
  if (rc == 0) rc = fs_.SyncDirectory(index_folder_);
  LUN_KILL_POINT("index-marker-removed");
  if (rc != 0) return EngineStatus::Fail(IoMessage("索引写入失败:", marker, rc));
  unflushed_ = false;
  return EngineStatus::Ok();
}

void TableIndexes::Close(bool records_unsynced) {
  // A damaged index is rebuilt at the next open, not on the way out: its
  // marker stays. A session that changed nothing writes nothing.
  if (AnyDamaged()) damaged_ = true;
  if (unflushed_ || records_unsynced || damaged_) (void)Flush();
  for (auto& f : *fields_) f->index.reset();
  damaged_ = false;
  unflushed_ = false;
}

}  // namespace lun
