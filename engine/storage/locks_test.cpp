// The engine's locks, exercised with real threads. Waiting is observed through
// the locks' own counters (state, waiters), never through sleeps of a given
// length, so the tests do not depend on timing.
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/storage/exclusive_gate.h"
#include "engine/storage/table_lock.h"

namespace lun {
namespace {

// Spins (yielding) until `done` holds.
template <typename Pred>
void WaitUntil(Pred done) {
  while (!done()) std::this_thread::yield();
}

TEST(ExclusiveGateTest, HandsOffInArrivalOrder) {
  ExclusiveGate gate;
  gate.Enter();
  std::mutex order_mutex;
  std::vector<int> order;
  std::vector<std::thread> threads;
  for (int i = 0; i < 5; ++i) {
    threads.emplace_back([&, i] {
      gate.Enter();
      {
        std::lock_guard<std::mutex> lock(order_mutex);
        order.push_back(i);
      }
      gate.Leave();
    });
    // Thread i is counted as a waiter before thread i + 1 starts.
    WaitUntil([&] { return gate.waiters() == i + 1; });
  }
  gate.Leave();
  for (auto& t : threads) t.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(gate.state(), 0);
  EXPECT_EQ(gate.waiters(), 0);
}

TEST(ExclusiveGateTest, SharedHoldersBlockWriterAndWaitingWriterRefusesNewReaders) {
  ExclusiveGate gate;
  ASSERT_TRUE(gate.TryEnterShared());
  ASSERT_TRUE(gate.TryEnterShared());
  EXPECT_EQ(gate.state(), 2);

  std::atomic<bool> writer_in{false};
  std::thread writer([&] {
    gate.Enter();
    writer_in = true;
    gate.Leave();
  });
  WaitUntil([&] { return gate.waiters() == 1; });
  // A waiting writer turns new searches away at once.
  EXPECT_FALSE(gate.TryEnterShared());
  gate.LeaveShared();
  EXPECT_FALSE(writer_in.load());
  gate.LeaveShared();  // the last shared holder hands the gate over
  writer.join();
  EXPECT_TRUE(writer_in.load());
  EXPECT_TRUE(gate.TryEnterShared());
  gate.LeaveShared();
}

TEST(ExclusiveGateTest, SharedTryFailsWhileHeldExclusively) {
  ExclusiveGate gate;
  gate.Enter();
  EXPECT_FALSE(gate.TryEnterShared());
  gate.Leave();
  EXPECT_TRUE(gate.TryEnterShared());
  gate.LeaveShared();
  EXPECT_EQ(gate.state(), 0);
}

TEST(TableLockTest, ReaderTimesOutWhileWriterHolds) {
  TableLock lock;
  lock.WriteLock();
  bool got = true;
  std::thread reader([&] { got = lock.ReadLock(20); });
  reader.join();
  EXPECT_FALSE(got);
  EXPECT_EQ(lock.waiting_readers(), 0);
  EXPECT_EQ(lock.state(), -1);
  lock.Unlock();
  EXPECT_TRUE(lock.ReadLock(0));  // free: a zero time-out still succeeds
  lock.Unlock();
}

TEST(TableLockTest, WaitingReaderIsAdmittedWhenWriterLeaves) {
  TableLock lock;
  lock.WriteLock();
  std::atomic<int> result{-1};
  std::thread reader([&] {
    result = lock.ReadLock(600000) ? 1 : 0;  // far longer than the test needs
    lock.Unlock();
  });
  WaitUntil([&] { return lock.waiting_readers() == 1; });
  lock.Unlock();
  reader.join();
  EXPECT_EQ(result.load(), 1);
  EXPECT_EQ(lock.state(), 0);
}

TEST(TableLockTest, WriterAdmittedWhenLastReaderLeaves) {
  TableLock lock;
  ASSERT_TRUE(lock.ReadLock(0));
  ASSERT_TRUE(lock.ReadLock(0));
  std::atomic<bool> writer_in{false};
  std::thread writer([&] {
    lock.WriteLock();
    writer_in = true;
    lock.Unlock();
  });
  WaitUntil([&] { return lock.waiting_writers() == 1; });
  lock.Unlock();
  EXPECT_EQ(lock.state(), 1);
  EXPECT_FALSE(writer_in.load());
  lock.Unlock();
  writer.join();
  EXPECT_TRUE(writer_in.load());
  EXPECT_EQ(lock.state(), 0);
}

TEST(TableLockTest, WaitingReadersHoldBackWaitingWriter) {
  TableLock lock;
  lock.WriteLock();
  std::atomic<int> step{0};
  std::atomic<int> reader_saw_step{-1};
  std::atomic<int> writer_saw_step{-1};
  std::thread writer([&] {
    lock.WriteLock();
    writer_saw_step = step.load();
    lock.Unlock();
  });
  WaitUntil([&] { return lock.waiting_writers() == 1; });
  std::atomic<bool> release_reader{false};
  std::thread reader([&] {
    EXPECT_TRUE(lock.ReadLock(600000));
    reader_saw_step = step.load();
    WaitUntil([&] { return release_reader.load(); });
    step = 1;
    lock.Unlock();
  });
  WaitUntil([&] { return lock.waiting_readers() == 1; });
  lock.Unlock();  // the reader, not the waiting writer, gets the lock
  WaitUntil([&] { return reader_saw_step.load() == 0; });
  EXPECT_EQ(lock.state(), 1);
  EXPECT_EQ(lock.waiting_writers(), 1);
  release_reader = true;
  reader.join();
  writer.join();
  EXPECT_EQ(writer_saw_step.load(), 1);
  EXPECT_EQ(lock.state(), 0);
}

TEST(TableLockTest, WaitingWritersAreAdmittedOneAtATimeInOrder) {
  TableLock lock;
  lock.WriteLock();
  std::mutex order_mutex;
  std::vector<int> order;
  std::vector<std::thread> writers;
  for (int i = 0; i < 4; ++i) {
    writers.emplace_back([&, i] {
      lock.WriteLock();
      EXPECT_EQ(lock.state(), -1);
      {
        std::lock_guard<std::mutex> g(order_mutex);
        order.push_back(i);
      }
      lock.Unlock();
    });
    WaitUntil([&] { return lock.waiting_writers() == i + 1; });
  }
  lock.Unlock();
  for (auto& t : writers) t.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
}  // namespace lun
