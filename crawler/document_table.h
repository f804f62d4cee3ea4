// The document table "文档", the log table "日志" and the writer of document
// records.
//
// One record per document; its "完整路径" (full path) is the document's key.
// AddOrUpdateDocument replaces the older records of a path unless one of
// them has the same modification time (the document is unchanged), and
// counts what it replaced in "历史数". While the table was empty when the
// current full scan began (the fast-insert mode) records are appended
// without that check, which saves one query per file.
//
// Category lists: for each of the eight categories (scan_scope.h), the
// record numbers of its documents, so result pages can filter by category
// without a query.
//
// Thread safety: every member may be called from any thread; the engine
// serialises table access, each category list has its own lock.
#ifndef LUN_CRAWLER_DOCUMENT_TABLE_H_
#define LUN_CRAWLER_DOCUMENT_TABLE_H_

#include <array>
#include <atomic>
#include <ctime>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace lun {

class DataTable;
class SearchProject;
class SearchService;

inline constexpr char kDocumentTable[] = "文档";
inline constexpr char kQueueTable[] = "待扫描文件";
inline constexpr char kLogTable[] = "日志";

namespace doc {
inline constexpr char kName[] = "文件名称";
inline constexpr char kType[] = "文件类型";
inline constexpr char kPath[] = "完整路径";
inline constexpr char kDirectory[] = "路径";
inline constexpr char kSize[] = "文件大小";
inline constexpr char kCreated[] = "创建时间";
inline constexpr char kModified[] = "修改时间";
inline constexpr char kText[] = "文本内容";
inline constexpr char kPower[] = "Power";
inline constexpr char kCategory[] = "分类";
inline constexpr char kHistory[] = "历史数";
inline constexpr char kMd5[] = "MD5";
}  // namespace doc

// Creates the table with its fields when it is missing; returns it, or null
// when it cannot be created.
DataTable* EnsureDocumentTable(SearchProject& project);
DataTable* EnsureLogTable(SearchProject& project);
DataTable* EnsureQueueTable(SearchProject& project);

// A file time (seconds since the epoch) as a date value in local time: days
// since 1899-12-30 with the time of day as the fraction.
double FileTimeToDate(std::time_t t);

struct DocumentRecord {
  std::string name;       // file name, or a mail's subject
  std::string type;       // extension without the dot, "DIR", or a mail source
  std::string path;       // the key
  // "路径": the directory of `path` when unset; mail records put their key
  // here as well.
  std::optional<std::string> directory;
  uint32_t size = 0;
  double created = 0;     // date values
  double modified = 0;
  std::u16string text;
  float power = 1.0f;
  std::string md5;
};

class DocumentWriter {
 public:
  // `project` and `search` must outlive the writer.
  DocumentWriter(SearchProject& project, SearchService& search);

  // Writes `record` unless an equal-dated record of its path exists; deletes
  // the older records of its path. `force` checks for older records even in
  // fast-insert mode. False only when the document table cannot be had.
  bool AddOrUpdateDocument(const DocumentRecord& record, bool force);

  // Deletes every record whose full path is `path`.
  void RemoveDocuments(const std::string& path);

  // Empties the document table (when it exists) and the category lists.
  // Waits for the records being written and holds new ones back until the
  // table is empty, so none lands half-way. False when the table cannot be
  // emptied.
  bool ClearDocuments();

  // "数据连接已关闭", "“文档”数据表不存在" or
  // "待索引文件: %d，已索引文件: %d".
  std::string StatusText() const;

  // Fills the category lists from the table ("[文档]:分类=" + name).
  void BuildCategoryLists();
  std::vector<uint32_t> CategoryList(int index) const;

  // Fast-insert mode: the table was empty when the current full scan began.
  // A path written with `force` meanwhile (the change monitor's) is checked
  // again when the walk reaches it, so it never gets two records.
  void set_fast_insert(bool on);
  bool fast_insert() const { return fast_insert_; }

 private:
  // Runs the path query; nullopt when it fails. Deletes older records and
  // says whether an equal-dated one exists.
  std::optional<uint32_t> ReplaceOlder(const std::string& path, double modified,
                                       bool* unchanged);
  void AddToCategoryList(uint32_t record, int category);
  // Whether a write of `path` looks for older records first.
  bool NeedsCheck(const std::string& path, bool force);

  SearchProject& project_;
  SearchService& search_;
  // Shared by each AddOrUpdateDocument, exclusive for ClearDocuments.
  std::shared_mutex write_gate_;
  std::atomic<bool> fast_insert_{false};
  std::mutex forced_mutex_;
  std::unordered_set<std::string> forced_paths_;  // written with force in fast-insert mode
  struct CategorySlot {
    mutable std::mutex mutex;
    std::vector<uint32_t> records;
  };
  std::array<CategorySlot, 8> categories_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_DOCUMENT_TABLE_H_
