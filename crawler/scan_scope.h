// What the crawler looks at: which trees are walked, which paths are never
// entered or indexed, which files are admitted by their type or refused by
// their size, and into which category a document falls.
//
// Type tokens and lists: a file's token is "|" + extension + "|" (the text
// after the last dot of its name; "||" without one). A type list is
// upper-case tokens joined by single "|" with a "|" at both ends
// ("|DOC|XLS|"); every comparison is a case-insensitive search of a token in
// a list. Special tokens of the document-type list: "|DIRECTORY|" (record
// directories too), "|FILENAME|" (admit every file), "|FOXMAIL|",
// "|OUTLOOK|", "|OUTLOOKEXPRESS|" (mail sources), "|CHM|" (compiled help).
//
// Paths: the scope works on absolute paths with "/". A path is "under" a
// directory when it equals it or continues it after a "/" (a forbidden
// "/home/u/doc" does not exclude "/home/u/documents"); comparisons are exact,
// as the file system's are. A permitted root that lies inside a forbidden
// path (a folder the user chose under the temporary directory) is walked:
// the nearer choice wins.
//
// Thread safety: ScanScope is shared by the walker, the change monitor and
// the settings pages; every member takes its own lock.
#ifndef LUN_CRAWLER_SCAN_SCOPE_H_
#define LUN_CRAWLER_SCAN_SCOPE_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

class SettingsStore;

// The first component of `path` that keeps it out of the index by its name
// (one starting with "$" or ".", or "lost+found"); empty when none does.
std::string_view ExcludedComponentOf(std::string_view path);

// True when `path` is `directory` or lies below it.
bool IsPathUnder(std::string_view path, std::string_view directory);

// "|" + value + "|", every "||" made "|", upper case.
std::string NormalizeTypeList(std::string_view value);

// The "其他文本类型" pattern form ("*.log;*.ini;") as a type list: each item
// up to its ";" trimmed of "*", "." and blanks; empty items skipped; a piece
// after the last ";" is not taken.
std::string TypeListFromPatterns(std::string_view patterns);

// "|" + upper-case extension of the last path component + "|".
std::string TypeTokenOf(std::string_view path);

// Case-insensitive search of `token` in `list`.
bool ListContainsToken(std::string_view list, std::string_view token);

// The eight categories, in the order they are tried: "文档", "网页", "邮件",
// "音乐", "视频", "图像", "程序", "其它" (everything else).
std::string CategoryOfType(std::string_view token);
int CategoryIndex(std::string_view name);  // -1 for an unknown name
std::string CategoryName(int index);       // empty outside 0-7

// Files larger than this are not indexed.
inline constexpr uint64_t kMaxIndexedFileSize = 20971520;
bool IsSizeIndexable(uint64_t size);

// True when the file system holding `path` has at least `megabytes` MiB
// available to the user (statvfs); false when it cannot be asked.
bool HasDiskSpace(const std::string& path, uint64_t megabytes);

enum class TypeListKind { kDocument, kOtherText, kPlugin, kMsnPlugin };

class ScanScope {
 public:
  // Reads the four type lists, the permitted roots ("允许扫描"; when empty,
  // `default_root` is stored there and used_default_roots() becomes true) and
  // the forbidden paths ("禁止扫描", followed by `system_forbidden`: the
  // virtual file systems, the temporary directory and the application home).
  void Load(SettingsStore& settings, const std::string& default_root,
            const std::vector<std::string>& system_forbidden);

  // Replaces one type list with the normalised form of `value` (the pattern
  // form for kOtherText). Returns true when the new list holds a token the
  // old one lacked: new types are worth a rescan. `*lost` (may be null)
  // tells whether the old list held a token the new one lacks.
  bool ReplaceTypeList(TypeListKind kind, std::string_view value, bool* lost = nullptr);
  std::string TypeList(TypeListKind kind) const;

  bool IsTypeAdmitted(std::string_view token) const;
  // True when the text of files of type `token` is asked of the crawl
  // service under the current type lists (TextSourceOf).
  bool ServiceExtracts(std::string_view token) const;
  bool IsDirectoryExcluded(std::string_view path) const;
  // Why the walk would skip the root `root`, in words for the user: it does
  // not exist, is no folder, cannot be read, holds a hidden or system name
  // ("." or "$" first, "lost+found"), or lies in a forbidden path (which
  // one). Empty when it is walked.
  std::string WhyRootSkipped(const std::string& root) const;
  bool IsFileExcluded(std::string_view path) const;
  // The forbidden path that keeps `path` out (empty when none does): the
  // same rule IsFileExcluded applies, named for the index diagnosis.
  std::string ForbiddenPathOver(std::string_view path) const;

  std::vector<std::string> PermittedRoots() const;
  // True when `path` lies under (or is) a permitted root.
  bool IsInPermittedRoot(std::string_view path) const;
  // Replaces the permitted roots for this process only (the settings keep
  // theirs): a one-shot indexing of chosen folders.
  void SetPermittedRoots(const std::vector<std::string>& roots);
  bool used_default_roots() const;

  // While the crawler clears its tables no file is indexed.
  void SetClearing(bool clearing);

 private:
  bool IsForbidden(std::string_view path) const;                    // caller holds mutex_
  const std::string* ForbiddingEntry(std::string_view path) const;  // caller holds mutex_

  mutable std::mutex mutex_;
  std::string lists_[4];
  std::vector<std::string> permitted_;
  std::vector<std::string> forbidden_;
  bool used_default_roots_ = false;
  bool clearing_ = false;
};

// The default system part of the forbidden list: /proc, /sys, /dev, /run, the
// temporary directory and the application home.
std::vector<std::string> SystemForbiddenPaths();

// Makes ApplySetting of "文档类型", "其他文本类型", "LUNPlugType" and
// "MSNPlugType" replace the scope's list; `on_new_types` runs when a list
// gained a type (a rescan is then offered), `on_document_types` (may be
// null) after every change of "文档类型" with the new value (the mail sources
// follow it), `on_lost_types` (may be null) when a list lost a type.
void InstallTypeListHooks(SettingsStore& settings, ScanScope& scope,
                          std::function<void()> on_new_types,
                          std::function<void(const std::string&)> on_document_types = {},
                          std::function<void()> on_lost_types = {});

}  // namespace lun

#endif  // LUN_CRAWLER_SCAN_SCOPE_H_
