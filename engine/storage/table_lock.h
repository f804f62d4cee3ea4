// TableLock: the reader/writer lock of one table.
//
// Writers (building a record, deleting records, clearing the table, adding a
// field, index catch-up) wait without time-out. Readers (searches) wait at
// most the time-out they give and then fail, unless no writer holds the lock
// at that moment. Readers that are waiting hold back waiting writers: when
// the lock falls free while readers wait, the readers go first and a waiting
// writer is admitted only once the last reader has left and no reader waits.
// Writers that wait are admitted one at a time in arrival order.
//
// State: -1 held by a writer, 0 free, n > 0 held by n readers.
//
// Thread safety: any thread. Not re-entrant: a thread holding the write lock
// must not ask for it (or a read lock) again. Unlock releases whichever kind
// of hold the caller has; callers pair it with their own WriteLock or
// successful ReadLock.
#ifndef LUN_ENGINE_STORAGE_TABLE_LOCK_H_
#define LUN_ENGINE_STORAGE_TABLE_LOCK_H_

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace lun {

class TableLock {
 public:
  TableLock() = default;
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

  // Takes the lock for writing; waits as long as it takes.
  void WriteLock();
  // Takes the lock for reading, waiting up to `timeout_ms` milliseconds while
  // a writer holds it. False when a writer still holds it after the wait.
  [[nodiscard]] bool ReadLock(uint32_t timeout_ms);
  // Releases a read or write hold.
  void Unlock();

  // Observers for tests and diagnostics.
  int state() const;
  int waiting_writers() const;
  int waiting_readers() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int state_ = 0;
  int waiting_writers_ = 0;
  int waiting_readers_ = 0;
  // FIFO tickets for waiting writers, as in ExclusiveGate.
  uint64_t next_ticket_ = 0;
  uint64_t handoffs_ = 0;
};

// Holds a table's write lock for a scope.
class TableWriteHold {
 public:
  explicit TableWriteHold(TableLock& lock) : lock_(lock) { lock_.WriteLock(); }
  ~TableWriteHold() { lock_.Unlock(); }
  TableWriteHold(const TableWriteHold&) = delete;
  TableWriteHold& operator=(const TableWriteHold&) = delete;

 private:
  TableLock& lock_;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_TABLE_LOCK_H_
