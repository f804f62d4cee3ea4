#include "engine/storage/exclusive_gate.h"

namespace lun {

// A Windows semaphore releases its waiters in no promised order; tickets make
// the hand-off strictly first come, first served, which is what callers of a
// "FIFO lock" expect and what the tests check.

void ExclusiveGate::Enter() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (state_ == 0) {
    state_ = -1;
    return;
  }
  const uint64_t ticket = next_ticket_++;
  ++waiters_;
  handed_.wait(lock, [&] { return handoffs_ > ticket; });
  // HandOff left the state at -1 and uncounted us: we hold the gate.
}

void ExclusiveGate::Leave() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiters_ > 0) {
    HandOff();
  } else {
    state_ = 0;
  }
}

bool ExclusiveGate::TryEnterShared() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiters_ != 0 || state_ < 0) return false;
  ++state_;
  return true;
}

void ExclusiveGate::LeaveShared() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ > 0) --state_;
  if (state_ == 0 && waiters_ > 0) HandOff();
}

void ExclusiveGate::HandOff() {
  state_ = -1;
  --waiters_;
  ++handoffs_;
  handed_.notify_all();
}

int ExclusiveGate::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

int ExclusiveGate::waiters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiters_;
}

}  // namespace lun
