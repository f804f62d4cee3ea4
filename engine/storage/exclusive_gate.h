// ExclusiveGate: the engine's FIFO lock without time-out, with a shared
// try-only mode.
//
// Exclusive holders (table creation and deletion on the project gate, index
// roll-over on a field's gate, a buffer-pool store) wait as long as it takes;
// when the holder leaves and someone waits, the gate passes straight to the
// waiter that came first, so nobody can slip in between (hand-off).
//
// Shared holders (searches) never wait: TryEnterShared succeeds only while no
// exclusive holder is inside and nobody waits, so a waiting writer is served
// as soon as the searches already inside have left, and new searches fail at
// once meanwhile (the caller reports "database locked").
//
// State: -1 held exclusively, 0 free, n > 0 held by n shared holders.
//
// Thread safety: every member may be called from any thread. Enter/Leave and
// TryEnterShared/LeaveShared must be paired by the caller; the gate does not
// record which thread holds it, so a different thread may leave it (hand-off
// makes the waiter the holder). Not re-entrant: a thread that enters twice
// deadlocks.
#ifndef LUN_ENGINE_STORAGE_EXCLUSIVE_GATE_H_
#define LUN_ENGINE_STORAGE_EXCLUSIVE_GATE_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lun {

class ExclusiveGate {
 public:
  ExclusiveGate() = default;
  ExclusiveGate(const ExclusiveGate&) = delete;
  ExclusiveGate& operator=(const ExclusiveGate&) = delete;

  // Takes the gate exclusively, waiting without time-out behind earlier
  // waiters and until shared holders have left.
  void Enter();
  // Leaves an exclusive hold; hands the gate to the longest waiter if any.
  void Leave();

  // Takes a shared hold when the gate is free or shared and nobody waits;
  // otherwise returns false at once.
  [[nodiscard]] bool TryEnterShared();
  // Leaves a shared hold; the last shared holder to leave hands the gate to
  // the longest exclusive waiter.
  void LeaveShared();

  // Observers for tests and diagnostics; the values may be stale as soon as
  // they are returned.
  int state() const;
  int waiters() const;

 private:
  // Passes the gate to the next waiter in arrival order. Requires mutex_.
  void HandOff();

  mutable std::mutex mutex_;
  std::condition_variable handed_;
  int state_ = 0;
  int waiters_ = 0;
  // FIFO tickets: a waiter holding ticket t owns the gate once
  // handoffs_ > t.
  uint64_t next_ticket_ = 0;
  uint64_t handoffs_ = 0;
};

// Holds a gate exclusively for a scope.
class ExclusiveGateHold {
 public:
  explicit ExclusiveGateHold(ExclusiveGate& gate) : gate_(gate) { gate_.Enter(); }
  ~ExclusiveGateHold() { gate_.Leave(); }
  ExclusiveGateHold(const ExclusiveGateHold&) = delete;
  ExclusiveGateHold& operator=(const ExclusiveGateHold&) = delete;

 private:
  ExclusiveGate& gate_;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_EXCLUSIVE_GATE_H_
