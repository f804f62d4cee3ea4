#include "engine/index/posting_cache.h"

#include <gtest/gtest.h>

#include <thread>

namespace lun {
namespace {

std::shared_ptr<const SeekableList> ListOf(uint32_t count) {
  std::vector<uint32_t> values(count);
  for (uint32_t i = 0; i < count; ++i) values[i] = 1 + 3 * i;
  std::vector<uint8_t> bytes;
  EncodePackedList(values, &bytes);
  auto list = std::make_shared<SeekableList>();
  EXPECT_TRUE(list->Build(std::move(bytes)));
  return list;
}

TEST(PostingCacheTest, KeepsListsPerOwnerUntilForgotten) {
  PostingCache cache(1 << 20);
  const auto a = ListOf(100);
  cache.Insert(1, u'a', a);
  cache.Insert(2, u'a', ListOf(10));
  EXPECT_EQ(cache.Find(1, u'a'), a);
  EXPECT_EQ(cache.Find(1, u'b'), nullptr);
  cache.Forget(1);
  EXPECT_EQ(cache.Find(1, u'a'), nullptr);
  EXPECT_NE(cache.Find(2, u'a'), nullptr);  // another owner keeps its own
  EXPECT_EQ(a->count(), 100u);              // a list handed out stays valid
}

TEST(PostingCacheTest, EvictsTheLeastRecentlyUsedBeyondTheBudget) {
  const auto probe = ListOf(2000);
  const size_t one = probe->memory_bytes();
  const size_t budget = one * 3 + 1024;  // three lists and their bookkeeping
  PostingCache cache(budget);
  for (uint32_t k = 0; k < 3; ++k) cache.Insert(7, k, ListOf(2000));
  EXPECT_EQ(cache.entries(), 3u);
  ASSERT_NE(cache.Find(7, 0), nullptr);  // 0 becomes the most recent
  cache.Insert(7, 3, ListOf(2000));      // 1, the least recent, leaves
  EXPECT_NE(cache.Find(7, 0), nullptr);
  EXPECT_EQ(cache.Find(7, 1), nullptr);
  EXPECT_NE(cache.Find(7, 3), nullptr);
  EXPECT_EQ(cache.entries(), 3u);
  EXPECT_LE(cache.bytes(), budget);

  PostingCache tiny(100);  // a list larger than the whole budget is not kept
  tiny.Insert(1, 1, probe);
  EXPECT_EQ(tiny.entries(), 0u);
}

TEST(PostingCacheTest, ConcurrentUseStaysWithinTheBudget) {
  const auto list = ListOf(500);
  PostingCache cache(list->memory_bytes() * 8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (uint32_t i = 0; i < 2000; ++i) {
        cache.Insert(uint64_t(t % 2), i % 20, list);
        const auto found = cache.Find(uint64_t((t + 1) % 2), i % 20);
        if (found) EXPECT_EQ(found->count(), 500u);
        if (i % 97 == 0) cache.Forget(uint64_t(t % 2));
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_LE(cache.bytes(), list->memory_bytes() * 8);
}

}  // namespace
}  // namespace lun
