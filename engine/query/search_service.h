// Searching a project: search channels, the search worker and its watchdog.
//
// Every search runs on a worker thread of its own, not the caller's: a
// small pool keeps up to kIdleWorkers threads waiting for the next search,
// so that a search does not pay for starting a thread; more run when more
// searches run at once. At most `channel count` searches
// run at once; a caller waits up to the wait time-out for a free channel
// ("通道数", "检索等待超时" in "检索设置"). A search that takes longer than
// the watchdog time (two minutes) is abandoned: its evaluation is cancelled
// cooperatively, so it releases every lock it holds on its own, and the
// caller gets code 11 at once. Its channel stays taken until the abandoned
// worker has really ended, so abandoned searches cannot pile up.
//
// A search holds the project gate shared (never waiting: a writer holding or
// awaiting the gate gives code 15) and its table's read lock during the
// evaluation (up to 15 s, else code 16).
//
// Thread safety: Search and SearchWithin may be called from any thread. The
// project must outlive the service; the destructor cancels running searches
// and waits for every worker thread, idle ones included, to end.
#ifndef LUN_ENGINE_QUERY_SEARCH_SERVICE_H_
#define LUN_ENGINE_QUERY_SEARCH_SERVICE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "engine/query/buffer_pool.h"
#include "engine/query/evaluator.h"
#include "engine/query/recordset.h"

namespace lun {

class DataTable;
class SearchProject;
class SettingsStore;

// Makes the evaluator's view of a table (its indexes and stored values);
// look-ups stop early when `cancel` is raised.
using TermSourceFactory = std::function<std::unique_ptr<TermSource>(
    DataTable& table, const std::atomic<bool>* cancel)>;

// How a search within a previous result combines the two.
enum class WithinMode { kIntersect = 1, kUnite = 2, kExclude = 3 };

struct ChannelSettings {
  int channels = 10;
  int wait_timeout_ms = 3000;
  // Clamped as the settings pages may hold anything: channels outside 1-300
  // give 10 below and 300 above, a wait outside 1-60000 ms gives 3000.
  static ChannelSettings From(const SettingsStore& settings);
};

class SearchService {
 public:
  // Worker threads kept waiting for work between searches.
  static constexpr int kIdleWorkers = 4;

  // `watchdog`: how long a search may run; `table_read_timeout`: how long a
  // search waits for its table's read lock (writers hold it while they
  // append). Tests shorten both.
  SearchService(SearchProject& project, TermSourceFactory sources,
                std::chrono::milliseconds watchdog = std::chrono::minutes(2),
                uint32_t table_read_timeout_ms = 15000);
  ~SearchService();
  SearchService(const SearchService&) = delete;
  SearchService& operator=(const SearchService&) = delete;

  // Replaces the channel count and wait time-out (at project open).
  void Configure(const ChannelSettings& settings);
  // Turns the buffer pool on (size > 0) or off; drops every cached result.
  void ConfigurePool(const BufferPoolSettings& settings);

  // Runs `query`; returns an engine result code and, with 0, the rows.
  int Search(std::string_view query, std::unique_ptr<Recordset>* out);
  // Runs `query` and combines it with the rows of `previous` (see WithinMode)
  // when both search the same table. `previous` must stay alive during the
  // call.
  int SearchWithin(const Recordset& previous, std::string_view query, WithinMode mode,
                   std::unique_ptr<Recordset>* out);

  // Every record of a table, highest record number first when
  // `newest_first`; null when the table does not exist or the project is
  // locked by a writer.
  std::unique_ptr<Recordset> OpenWholeTable(std::string_view table, uint32_t first_page,
                                            bool newest_first, bool in_all);
  // One record as the only row; null when the table does not exist.
  std::unique_ptr<Recordset> OpenRecord(std::string_view table, uint32_t record);

 private:
  struct Request;
  int Run(std::shared_ptr<Request> request, std::unique_ptr<Recordset>* out);
  // A worker thread: runs queued requests until none is left and enough
  // workers are idle already, or the service shuts down.
  void WorkerLoop();
  int Work(Request& request);
  // Parses and evaluates `expression` (normalised) on `table` under its read
  // lock; the postfix list goes to `*postfix` for the keyword lists.
  // With `whole_words`, Latin terms keep only their whole-word matches.
  int Evaluate(DataTable& table, std::u16string_view expression, bool in_all, bool whole_words,
               const std::atomic<bool>& cancel, ResultSet* rows, TokenList* postfix);

  SearchProject& project_;
  TermSourceFactory sources_;
  std::chrono::milliseconds watchdog_;
  uint32_t table_read_timeout_ms_;

  std::mutex mutex_;
  std::condition_variable changed_;
  int channels_ = 10;
  int free_channels_ = 10;
  int wait_timeout_ms_ = 3000;
  int running_workers_ = 0;  // worker threads alive, idle ones included
  int idle_workers_ = 0;     // ... of which waiting for work
  bool shutting_down_ = false;
  std::condition_variable work_ready_;
  std::deque<std::shared_ptr<Request>> queue_;  // taken a channel, no worker yet
  std::vector<Request*> active_;  // requests whose search still runs

  // The buffer pools, one per table, made when the table is first searched.
  BufferPool* PoolFor(const DataTable& table);
  std::mutex pool_mutex_;
  BufferPoolSettings pool_settings_;
  std::map<const DataTable*, std::unique_ptr<BufferPool>> pools_;
};

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_SEARCH_SERVICE_H_
