// SearchProject: the engine's database, a project file (project_format.h)
// listing tables, each a DataTable with its own data and index folders.
//
// The application has one, created at start-up and used by all threads;
// tools and tests create their own. Operations return an EngineStatus whose
// failure message was written to the engine error log ("TamrixError.Log").
//
// Thread safety: CreateTable and DeleteTable hold the project gate
// (ExclusiveGate) exclusively; searches enter it shared (TryEnterShared) so
// that a table cannot vanish under them. FindTable, TableAt and table_count
// read the table list without the gate, as the crawler and the pages do: they
// are safe while no DeleteTable runs (tables are deleted at start-up only).
// OpenProject, CreateProject, ReopenProject and CloseProject must not run
// while other threads use the project.
#ifndef LUN_ENGINE_STORAGE_SEARCH_PROJECT_H_
#define LUN_ENGINE_STORAGE_SEARCH_PROJECT_H_

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/data_table.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/exclusive_gate.h"
#include "engine/storage/field_index.h"

namespace lun {

class FileSystem;
class SettingsStore;

struct SearchProjectOptions {
  FileSystem* file_system = nullptr;   // null: DefaultFileSystem(); must outlive the project
  SettingsStore* settings = nullptr;   // null: Settings(); must outlive the project
  FieldIndexFactory index_factory;     // null: tables have no indexes
  uint32_t segment_record_limit = 1'000'000;  // records per segment
};

// A table folder as stored in the project file (project_format.h), resolved
// against the project file's folder: "" and "." are that folder, absolute
// paths stay, relative ones are joined to it.
std::string ResolveStoredFolder(const std::string& project_folder, const std::string& stored);

class SearchProject {
 public:
  explicit SearchProject(SearchProjectOptions options = {});
  ~SearchProject();  // CloseProject
  SearchProject(const SearchProject&) = delete;
  SearchProject& operator=(const SearchProject&) = delete;

  // Sets the factory used for tables opened from now on.
  void set_index_factory(FieldIndexFactory factory);

  // Opens the project file named by setting "检索设置" / "数据源": checks its
  // banner, creates the project folder when missing and opens every table
  // listed (a table that fails to open stays listed, is_open() false).
  // Fails with "不能打开工程文件" when the file cannot be opened, and
  // without a log message when the banner is wrong. An open project is
  // closed first.
  EngineStatus OpenProject();
  // Creates (or empties) the project file at `path`, stores the path under
  // "检索设置" / "数据源" and opens it.
  EngineStatus CreateProject(const std::string& path);
  // Points the settings store at `settings_file` (loading it), then
  // OpenProject.
  EngineStatus ReopenProject(const std::string& settings_file);
  // Closes every table (flushing indexes and deletions) and empties the list.
  void CloseProject();
  bool is_open() const { return open_; }

  const std::string& project_path() const { return path_; }
  // The project file's folder; default folder of new tables.
  const std::string& project_folder() const { return folder_; }

  // First table named `name` ignoring case; null if none.
  DataTable* FindTable(std::string_view name) const;
  // Table at `position`; null when out of range.
  DataTable* TableAt(int position) const;
  int table_count() const { return static_cast<int>(tables_.size()); }

  // Creates table `name` with its folders under `data_folder` and
  // `index_folder` (empty: the project folder) and opens it. Messages, in
  // the order they are checked: "表名长度大于256", "表名不能包含\/:*?"<>|",
  // "目录已存在!", "数据路径超长", "该表已经存在！", "表名不符合要求!". An
  // empty name fails without a message.
  EngineStatus CreateTable(const std::string& data_folder, const std::string& index_folder,
                           std::string_view name, std::string_view description);
  // Closes the table, deletes its folders with their content and its record
  // in the project file; later tables move up one position.
  EngineStatus DeleteTable(int position);
  EngineStatus DeleteTable(std::string_view name);

  ExclusiveGate& gate() { return gate_; }
  FileSystem& file_system() { return fs_; }
  SettingsStore& settings() { return settings_; }

 private:
  struct Entry {
    std::string name;
    std::string index_folder;  // as stored: relative to folder_ or absolute
    std::string data_folder;
    std::string description;
  };

  EngineStatus OpenProjectFile(const std::string& path);
  EngineStatus WriteProjectFile();
  std::string StoredFolder(const std::string& folder) const;
  std::unique_ptr<DataTable> OpenTable(const Entry& entry, int position);

  FileSystem& fs_;
  SettingsStore& settings_;
  FieldIndexFactory index_factory_;
  uint32_t segment_record_limit_;
  ExclusiveGate gate_;
  bool open_ = false;
  std::string path_;
  std::string folder_;
  std::vector<Entry> entries_;
  std::vector<std::unique_ptr<DataTable>> tables_;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_SEARCH_PROJECT_H_
