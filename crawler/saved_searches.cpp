#include "crawler/saved_searches.h"

#include <algorithm>
#include <ctime>
#include <sstream>

#include "config/tab_fields.h"
#include "crawler/document_table.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "engine/storage/data_table.h"
#include "engine/storage/engine_error.h"
#include "engine/storage/search_project.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace lun {

namespace {

constexpr char kFileHead[] = "lun-saved-searches 1";
constexpr char kQueryPrefix[] = "[文档]:";

bool ToNumber(const std::string& text, uint64_t* out) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + static_cast<uint64_t>(c - '0');
  }
  *out = n;
  return true;
}

// One search's line: S id created next_record unseen name query link.
bool ParseSearch(const std::vector<std::string>& f, SavedSearch* s) {
  uint64_t id, created, next, unseen;
  if (f.size() != 8 || !ToNumber(f[1], &id) || id == 0 || id > UINT32_MAX ||
      !ToNumber(f[2], &created) || !ToNumber(f[3], &next) || next > UINT32_MAX ||
      !ToNumber(f[4], &unseen)) {
    return false;
  }
  s->id = static_cast<uint32_t>(id);
  s->created = static_cast<int64_t>(created);
  s->next_record = static_cast<uint32_t>(next);
  s->unseen = unseen;
  s->name = f[5];
  s->query = f[6];
  s->link = f[7];
  return s->query.starts_with(kQueryPrefix);
}

// One hit's line: H search_id record found_at path name.
bool ParseHit(const std::vector<std::string>& f, uint32_t* id, SavedSearchHit* h) {
  uint64_t search, record, found;
  if (f.size() != 6 || !ToNumber(f[1], &search) || search > UINT32_MAX ||
      !ToNumber(f[2], &record) || record > UINT32_MAX || !ToNumber(f[3], &found)) {
    return false;
  }
  *id = static_cast<uint32_t>(search);
  h->record = static_cast<uint32_t>(record);
  h->found_at = static_cast<int64_t>(found);
  h->path = f[4];
  h->name = f[5];
  return true;
}

// The query of a saved search: it searches "文档" and writes nothing.
bool AcceptableQuery(const std::string& query) {
  return query.starts_with(kQueryPrefix) && query.find(">>>") == std::string::npos &&
         query.find('\n') == std::string::npos;
}

// Adds `hit` to the unseen hits of `s`: a path already there is replaced
// (the newer version), the oldest hits go beyond kMaxHitsKept.
void AddHit(SavedSearch* s, SavedSearchHit hit) {
  auto same = std::find_if(s->hits.begin(), s->hits.end(),
                           [&hit](const SavedSearchHit& h) { return h.path == hit.path; });
  if (same != s->hits.end()) {
    s->hits.erase(same);
  } else {
    ++s->unseen;
  }
  s->hits.push_back(std::move(hit));
  if (s->hits.size() > SavedSearches::kMaxHitsKept) s->hits.erase(s->hits.begin());
}

}  // namespace

SavedSearches::SavedSearches(std::string file, SearchService& search, SearchProject& project,
                             const DocumentWriter& writer)
    : file_(std::move(file)), search_(search), project_(project), writer_(writer) {}

SavedSearches::~SavedSearches() { Stop(); }

size_t SavedSearches::Load() {
  std::string data;
  if (ReadWholeFile(DefaultFileSystem(), file_, &data) != 0) return 0;
  std::lock_guard lock(mutex_);
  searches_.clear();
  size_t damaged = 0;
  std::istringstream lines(data);
  std::string line;
  bool first = true;
  while (std::getline(lines, line)) {
    if (first) {
      first = false;
      if (line == kFileHead) continue;
    }
    const std::vector<std::string> f = SplitFields(line);
    SavedSearch s;
    SavedSearchHit hit;
    uint32_t id = 0;
    if (f[0] == "S" && ParseSearch(f, &s)) {
      next_id_ = std::max(next_id_, s.id + 1);
      searches_.push_back(std::move(s));
    } else if (f[0] == "H" && ParseHit(f, &id, &hit) && !searches_.empty() &&
               searches_.back().id == id) {
      searches_.back().hits.push_back(std::move(hit));
    } else if (!line.empty()) {
      ++damaged;
    }
  }
  if (damaged > 0) {
    // Keep what could not be read; the next save writes the good part.
    (void)ReplaceFileAtomically(DefaultFileSystem(), file_ + ".damaged", data, 0600);
  }
  return damaged;
}

void SavedSearches::SaveLocked() const {
  std::string out = std::string(kFileHead) + "\n";
  for (const SavedSearch& s : searches_) {
    out += "S\t" + std::to_string(s.id) + "\t" + std::to_string(s.created) + "\t" +
           std::to_string(s.next_record) + "\t" + std::to_string(s.unseen) + "\t" +
           EscapeField(s.name) + "\t" + EscapeField(s.query) + "\t" + EscapeField(s.link) + "\n";
    for (const SavedSearchHit& h : s.hits) {
      out += "H\t" + std::to_string(s.id) + "\t" + std::to_string(h.record) + "\t" +
             std::to_string(h.found_at) + "\t" + EscapeField(h.path) + "\t" + EscapeField(h.name) +
             "\n";
    }
  }
  // A failed write leaves the old file; the next change writes again.
  (void)ReplaceFileAtomically(DefaultFileSystem(), file_, out, 0600);
}

uint32_t SavedSearches::Add(std::string name, std::string query, std::string link,
                            std::string* error) {
  if (!AcceptableQuery(query)) {
    *error = "只能保存对“文档”的搜索";
    return 0;
  }
  std::unique_ptr<Recordset> rs;
  const int code = search_.Search(query, &rs);
  if (code != 0) {
    *error = EngineErrorText(code);
    return 0;
  }
  DataTable* table = project_.FindTable(kDocumentTable);
  std::lock_guard lock(mutex_);
  if (searches_.size() >= kMaxSearches) {
    *error = "已保存的搜索太多（最多 " + std::to_string(kMaxSearches) + " 个），请先删除不用的";
    return 0;
  }
  SavedSearch s;
  s.id = next_id_++;
  s.name = name.empty() ? query.substr(sizeof(kQueryPrefix) - 1) : std::move(name);
  s.query = std::move(query);
  s.link = std::move(link);
  s.created = std::time(nullptr);
  s.next_record = table ? table->record_count() : 0;
  searches_.push_back(std::move(s));
  SaveLocked();
  return searches_.back().id;
}

bool SavedSearches::Remove(uint32_t id) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(searches_.begin(), searches_.end(),
                         [id](const SavedSearch& s) { return s.id == id; });
  if (it == searches_.end()) return false;
  searches_.erase(it);
  SaveLocked();
  return true;
}

bool SavedSearches::MarkSeen(uint32_t id) {
  std::lock_guard lock(mutex_);
  for (SavedSearch& s : searches_) {
    if (s.id != id) continue;
    if (s.unseen > 0 || !s.hits.empty()) {
      s.unseen = 0;
      s.hits.clear();
      SaveLocked();
    }
    return true;
  }
  return false;
}

std::vector<SavedSearch> SavedSearches::List() const {
  std::lock_guard lock(mutex_);
  return searches_;
}

uint64_t SavedSearches::UnseenCount() const {
  std::lock_guard lock(mutex_);
  uint64_t n = 0;
  for (const SavedSearch& s : searches_) n += s.unseen;
  return n;
}

void SavedSearches::NoteAppended() {
  {
    std::lock_guard lock(wake_mutex_);
    if (pending_) return;
    pending_ = true;
  }
  wake_.notify_one();
}

size_t SavedSearches::CheckNow() {
  std::lock_guard one(check_mutex_);
  DataTable* table = project_.FindTable(kDocumentTable);
  if (!table) return 0;
  const uint32_t end = table->record_count();
  // Everything the first scan of an empty table writes is new: no hits.
  const bool quiet = writer_.fast_insert();
  struct Work {
    uint32_t id;
    std::string query;
    uint32_t from;
  };
  std::vector<Work> work;
  {
    std::lock_guard lock(mutex_);
    for (const SavedSearch& s : searches_) {
      // A mark past the end: the table was emptied (re-index).
      if (s.next_record != end) work.push_back({s.id, s.query, std::min(s.next_record, end)});
    }
  }
  size_t found = 0;
  for (const Work& w : work) {
    std::vector<SavedSearchHit> hits;
    std::unique_ptr<Recordset> rs;
    if (!quiet && w.from < end && search_.Search(w.query, &rs) == 0) {
      // Rows come in ascending record order: the new ones are at the end.
      const auto& records = rs->rows().records;
      const int path = rs->FindColumn(doc::kPath), name = rs->FindColumn(doc::kName);
      auto first = std::lower_bound(records.begin(), records.end(), w.from);
      for (auto it = first; it != records.end() && *it < end; ++it) {
        rs->Move(it - records.begin());
        hits.push_back({*it, std::time(nullptr), ToNarrow(rs->Value(path).AsString()),
                        ToNarrow(rs->Value(name).AsString())});
      }
    }
    std::lock_guard lock(mutex_);
    auto s = std::find_if(searches_.begin(), searches_.end(),
                          [&w](const SavedSearch& x) { return x.id == w.id; });
    if (s == searches_.end()) continue;  // removed meanwhile
    s->next_record = end;
    for (SavedSearchHit& h : hits) AddHit(&*s, std::move(h));
    found += hits.size();
  }
  if (!work.empty()) {
    std::lock_guard lock(mutex_);
    SaveLocked();
  }
  return found;
}

void SavedSearches::Start(Notifier notify) {
  std::lock_guard lock(wake_mutex_);
  if (checker_.joinable()) return;
  notify_ = std::move(notify);
  stopping_ = false;
  checker_ = std::thread([this] { CheckerLoop(); });
}

void SavedSearches::Stop() {
  {
    std::lock_guard lock(wake_mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (checker_.joinable()) checker_.join();
}

void SavedSearches::CheckerLoop() {
  std::unique_lock lock(wake_mutex_);
  while (true) {
    wake_.wait(lock, [this] { return pending_ || stopping_; });
    if (stopping_) return;
    // Let a burst of writes end (each new one restarts the pause), but no
    // longer than kMaxDelay in all.
    const auto deadline = std::chrono::steady_clock::now() + kMaxDelay;
    while (!stopping_) {
      pending_ = false;
      const auto until = std::min(deadline, std::chrono::steady_clock::now() + kSettle);
      wake_.wait_until(lock, until, [this] { return pending_ || stopping_; });
      if (!pending_ || std::chrono::steady_clock::now() >= deadline) break;
    }
    if (stopping_) return;
    lock.unlock();
    const auto began = std::chrono::steady_clock::now();
    std::vector<std::pair<std::string, uint64_t>> before;
    for (const SavedSearch& s : List()) before.emplace_back(s.name, s.unseen);
    if (CheckNow() > 0 && notify_) {
      for (const SavedSearch& s : List()) {
        auto old = std::find_if(before.begin(), before.end(),
                                [&s](const auto& b) { return b.first == s.name; });
        const uint64_t was = old == before.end() ? 0 : old->second;
        if (s.unseen <= was || s.hits.empty()) continue;
        notify_(kSavedSearchNoticeTitle, "“" + s.name + "”：" + std::to_string(s.unseen - was) +
                                             " 个新文件，如 " + s.hits.back().name);
      }
    }
    const auto spent = std::chrono::steady_clock::now() - began;
    lock.lock();
    wake_.wait_for(lock, spent * (kPaceFactor - 1), [this] { return stopping_; });
  }
}

}  // namespace lun
