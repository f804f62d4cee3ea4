#include "engine/query/search_service.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "config/settings_store.h"
#include "engine/query/operator_table.h"
#include "engine/query/query_escape.h"
#include "engine/query/query_parser.h"
#include "engine/query/whole_word.h"
#include "engine/storage/data_table.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/search_project.h"
#include "platform/error_log.h"
#include "platform/paths.h"

namespace lun {
namespace {

constexpr char kSearchFailed[] = "\t数据表检索失败!";
constexpr size_t kLoggedLineBytes = 1000;
// The longest normalised expression evaluated, in UTF-16 units; longer ones
// are refused as too long, like an over-long query string.
constexpr size_t kMaxNormalizedExpression = 1023;

int ClampedSetting(const SettingsStore& settings, const char* key, int fallback, int low,
                   int high, int below, int above) {
  const std::string text = settings.GetValue(kSearchSection, key);
  if (text.empty()) return fallback;
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (value < low) return below;
  if (value > high) return above;
  return static_cast<int>(value);
}

// Leaves a shared hold of the project gate when it goes out of scope.
class SharedGateHold {
 public:
  explicit SharedGateHold(ExclusiveGate& gate) : gate_(gate), held_(gate.TryEnterShared()) {}
  ~SharedGateHold() {
    if (held_) gate_.LeaveShared();
  }
  bool held() const { return held_; }

 private:
  ExclusiveGate& gate_;
  bool held_;
};

// Every record of `table` (deleted ones only with `in_all`), newest first
// when asked.
ResultSet AllRows(DataTable& table, bool newest_first, bool in_all,
                  std::pmr::memory_resource* memory) {
  ResultSet rows(memory);
  rows.table = static_cast<uint32_t>(table.position());
  FillAll(rows, table.record_count());
  if (!in_all) {
    const std::vector<uint32_t> deleted = table.DeletedRecords();
    RemoveRecords(rows, deleted);
  }
  if (newest_first) std::reverse(rows.records.begin(), rows.records.end());
  return rows;
}

// Appends the text of every term of `postfix` to the keyword list of the
// column it searched (every any-field column for a term without a field).
// Escapes are decoded: highlighting looks for the text the user meant.
void AddKeywords(const TokenList& postfix, const DataTable& table, Recordset* rs) {
  for (const QueryToken& t : postfix) {
    if (t.type != TokenType::kTerm) continue;
    const std::u16string text = DecodeQueryEscapes(t.text);
    std::vector<int> fields;
    if (t.field == kAnyField) {
      fields = table.any_fields();
    } else {
      fields.push_back(t.field);
    }
    for (Recordset::Column& c : rs->columns()) {
      if (std::find(fields.begin(), fields.end(), c.position) != fields.end()) {
        c.keywords.push_back(text);
      }
    }
  }
}

}  // namespace

ChannelSettings ChannelSettings::From(const SettingsStore& settings) {
  ChannelSettings s;
  s.channels = ClampedSetting(settings, key::kChannelCount, 10, 1, 300, 10, 300);
  s.wait_timeout_ms = ClampedSetting(settings, key::kSearchWaitTimeout, 3000, 1, 60000, 3000, 3000);
  return s;
}

// What a caller hands its worker. Shared by both, since an abandoned worker
// outlives its caller's wait.
struct SearchService::Request {
  std::string query;
  bool within = false;
  std::string previous_table;       // search within: the previous rows' table
  std::string previous_expression;  // ... and the expression that made them
  WithinMode mode = WithinMode::kIntersect;
  std::atomic<bool> cancel{false};
  // Guarded by the service's mutex:
  bool done = false;
  bool abandoned = false;
  int code = kEngineOk;
  std::unique_ptr<Recordset> result;
};

SearchService::SearchService(SearchProject& project, TermSourceFactory sources,
                             std::chrono::milliseconds watchdog,
                             uint32_t table_read_timeout_ms)
    : project_(project),
      sources_(std::move(sources)),
      watchdog_(watchdog),
      table_read_timeout_ms_(table_read_timeout_ms) {}

SearchService::~SearchService() {
  std::unique_lock lock(mutex_);
  shutting_down_ = true;
  for (Request* r : active_) r->cancel = true;
  work_ready_.notify_all();
  changed_.wait(lock, [&] { return running_workers_ == 0; });
}

void SearchService::WorkerLoop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (queue_.empty()) {
      if (shutting_down_ || idle_workers_ >= kIdleWorkers) break;
      ++idle_workers_;
      work_ready_.wait(lock, [&] { return !queue_.empty() || shutting_down_; });
      --idle_workers_;
      continue;
    }
    const std::shared_ptr<Request> request = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    const int code = Work(*request);
    lock.lock();
    request->done = true;
    request->code = code;
    if (request->abandoned) {
      // Nobody collects this result; the channel is free only now.
      request->result.reset();
      ++free_channels_;
    }
    active_.erase(std::find(active_.begin(), active_.end(), request.get()));
    changed_.notify_all();
  }
  --running_workers_;
  changed_.notify_all();
}

void SearchService::Configure(const ChannelSettings& settings) {
  std::lock_guard lock(mutex_);
  free_channels_ += settings.channels - channels_;
  channels_ = settings.channels;
  wait_timeout_ms_ = settings.wait_timeout_ms;
  changed_.notify_all();
}

void SearchService::ConfigurePool(const BufferPoolSettings& settings) {
  std::lock_guard lock(pool_mutex_);
  pools_.clear();
  pool_settings_ = settings;
}

BufferPool* SearchService::PoolFor(const DataTable& table) {
  std::lock_guard lock(pool_mutex_);
  if (pool_settings_.size == 0) return nullptr;
  std::unique_ptr<BufferPool>& pool = pools_[&table];
  if (!pool) {
    pool = std::make_unique<BufferPool>(JoinPath(pool_settings_.folder, table.name()),
                                        pool_settings_.size, pool_settings_.validity);
  }
  return pool.get();
}

int SearchService::Search(std::string_view query, std::unique_ptr<Recordset>* out) {
  auto request = std::make_shared<Request>();
  request->query = std::string(query);
  return Run(request, out);
}

int SearchService::SearchWithin(const Recordset& previous, std::string_view query,
                                WithinMode mode, std::unique_ptr<Recordset>* out) {
  auto request = std::make_shared<Request>();
  request->query = std::string(query);
  request->within = true;
  request->previous_table = previous.table() ? previous.table()->name() : std::string();
  request->previous_expression = previous.expression;
  request->mode = mode;
  return Run(request, out);
}

int SearchService::Run(std::shared_ptr<Request> request, std::unique_ptr<Recordset>* out) {
  out->reset();
  if (request->query.empty()) return kQueryEmpty;
  if (request->query.size() > kMaxQueryBytes) return kQueryTooLong;
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(wait_timeout_ms_),
                         [&] { return free_channels_ > 0 || shutting_down_; }) ||
      shutting_down_) {
    return kWaitTimedOut;
  }
  --free_channels_;
  active_.push_back(request.get());
  queue_.push_back(request);
  if (idle_workers_ >= static_cast<int>(queue_.size())) {
    work_ready_.notify_one();
  } else {
    ++running_workers_;
    std::thread([this] { WorkerLoop(); }).detach();
  }

  if (!changed_.wait_for(lock, watchdog_, [&] { return request->done; })) {
    request->abandoned = true;
    request->cancel = true;
    lock.unlock();
    AppendEngineErrorLog("回收线程");
    return kSearchServerReset;
  }
  *out = std::move(request->result);
  ++free_channels_;
  changed_.notify_all();
  return request->code;
}

int SearchService::Evaluate(DataTable& table, std::u16string_view expression, bool in_all,
                            bool whole_words, const std::atomic<bool>& cancel, ResultSet* rows,
                            TokenList* postfix) {
  if (!table.table_lock().ReadLock(table_read_timeout_ms_)) return kTableLocked;
  struct Unlock {
    DataTable& t;
    ~Unlock() { t.table_lock().Unlock(); }
  } unlock{table};
  const auto parsed = ParseExpression(
      OperatorTable::FromSettings(project_.settings()), expression,
      [&](std::string_view name) {
        const TableField* f = table.FindField(name);
        return f ? static_cast<int32_t>(f->position) : kUnknownField;
      },
      [&](int32_t field) {
        const TableField* f = table.FieldAt(field);
        return f ? f->type : kFieldUnknown;
      });
  if (!parsed) {
    AppendEngineErrorLog("解析错误");
    return kQuerySyntaxError;
  }
  *postfix = *parsed;
  rows->table = static_cast<uint32_t>(table.position());
  BufferPool* pool = PoolFor(table);
  std::optional<std::u16string> key;
  if (pool) {
    key = BufferPoolKey(*postfix, in_all, table.record_count(),
                        table.record_count() - table.live_count());
    // Whole-word results are other results of the same tokens.
    if (key && whole_words) key->push_back(u'W');
    if (key && pool->Lookup(*key, rows)) return kEngineOk;
  }
  std::unique_ptr<TermSource> source = sources_(table, &cancel);
  if (!source) return kTableSearchFailed;
  if (whole_words) source = WholeWordsOnly(std::move(source), table);
  if (EvaluatePostfix(*postfix, *source, in_all, rows, &cancel) != EvaluateStatus::kOk) {
    return kSearchServerReset;
  }
  if (key) pool->Store(*key, *rows);
  return kEngineOk;
}

int SearchService::Work(Request& request) {
  SharedGateHold gate(project_.gate());
  if (!gate.held()) return kDatabaseLocked;
  QueryParts parts;
  if (const int code = SplitQuery(request.query, &parts)) return code;
  // ">>>" targets are accepted and ignored: a search never writes records
  // into another table.
  std::string outcome = parts.table + ":" + parts.expression + "\t-1\t";
  DataTable* table = project_.FindTable(parts.table);
  if (!table) return kNoSuchTable;

  auto rs = std::make_unique<Recordset>(&project_);
  if (parts.expression.empty()) {
    if (!rs->Open(AllRows(*table, /*newest_first=*/true, parts.in_all, rs->memory()))) {
      return kRecordsetOpenFailed;
    }
    // Without an order clause the sort field is empty: the rows stay newest
    // first, and there is no current row until the caller moves.
    rs->SetSort(parts.sort_field, !parts.descending);
    request.result = std::move(rs);
    return kEngineOk;
  }

  const std::u16string expression = NormalizeQueryText(parts.expression);
  if (expression.size() > kMaxNormalizedExpression) return kQueryTooLong;
  const auto start = std::chrono::steady_clock::now();
  ResultSet rows(rs->memory());
  TokenList postfix;
  if (const int code = Evaluate(*table, expression, parts.in_all, parts.whole_words, request.cancel,
                                &rows, &postfix)) {
    AppendEngineErrorLog(outcome.substr(0, kLoggedLineBytes) + kSearchFailed);
    return code;
  }

  TokenList previous_postfix;
  if (request.within && project_.FindTable(request.previous_table) == table) {
    ResultSet previous(rs->memory());
    if (Evaluate(*table, NormalizeQueryText(request.previous_expression), false, false,
                 request.cancel, &previous, &previous_postfix) != kEngineOk) {
      AppendEngineErrorLog(request.previous_expression.substr(0, kLoggedLineBytes) + kSearchFailed);
      previous_postfix.clear();
    } else {
      switch (request.mode) {
        case WithinMode::kIntersect: Intersect(rows, previous); break;
        case WithinMode::kUnite: Unite(rows, previous); break;
        case WithinMode::kExclude:
          Subtract(previous, rows);
          rows.records.swap(previous.records);
          rows.weights.swap(previous.weights);
          break;
      }
    }
  }
  if (request.cancel) return kSearchServerReset;

  rs->expression = parts.expression;
  rs->elapsed_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!rs->Open(std::move(rows))) return kRecordsetOpenFailed;
  rs->SetSort(parts.sort_field, !parts.descending);
  AddKeywords(postfix, *table, rs.get());
  AddKeywords(previous_postfix, *table, rs.get());
  rs->MovePage(0);
  request.result = std::move(rs);
  return kEngineOk;
}

std::unique_ptr<Recordset> SearchService::OpenWholeTable(std::string_view name,
                                                         uint32_t first_page,
                                                         bool newest_first, bool in_all) {
  SharedGateHold gate(project_.gate());
  if (!gate.held()) return nullptr;
  DataTable* table = project_.FindTable(name);
  if (!table) return nullptr;
  auto rs = std::make_unique<Recordset>(&project_);
  if (!rs->Open(AllRows(*table, newest_first, in_all, rs->memory()))) return nullptr;
  rs->MovePage(first_page);
  return rs;
}

std::unique_ptr<Recordset> SearchService::OpenRecord(std::string_view name, uint32_t record) {
  SharedGateHold gate(project_.gate());
  if (!gate.held()) return nullptr;
  DataTable* table = project_.FindTable(name);
  if (!table) return nullptr;
  auto rs = std::make_unique<Recordset>(&project_);
  ResultSet row(rs->memory());
  row.table = static_cast<uint32_t>(table->position());
  row.records.push_back(record);
  if (!rs->Open(std::move(row))) return nullptr;
  rs->MovePage(1);
  return rs;
}

}  // namespace lun
