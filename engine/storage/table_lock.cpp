#include "engine/storage/table_lock.h"

#include <chrono>

namespace lun {

void TableLock::WriteLock() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (state_ == 0 && waiting_readers_ == 0) {
    state_ = -1;
    return;
  }
  const uint64_t ticket = next_ticket_++;
  ++waiting_writers_;
  changed_.wait(lock, [&] { return handoffs_ > ticket; });
  // Unlock handed us the lock: the state is -1 and we are uncounted.
}

// A waiting reader sleeps on the condition variable instead of polling every
// 10 ms; it is woken whenever the state changes, which gives the same
// admission rule with less delay.
bool TableLock::ReadLock(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  ++waiting_readers_;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  changed_.wait_until(lock, deadline, [&] { return state_ >= 0; });
  --waiting_readers_;
  if (state_ < 0) {
    // Our giving up may be what a waiting writer was held back by.
    changed_.notify_all();
    return false;
  }
  ++state_;
  return true;
}

void TableLock::Unlock() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ < 0) {
    state_ = 0;
  } else if (state_ > 0) {
    --state_;
  }
  if (state_ == 0 && waiting_writers_ > 0 && waiting_readers_ == 0) {
    state_ = -1;
    --waiting_writers_;
    ++handoffs_;
  }
  changed_.notify_all();
}

int TableLock::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

int TableLock::waiting_writers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_writers_;
}

int TableLock::waiting_readers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_readers_;
}

}  // namespace lun
