#include "engine/index/indexing_pace.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace lun {
namespace {

std::atomic<int> g_speed_mode{1};
std::atomic<bool> g_user_idle{false};
std::atomic<uint32_t> g_budget_ms{1000};

}  // namespace

void SetIndexingSpeedMode(int mode) { g_speed_mode.store(mode, std::memory_order_relaxed); }
int IndexingSpeedMode() { return g_speed_mode.load(std::memory_order_relaxed); }
void SetUserIdle(bool idle) { g_user_idle.store(idle, std::memory_order_relaxed); }
bool UserIdle() { return g_user_idle.load(std::memory_order_relaxed); }
void SetPauseBudgetMs(uint32_t budget_ms) { g_budget_ms.store(budget_ms, std::memory_order_relaxed); }
uint32_t PauseBudgetMs() { return g_budget_ms.load(std::memory_order_relaxed); }

FlushPacer::FlushPacer() : budget_ms_(PauseBudgetMs()) {}

void FlushPacer::Step() {
  uint32_t pause = 0;
  switch (IndexingSpeedMode()) {
    case 2:
      pause = 500;
      break;
    case 0:
      pause = UserIdle() ? 0 : 100;
      break;
    default:
      return;
  }
  if (pause == 0 || spent_ms_ >= budget_ms_) return;
  if (pause > budget_ms_ - spent_ms_) pause = budget_ms_ - spent_ms_;
  spent_ms_ += pause;
  std::this_thread::sleep_for(std::chrono::milliseconds(pause));
}

}  // namespace lun
