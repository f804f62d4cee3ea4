// The indexing pace: how much index flushes hold back so that writing the
// index does not monopolise the disk and the processor.
//
// Process-wide settings that the crawler drives (from the shell's speed
// menu and its idle detector) and that every index flush reads:
//   speed mode 1  high speed: no pause (the default; tools, tests and
//                 benchmarks keep it);
//   speed mode 0  high speed when idle: 100 ms per written term or value
//                 unless the user-idle flag is set;
//   speed mode 2  low speed: 500 ms per written term or value.
// A flush runs under its table's write lock, during which every search of
// the table waits, so the pauses of one flush are capped by a budget
// (PauseBudgetMs, default 1000 ms); without it a flush of 3,000 distinct
// Chinese characters would block searches for minutes and they would fail
// with "table locked".
//
// Thread safety: all functions may be called from any thread.
#ifndef LUN_ENGINE_INDEX_INDEXING_PACE_H_
#define LUN_ENGINE_INDEX_INDEXING_PACE_H_

#include <cstdint>

namespace lun {

void SetIndexingSpeedMode(int mode);
int IndexingSpeedMode();
void SetUserIdle(bool idle);
bool UserIdle();
void SetPauseBudgetMs(uint32_t budget_ms);
uint32_t PauseBudgetMs();

// The pause of one flush: Step() sleeps for one written term or value as
// the current mode asks, until the flush's budget is spent.
class FlushPacer {
 public:
  FlushPacer();
  void Step();

 private:
  uint32_t spent_ms_ = 0;
  uint32_t budget_ms_;
};

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_INDEXING_PACE_H_
