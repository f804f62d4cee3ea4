#include "engine/storage/search_project.h"

#include <cstring>
#include <filesystem>

#include "config/settings_store.h"
#include "engine/storage/name_rules.h"
#include "engine/storage/project_format.h"
#include "engine/storage/storage_files.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/paths.h"

namespace lun {
namespace {

namespace pf = project_format;

std::string FixedText(const char* p, size_t size) { return std::string(p, strnlen(p, size)); }

void PutText(char* record, size_t offset, size_t size, std::string_view text) {
  std::memcpy(record + offset, text.data(), std::min(text.size(), size - 1));
}

std::string AbsoluteFolder(const std::string& folder) {
  std::error_code ec;
  std::string out = std::filesystem::absolute(folder, ec).lexically_normal().string();
  if (ec) out = folder;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

}  // namespace

SearchProject::SearchProject(SearchProjectOptions options)
    : fs_(options.file_system ? *options.file_system : DefaultFileSystem()),
      settings_(options.settings ? *options.settings : Settings()),
      index_factory_(std::move(options.index_factory)),
      segment_record_limit_(options.segment_record_limit) {}

SearchProject::~SearchProject() { CloseProject(); }

void SearchProject::set_index_factory(FieldIndexFactory factory) {
  index_factory_ = std::move(factory);
}

// Stored folders are relative to the project folder when they lie inside it,
// so that a project can be moved as a whole. A folder outside it is stored
// absolute: a relative form with "../" would break when only the project
// file's folder moves.
std::string SearchProject::StoredFolder(const std::string& folder) const {
  const std::string absolute = AbsoluteFolder(folder);
  if (absolute == folder_) return ".";
  if (absolute.size() > folder_.size() && absolute.compare(0, folder_.size(), folder_) == 0 &&
      absolute[folder_.size()] == '/') {
    return absolute.substr(folder_.size() + 1);
  }
  return absolute;
}

std::string ResolveStoredFolder(const std::string& project_folder, const std::string& stored) {
  if (stored.empty() || stored == ".") return project_folder;
  if (stored[0] == '/') return stored;
  return std::filesystem::path(JoinPath(project_folder, stored)).lexically_normal().string();
}

std::unique_ptr<DataTable> SearchProject::OpenTable(const Entry& entry, int position) {
  TableEnvironment env;
  env.file_system = &fs_;
  env.settings = &settings_;
  env.index_factory = index_factory_;
  env.project_folder = folder_;
  env.segment_record_limit = segment_record_limit_;
  auto table = std::make_unique<DataTable>(env);
  // A table that fails to open stays listed with its open flag cleared.
  (void)table->Open(entry.name, entry.description, ResolveStoredFolder(folder_, entry.data_folder),
                    ResolveStoredFolder(folder_, entry.index_folder), position);
  return table;
}

EngineStatus SearchProject::OpenProject() {
  return OpenProjectFile(settings_.GetValue(kSearchSection, key::kDataSource));
}

EngineStatus SearchProject::OpenProjectFile(const std::string& path) {
  CloseProject();
  std::string data;
  if (path.empty() || ReadWholeFile(fs_, path, &data) != 0) {
    return EngineStatus::Fail(msg::kCannotOpenProject);
  }
  if (data.size() < pf::kRecordSize || FixedText(data.data(), pf::kRecordSize) != pf::kBanner) {
    return EngineStatus::FailQuietly(msg::kNotAProjectFile);
  }
  path_ = AbsoluteFolder(path);
  folder_ = DirName(path_);
  (void)MakeFolders(fs_, folder_);
  const size_t count = data.size() / pf::kRecordSize - 1;
  for (size_t i = 0; i < count; ++i) {
    const char* rec = data.data() + (i + 1) * pf::kRecordSize;
    Entry e;
    e.name = FixedText(rec + pf::kNameOffset, pf::kNameSize);
    e.index_folder = FixedText(rec + pf::kIndexFolderOffset, pf::kIndexFolderSize);
    e.data_folder = FixedText(rec + pf::kDataFolderOffset, pf::kDataFolderSize);
    e.description = FixedText(rec + pf::kDescriptionOffset, pf::kDescriptionSize);
    tables_.push_back(OpenTable(e, static_cast<int>(i)));
    entries_.push_back(std::move(e));
  }
  open_ = true;
  return EngineStatus::Ok();
}

EngineStatus SearchProject::CreateProject(const std::string& path) {
  CloseProject();
  std::string header(pf::kRecordSize, '\0');
  PutText(header.data(), 0, pf::kRecordSize, pf::kBanner);
  (void)MakeFolders(fs_, DirName(path));
  if (ReplaceFileAtomically(fs_, path, header) != 0) {
    return EngineStatus::FailQuietly(msg::kCannotCreateProject);
  }
  settings_.SetValue(kSearchSection, key::kDataSource, AbsoluteFolder(path));
  return OpenProjectFile(path);
}

EngineStatus SearchProject::ReopenProject(const std::string& settings_file) {
  (void)settings_.Load(settings_file);
  return OpenProject();
}

void SearchProject::CloseProject() {
  tables_.clear();  // each table flushes its indexes and closes its files
  entries_.clear();
  open_ = false;
}

DataTable* SearchProject::FindTable(std::string_view name) const {
  for (const auto& t : tables_) {
    if (EqualsIgnoringCase(t->name(), name)) return t.get();
  }
  return nullptr;
}

DataTable* SearchProject::TableAt(int position) const {
  if (position < 0 || position >= static_cast<int>(tables_.size())) return nullptr;
  return tables_[static_cast<size_t>(position)].get();
}

// The project file is small and rewritten whole (temporary file, sync,
// rename), so that a crash while a table is added or removed leaves the old
// list or the new one, never records shifted half-way.
EngineStatus SearchProject::WriteProjectFile() {
  std::string data((entries_.size() + 1) * pf::kRecordSize, '\0');
  PutText(data.data(), 0, pf::kRecordSize, pf::kBanner);
  for (size_t i = 0; i < entries_.size(); ++i) {
    char* rec = data.data() + (i + 1) * pf::kRecordSize;
    PutText(rec, pf::kNameOffset, pf::kNameSize, entries_[i].name);
    PutText(rec, pf::kIndexFolderOffset, pf::kIndexFolderSize, entries_[i].index_folder);
    PutText(rec, pf::kDataFolderOffset, pf::kDataFolderSize, entries_[i].data_folder);
    PutText(rec, pf::kDescriptionOffset, pf::kDescriptionSize, entries_[i].description);
  }
  if (const int rc = ReplaceFileAtomically(fs_, path_, data)) {
    return EngineStatus::Fail(msg::kCannotOpenProject + std::string(":") + ErrorText(rc));
  }
  return EngineStatus::Ok();
}

EngineStatus SearchProject::CreateTable(const std::string& data_folder,
                                        const std::string& index_folder, std::string_view name,
                                        std::string_view description) {
  if (name.empty()) return EngineStatus::FailQuietly();
  if (!open_) return EngineStatus::Fail(msg::kCannotOpenProject);
  ExclusiveGateHold hold(gate_);
  std::string data_root = data_folder.empty() ? folder_ : data_folder;
  std::string index_root = index_folder.empty() ? folder_ : index_folder;
  if (data_folder.empty() || index_folder.empty()) (void)MakeFolders(fs_, folder_);
  if (name.size() >= 260) return EngineStatus::Fail(msg::kTableNameTooLong);
  if (HasForbiddenNameChar(name)) return EngineStatus::Fail(msg::kTableNameBadChar);
  const std::string data_dir = JoinPath(data_root, name);
  const std::string index_dir = JoinPath(index_root, name);
  if (PathExists(data_dir) || PathExists(index_dir)) return EngineStatus::Fail(msg::kFolderExists);
  if (name.size() + 6 + index_dir.size() >= 259) return EngineStatus::Fail(msg::kDataPathTooLong);
  while (data_root.size() > 1 && data_root.back() == '/') data_root.pop_back();
  while (index_root.size() > 1 && index_root.back() == '/') index_root.pop_back();
  if (FindTable(name)) return EngineStatus::Fail(msg::kTableExists);

  // The table's record goes into the project file before its folders are
  // made: a crash in between leaves a listed table whose folders the next
  // open creates, never folders without a record, which would refuse the
  // table's creation for good with "目录已存在!".
  Entry e;
  e.name = name;
  e.index_folder = StoredFolder(index_root);
  e.data_folder = StoredFolder(data_root);
  e.description = description;
  entries_.push_back(e);
  if (EngineStatus s = WriteProjectFile(); !s) {
    entries_.pop_back();
    return s;
  }
  LUN_KILL_POINT("project-table-added");
  const std::string schema = JoinPath(data_dir, std::string(name) + ".stu");
  int fd = -1;
  if (MakeFolders(fs_, data_dir) != 0 ||
      fs_.Open(schema, O_RDWR | O_CREAT | O_EXCL, 0644, &fd) != 0) {
    (void)RemoveTree(fs_, data_dir);
    entries_.pop_back();
    (void)WriteProjectFile();
    return EngineStatus::Fail(msg::kTableNameInvalid);
  }
  (void)fs_.Close(fd);
  (void)MakeFolders(fs_, index_dir);
  tables_.push_back(OpenTable(e, static_cast<int>(tables_.size())));
  return EngineStatus::Ok();
}

EngineStatus SearchProject::DeleteTable(int position) {
  ExclusiveGateHold hold(gate_);
  if (position < 0 || position >= static_cast<int>(tables_.size())) {
    return EngineStatus::FailQuietly();
  }
  const size_t at = static_cast<size_t>(position);
  for (size_t i = at + 1; i < tables_.size(); ++i) tables_[i]->set_position(static_cast<int>(i - 1));
  const std::string data_dir = tables_[at]->data_folder();
  const std::string index_dir = tables_[at]->index_folder();
  tables_[at].reset();  // closes it
  (void)RemoveTree(fs_, index_dir);
  (void)RemoveTree(fs_, data_dir);
  LUN_KILL_POINT("project-table-folders-removed");
  tables_.erase(tables_.begin() + position);
  entries_.erase(entries_.begin() + position);
  return WriteProjectFile();
}

EngineStatus SearchProject::DeleteTable(std::string_view name) {
  for (size_t i = 0; i < tables_.size(); ++i) {
    if (EqualsIgnoringCase(tables_[i]->name(), name)) return DeleteTable(static_cast<int>(i));
  }
  return EngineStatus::FailQuietly();
}

}  // namespace lun
