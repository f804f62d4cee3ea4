#include "app/index_status.h"

#include <sys/statvfs.h>

#include <ctime>
#include <filesystem>

#include "crawler/change_monitor.h"
#include "crawler/crawler.h"
#include "crawler/scan_scope.h"

namespace lun {
namespace {

std::string LocalTime(int64_t seconds) {
  const time_t t = static_cast<time_t>(seconds);
  struct tm local {};
  localtime_r(&t, &local);
  char text[32];
  strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string Lines(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += item + "\n";
  return out;
}

uint64_t FolderBytes(const std::string& folder) {
  uint64_t total = 0;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
       !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code size_error;
    if (it->is_regular_file(size_error)) {
      const uintmax_t size = it->file_size(size_error);
      if (!size_error) total += size;
    }
  }
  return total;
}

uint64_t FreeBytes(const std::string& folder) {
  struct statvfs fs {};
  if (statvfs(folder.c_str(), &fs) != 0) return 0;
  return static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
}

constexpr char kSkipPrefix[] = "跳过:";

}  // namespace

std::string IndexStatusValue(const IndexStatusSources& sources, const std::string& name) {
  const Crawler* crawler = sources.crawler;
  if (name == "队列") return std::to_string(sources.queue_length);
  if (name == "磁盘空间") return std::to_string(FreeBytes(sources.index_folder));
  if (name == "索引大小") return std::to_string(FolderBytes(sources.index_folder));
  if (name == "监控目录数") {
    return std::to_string(sources.monitor ? sources.monitor->watch_count() : 0);
  }
  if (name == "未能监控") return sources.monitor ? Lines(sources.monitor->unwatched()) : "";
  if (!crawler) return "";
  if (name == "正在读取") return crawler->index_position();
  if (name == "暂停") return crawler->paused() ? "TRUE" : "FALSE";
  if (name == "核对") {
    return crawler->reconciling() ? std::to_string(crawler->reconcile_stats().checked) : "";
  }
  if (name == "根目录") {
    const auto summaries = crawler->reconciled_roots();
    std::string out;
    for (const std::string& root :
         sources.scope ? sources.scope->PermittedRoots() : std::vector<std::string>{}) {
      const auto it = summaries.find(root);
      out += root + "\t";
      if (it != summaries.end()) {
        out += std::to_string(it->second.files) + "\t" + LocalTime(it->second.reconciled_at);
      } else {
        out += "\t";
      }
      out += "\n";
    }
    return out;
  }
  if (name == "跳过") {
    std::string out;
    for (const auto& [reason, entry] : crawler->skipped().Snapshot()) {
      out += reason + "\t" + std::to_string(entry.count) + "\n";
    }
    return out;
  }
  if (name.starts_with(kSkipPrefix)) {
    const auto all = crawler->skipped().Snapshot();
    const auto it = all.find(name.substr(sizeof kSkipPrefix - 1));
    if (it == all.end()) return "";
    return Lines({it->second.latest.rbegin(), it->second.latest.rend()});  // newest first
  }
  return "";
}

}  // namespace lun
