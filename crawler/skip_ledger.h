// The files the crawler met but could not index whole, by reason, for the
// status displays: how many since start-up and the latest paths of each.
// Reasons are the user's words ("超过 20 MiB (只按名称索引)", "文本提取失败").
//
// Thread safety: every member may be called from any thread.
#ifndef LUN_CRAWLER_SKIP_LEDGER_H_
#define LUN_CRAWLER_SKIP_LEDGER_H_

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

namespace lun {

inline constexpr char kSkipOversize[] = "超过 20 MiB (只按名称索引)";
inline constexpr char kSkipExtractFailed[] = "文本提取失败";

class SkipLedger {
 public:
  // The latest paths kept per reason; the count goes on.
  static constexpr size_t kKeptPaths = 200;

  struct Entry {
    uint64_t count = 0;
    std::deque<std::string> latest;  // newest last
  };

  void Add(const std::string& reason, const std::string& path);
  std::map<std::string, Entry> Snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace lun

#endif  // LUN_CRAWLER_SKIP_LEDGER_H_
