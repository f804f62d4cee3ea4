// The document table "文档", the log table "日志" and the writer of document
// records.
//
// One record per document; its "完整路径" (full path) is the document's key.
// AddOrUpdateDocument replaces the older records of a path unless one of
// them has the same modification time, size and file identity (the
// document is unchanged), and
// counts what it replaced in "历史数". While the table was empty when the
// current full scan began (the fast-insert mode) records are appended
// without that check, which saves one look-up per file.
//
// Every path check reads the exact-value index of "完整路径" directly (no
// query text is built): a query text has a length limit and characters of
// its own, and a path may be long and hold any of them. The index compares
// normalised values, so its candidates are confirmed against the stored
// path byte for byte.
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
#include <functional>
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
// "设备号:索引节点号" of the file the record was made from: a file replaced
// by another one with the same size and time (a rename over it) is still
// seen as changed. Added to tables made before it existed; empty for mail.
inline constexpr char kFileId[] = "文件编号";
}  // namespace doc

// Creates the table with its fields when it is missing (and adds the fields
// an older document table lacks); returns it, or null when it cannot be
// created.
DataTable* EnsureDocumentTable(SearchProject& project);
DataTable* EnsureLogTable(SearchProject& project);
DataTable* EnsureQueueTable(SearchProject& project);

// A file time (seconds since the epoch) as a date value in local time: days
// since 1899-12-30 with the time of day as the fraction.
double FileTimeToDate(std::time_t t);

struct DocumentRecord {
  std::string name;  // file name, or a mail's subject
  std::string type;  // extension without the dot, "DIR", or a mail source
  std::string path;  // the key
  // "路径": the directory of `path` when unset; mail records put their key
  // here as well.
  std::optional<std::string> directory;
  uint32_t size = 0;
  double created = 0;  // date values
  double modified = 0;
  std::u16string text;
  float power = 1.0f;
  std::string md5;
  std::string file_id;  // doc::kFileId
};

// The identity of a file for doc::kFileId.
std::string FileIdOf(uint64_t device, uint64_t inode);

// How many live documents are over the size limit of text reading
// (kMaxIndexedFileSize): found by name and attributes, their text never
// read. A search of "文件大小"; -1 when it fails.
int CountOversizeDocuments(SearchService& search);

// What the reconciliation compares of a file record.
struct StoredFile {
  uint32_t record = 0;
  std::string path;
  std::string type;  // "文件类型": the extension, or "DIR"
  uint32_t size = 0;
  double modified = 0;
  std::string file_id;
};

class DocumentWriter {
 public:
  // `project` and `search` must outlive the writer.
  DocumentWriter(SearchProject& project, SearchService& search);

  // Writes `record` unless a record of the same file state exists; deletes
  // the older records of its path. `force` checks for older records even in
  // fast-insert mode. False only when the document table cannot be had.
  bool AddOrUpdateDocument(const DocumentRecord& record, bool force);

  // Deletes every record whose full path is `path`; an archive's records
  // take the records of the members they list with them.
  void RemoveDocuments(const std::string& path);

  // The live records whose "完整路径" is exactly `path`, ascending.
  std::vector<uint32_t> FindPath(const std::string& path) const;
  // True when a live record of `record.path` has its modification time,
  // size and file identity: writing the file again would change nothing,
  // so its text need not be read.
  bool IsCurrent(const DocumentRecord& record) const;

  // Calls `visit` for every live record of a file (mail messages and
  // compiled-help pages are not files: their key is not a path whose
  // directory is their "路径"; archive members are not either: their
  // archive's record stands for them, and they go with it).
  void ForEachFileRecord(const std::function<void(const StoredFile&)>& visit) const;
  // The size, modification time and text of one live record; false for a
  // deleted or missing one.
  bool ReadFileState(uint32_t record, StoredFile* file, std::u16string* text) const;
  // Deletes one record (by number) unless it is deleted already, with the
  // members it lists when it is an archive's.
  void RemoveRecord(uint32_t record);
  // Deletes the records of the files below directory `directory`.
  void RemoveTree(const std::string& directory);
  // Writes the records of the files below directory `from` again under
  // `to` (a renamed or moved directory), text included, and deletes the
  // old ones. Returns the number moved.
  size_t MoveTree(const std::string& from, const std::string& to);

  // Makes the records of the files (and archive members) `which` picks
  // look changed: each is
  // written again with a modification time one second before its file's,
  // so that a reconciliation queues the file and the index thread reads it
  // again (an unchanged file is never read twice). Their text stays
  // searchable meanwhile. Returns how many were marked.
  size_t MarkChanged(const std::function<bool(const StoredFile&)>& which);

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

  // Called (on the writing thread) after each document record is appended:
  // the saved searches look at new records. Set before writing starts.
  void set_on_append(std::function<void()> on_append) { on_append_ = std::move(on_append); }

 private:
  std::vector<StoredFile> FilesBelow(const std::string& directory) const;
  // RemoveRecord, with check_mutex_ held by the caller.
  void RemoveRecordLocked(uint32_t record);
  // The record `f` as it is stored; false when it cannot be read.
  bool StoredRecord(const DataTable& table, const StoredFile& f, DocumentRecord* record) const;
  // Writes each live record of the files `choose` gives (called under the
  // check lock, so no record appended meanwhile is missed) again as
  // `change` makes it, and deletes the old one (only deletes it when
  // `change` says false). Returns how many were written.
  size_t Rewrite(const std::function<std::vector<StoredFile>()>& choose,
                 const std::function<bool(DocumentRecord*)>& change);
  // Whether record `r` describes the same file state as `record`.
  bool Matches(const DataTable& table, uint32_t r, const DocumentRecord& record) const;
  // Deletes the older records of `record.path` and says whether one of the
  // same file state exists; returns how many were deleted.
  uint32_t ReplaceOlder(const DocumentRecord& record, bool* unchanged);
  // Deletes the member records that record `r`, when it is an archive's,
  // lists in its text, except those in `keep` (a store lists up to 100,000).
  void RemoveListedMembers(DataTable& table, uint32_t r,
                           const std::unordered_set<std::string>& keep);
  // ForEachFileRecord, with archive members when `members` is true.
  void ForEachRecordOnDisk(bool members, const std::function<void(const StoredFile&)>& visit) const;
  // Appends one record; false when the append failed.
  bool Append(DataTable& table, const DocumentRecord& record, uint32_t history);
  void AddToCategoryList(uint32_t record, int category);
  // Whether a write of `path` looks for older records first.
  bool NeedsCheck(const std::string& path, bool force);

  SearchProject& project_;
  SearchService& search_;
  // Shared by each AddOrUpdateDocument, exclusive for ClearDocuments.
  std::shared_mutex write_gate_;
  // Held from the path check to the append, so that two writers of one
  // path (index thread, change monitor) never both append.
  std::mutex check_mutex_;
  std::atomic<bool> fast_insert_{false};
  std::mutex forced_mutex_;
  std::unordered_set<std::string> forced_paths_;  // written with force in fast-insert mode
  struct CategorySlot {
    mutable std::mutex mutex;
    std::vector<uint32_t> records;
  };
  std::array<CategorySlot, 8> categories_;
  std::function<void()> on_append_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_DOCUMENT_TABLE_H_
