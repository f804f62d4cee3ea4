#include "app/index_operations.h"

#include <utility>

#include "config/settings_store.h"
#include "crawler/change_monitor.h"
#include "crawler/document_table.h"
#include "engine/storage/data_table.h"
#include "engine/storage/search_project.h"

namespace lun {
namespace {

uint32_t LiveCount(const SearchProject* project, const char* table) {
  if (!project) return 0;
  const DataTable* found = project->FindTable(table);
  return found ? found->live_count() : 0;
}

}  // namespace

IndexOperations::IndexOperations(std::function<IndexParts()> parts) : parts_(std::move(parts)) {}

IndexActivity IndexOperations::Activity() const {
  const IndexParts parts = parts_();
  IndexActivity activity;
  activity.indexed = LiveCount(parts.project, kDocumentTable);
  activity.queued = LiveCount(parts.project, kQueueTable);
  activity.deduplicating = parts.writer && !parts.writer->fast_insert();
  if (const Crawler* crawler = parts.crawler) {
    activity.can_index = true;
    activity.paused = crawler->paused();
    activity.speed = crawler->speed_mode();
    activity.scanning = crawler->scanning();
    activity.scan_position = crawler->scan_position();
    activity.index_position = crawler->index_position();
    if (crawler->reconciling()) activity.reconcile_checked = crawler->reconcile_stats().checked;
  }
  if (const ChangeMonitor* monitor = parts.monitor) {
    activity.monitor_running = true;
    activity.monitoring = monitor->monitoring;
    activity.realtime_delete = monitor->realtime_delete;
    activity.watch_status = monitor->StatusText();
    activity.unwatched = monitor->unwatched();
  }
  return activity;
}

void IndexOperations::SetPaused(bool paused) {
  if (Crawler* crawler = parts_().crawler) crawler->set_paused(paused);
}

void IndexOperations::TogglePaused() {
  if (Crawler* crawler = parts_().crawler) crawler->set_paused(!crawler->paused());
}

void IndexOperations::SetSpeedMode(SpeedMode mode) {
  if (Crawler* crawler = parts_().crawler) crawler->set_speed_mode(mode);
}

bool IndexOperations::Reindex(bool keep_index) {
  Crawler* crawler = parts_().crawler;
  return crawler && crawler->Reindex(keep_index);
}

SearchService* IndexOperations::search() const { return parts_().search; }

int IndexOperations::OversizeDocuments() const {
  SearchService* search = parts_().search;
  return search ? CountOversizeDocuments(*search) : -1;
}

std::u16string IndexOperations::DocumentText(const std::string& path) const {
  const IndexParts parts = parts_();
  return parts.document_text ? parts.document_text(path) : std::u16string();
}

SettingsStore& IndexOperations::settings() const { return *parts_().settings; }

bool IndexOperations::ApplySetting(std::string_view key, std::string_view value) {
  return settings().ApplySetting(key, value);
}

}  // namespace lun
