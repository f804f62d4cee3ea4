// Saved searches that watch the index: the user saves a query from the
// results page, and every document written after that (new, or changed so
// that it got a new record) which the query finds becomes a new hit of the
// search, shown in the web UI until the user has seen it, and announced by
// a notice (the shell's popup, a log line without a display).
//
// Checking runs the saved queries through the engine itself, so a saved
// search finds exactly what the results page finds. It is cheap because it
// is batched: the document writer only says that records were appended
// (NoteAppended, a flag and a wake-up); a checker thread waits until writing
// pauses for a moment (kSettle, at most kMaxDelay) and then runs each query
// once for all the records appended meanwhile, keeping the rows whose record
// number is at or above the search's mark. A check costs about what the
// saved queries cost on the whole table, whatever was written, so the
// checker paces itself: after a check that took T it waits at least
// (kPaceFactor - 1) * T before the next one, which keeps the checks to one
// part in kPaceFactor of one core however large the index grows; hits are
// only found later, never lost (the marks cover every record since the
// last check). Documents written by the first
// full scan of an empty table (the writer's fast-insert mode: everything is
// new) advance the marks without hits, so a re-index does not flood the
// user.
//
// The searches live in one text file (one line per search and per unseen
// hit), rewritten atomically at each change. A damaged line is skipped and
// the file as it was is kept beside it as FILE + ".damaged".
//
// Thread safety: every member may be called from any thread.
#ifndef LUN_CRAWLER_SAVED_SEARCHES_H_
#define LUN_CRAWLER_SAVED_SEARCHES_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lun {

class DocumentWriter;
class SearchProject;
class SearchService;

// The file of the saved searches, in the database's folder.
inline constexpr char kSavedSearchesFile[] = "SavedSearches";
// The title of the notice of new hits (the shell opens the list of saved
// searches when its popup is clicked).
inline constexpr char kSavedSearchNoticeTitle[] = "已保存的搜索有新结果";

struct SavedSearchHit {
  uint32_t record = 0;
  int64_t found_at = 0;  // seconds since the epoch
  std::string path;
  std::string name;
};

struct SavedSearch {
  uint32_t id = 0;
  std::string name;   // what the user called it
  std::string query;  // "[文档]:" + expression (+ modifiers), no order
  std::string link;   // the results page's parameters, to run it again
  int64_t created = 0;
  uint32_t next_record = 0;  // records from here on are new to it
  uint64_t unseen = 0;       // new hits not seen yet (the list keeps the latest)
  std::vector<SavedSearchHit> hits;
};

class SavedSearches {
 public:
  // Unseen hits kept per search; `unseen` counts them all.
  static constexpr size_t kMaxHitsKept = 200;
  static constexpr size_t kMaxSearches = 100;
  static constexpr std::chrono::milliseconds kSettle{700};
  static constexpr std::chrono::milliseconds kMaxDelay{5000};
  static constexpr int kPaceFactor = 20;

  using Notifier = std::function<void(const std::string& title, const std::string& text)>;

  // `file`: where the searches are kept. `search`, `project` and `writer`
  // must outlive the object.
  SavedSearches(std::string file, SearchService& search, SearchProject& project,
                const DocumentWriter& writer);
  ~SavedSearches();
  SavedSearches(const SavedSearches&) = delete;
  SavedSearches& operator=(const SavedSearches&) = delete;

  // Reads the file (a missing one is an empty list). Returns the number of
  // damaged lines skipped.
  size_t Load();

  // Saves a search; its hits are the documents written from now on. The
  // query must search "文档" and run; `name` empty takes the query. Returns
  // the new id, or 0 with the reason in *error.
  uint32_t Add(std::string name, std::string query, std::string link, std::string* error);
  bool Remove(uint32_t id);
  // Forgets the search's unseen hits. False for an unknown id.
  bool MarkSeen(uint32_t id);
  std::vector<SavedSearch> List() const;
  // All unseen hits of all searches (the badge).
  uint64_t UnseenCount() const;

  // Called after records were appended to "文档": wakes the checker.
  void NoteAppended();
  // Runs the check now: every search against the records appended since
  // its mark. Returns the number of new hits.
  size_t CheckNow();

  // Starts the checker thread, which calls `notify` once per search and
  // check that found new hits. Stop (or the destructor) ends it.
  void Start(Notifier notify);
  void Stop();

 private:
  void CheckerLoop();
  // Writes the file; the caller holds mutex_.
  void SaveLocked() const;

  const std::string file_;
  SearchService& search_;
  SearchProject& project_;
  const DocumentWriter& writer_;

  mutable std::mutex mutex_;
  std::vector<SavedSearch> searches_;
  uint32_t next_id_ = 1;

  std::mutex check_mutex_;  // one check at a time

  std::mutex wake_mutex_;
  std::condition_variable wake_;
  bool pending_ = false;
  bool stopping_ = false;
  Notifier notify_;
  std::thread checker_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_SAVED_SEARCHES_H_
