#include "engine/index/packed_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <set>

#include "engine/index/packed_list_format.h"

namespace lun {
namespace {

std::vector<uint8_t> Encode(std::vector<uint32_t> values) {
  std::vector<uint8_t> out;
  EncodePackedList(values, &out);
  return out;
}

std::vector<uint32_t> Decode(const std::vector<uint8_t>& bytes, bool* ok = nullptr) {
  std::vector<uint32_t> out;
  const bool decoded = DecodePackedList(bytes, &out);
  if (ok) *ok = decoded;
  return out;
}

TEST(PackedListTest, OneValueEncodesTo14Bytes) {
  EXPECT_EQ(Encode({7}), (std::vector<uint8_t>{1, 0, 0, 0, 0, 7, 0, 0, 0, 0, 7, 0, 0, 0}));
}

TEST(PackedListTest, TwoValuesFiveApartEncodeTo15BytesWithTailBits4) {
  // avg gap 5 -> k = 2; d = 4 -> q = 1: bits 1 0 0 0.
  EXPECT_EQ(Encode({3, 8}),
            (std::vector<uint8_t>{2, 0, 0, 0, 2, 3, 0, 0, 0, 0x80, 4, 8, 0, 0, 0}));
}

TEST(PackedListTest, EmptyListIsTheCountWordOnly) {
  EXPECT_EQ(Encode({}), (std::vector<uint8_t>{0, 0, 0, 0}));
  bool ok = false;
  EXPECT_TRUE(Decode({0, 0, 0, 0}, &ok).empty());
  EXPECT_TRUE(ok);
}

// Lists of every shape the readers must take: single values, the ends of
// the number range, long unary runs (alone and repeated through a long
// list), random gaps.
std::vector<std::vector<uint32_t>> ShapeCases() {
  std::mt19937 rng(42);
  std::vector<std::vector<uint32_t>> cases = {
      {0},
      {0, 1},
      {0xFFFFFFFEu, 0xFFFFFFFFu},
      {0, 0xFFFFFFFFu},                       // one gap of 2^32 - 2
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},        // k = 1, codes of 2 bits
      {5, 6, 7, 100000000, 100000001},        // a unary run far longer than a word
  };
  for (int n : {3, 100, 5000}) {
    std::vector<uint32_t> v;
    uint32_t x = 0;
    for (int i = 0; i < n; ++i) v.push_back(x += 1 + rng() % (i % 7 == 0 ? 100000 : 20));
    cases.push_back(v);
  }
  // Small gaps with a large one every 500 values: k stays small, so each
  // large gap is a unary run of hundreds of bits amid short codes.
  std::vector<uint32_t> runs;
  uint32_t x = 1;
  for (int i = 0; i < 3000; ++i) runs.push_back(x += i % 500 == 499 ? 1000000 : 1 + i % 2);
  cases.push_back(runs);
  // Gaps all above a byte (kept as Rice codes), with and without a long
  // unary run every 400 values.
  for (bool long_runs : {false, true}) {
    std::vector<uint32_t> wide;
    uint32_t y = 3;
    for (int i = 0; i < 2000; ++i) {
      wide.push_back(y += long_runs && i % 400 == 399 ? 5000000 : 256 + rng() % 64);
    }
    cases.push_back(wide);
  }
  return cases;
}

TEST(PackedListTest, ListsRoundTrip) {
  for (const auto& values : ShapeCases()) {
    SCOPED_TRACE(values.size());
    const auto bytes = Encode(values);
    PackedListTail tail;
    ASSERT_TRUE(ReadPackedListTail(bytes, &tail));
    EXPECT_EQ(tail.last, values.back());
    bool ok = false;
    EXPECT_EQ(Decode(bytes, &ok), values);
    EXPECT_TRUE(ok);
  }
}

TEST(PackedListTest, CursorSeeksLikeABinarySearch) {
  // Every value, the numbers next to it and the ends, from a fresh cursor
  // and from one that walked up to there; values after the list (the
  // in-memory ones) continue it. Both forms of a kept list are met.
  std::set<bool> forms;
  for (const auto& listed : ShapeCases()) {
    SCOPED_TRACE(listed.size());
    SeekableList list;
    ASSERT_TRUE(list.Build(Encode(listed)));
    EXPECT_EQ(list.count(), listed.size());
    forms.insert(list.byte_gaps());
    std::vector<uint32_t> after;
    if (listed.back() < 0xFFFFFFF0u) after = {listed.back() + 2, listed.back() + 9};
    std::vector<uint32_t> all = listed;
    all.insert(all.end(), after.begin(), after.end());

    ListCursor walker(&list, after);
    for (uint32_t v : all) {
      ASSERT_TRUE(walker.Next());
      ASSERT_EQ(walker.value(), v);
    }
    EXPECT_FALSE(walker.Next());

    std::vector<uint32_t> targets = {0, 0xFFFFFFFFu};
    for (size_t i = 0; i < all.size(); i += 1 + all.size() / 300) {
      for (int64_t d : {-1, 0, 1}) {
        const int64_t t = int64_t{all[i]} + d;
        if (t >= 0 && t <= 0xFFFFFFFF) targets.push_back(uint32_t(t));
      }
    }
    std::sort(targets.begin(), targets.end());
    ListCursor rising(&list, after);
    for (uint32_t t : targets) {
      const auto expected = std::lower_bound(all.begin(), all.end(), t);
      ListCursor fresh(&list, after);
      ASSERT_EQ(fresh.SeekAtLeast(t), expected != all.end()) << t;
      ASSERT_EQ(rising.SeekAtLeast(t), expected != all.end()) << t;
      if (expected == all.end()) continue;
      ASSERT_EQ(fresh.value(), *expected) << t;
      ASSERT_EQ(rising.value(), *expected) << t;
    }
  }
  EXPECT_EQ(forms, (std::set<bool>{false, true}));  // Rice codes and byte gaps
}

TEST(PackedListTest, CursorWithoutAStoredList) {
  const std::vector<uint32_t> after = {4, 9};
  ListCursor c(nullptr, after);
  ASSERT_TRUE(c.SeekAtLeast(5));
  EXPECT_EQ(c.value(), 9u);
  EXPECT_TRUE(c.SeekAtLeast(2));  // never moves back
  EXPECT_EQ(c.value(), 9u);
  EXPECT_FALSE(c.Next());
  EXPECT_FALSE(ListCursor(nullptr, {}).SeekAtLeast(0));
}

TEST(PackedListTest, ContinuationDecodesLikeTheWholeList) {
  // Cut points that leave the stream ending mid-byte and on a byte boundary.
  const std::vector<uint32_t> all = {10, 12, 13, 20, 21, 40, 41, 42, 43, 44, 90, 200, 201, 5000};
  for (size_t cut = 2; cut < all.size(); ++cut) {
    SCOPED_TRACE(cut);
    std::vector<uint8_t> bytes = Encode({all.begin(), all.begin() + cut});
    PackedListTail tail;
    ASSERT_TRUE(ReadPackedListTail(bytes, &tail));
    std::vector<uint8_t> more;
    const PackedListTail next =
        EncodeContinuation(tail, std::span(all).subspan(cut), &more);
    bytes.resize(bytes.size() - packed_list::kTailSize);
    bytes.insert(bytes.end(), more.begin(), more.end());
    bytes[0] = uint8_t(all.size());  // as a reader puts the directory's count in
    EXPECT_EQ(Decode(bytes), all);
    PackedListTail reread;
    ASSERT_TRUE(ReadPackedListTail(bytes, &reread));
    EXPECT_EQ(reread.last_byte, next.last_byte);
    EXPECT_EQ(reread.tail_bits, next.tail_bits);
    EXPECT_EQ(next.count, all.size());
  }
}

TEST(PackedListTest, DamagedListsAreRejected) {
  const std::vector<uint8_t> good = Encode({3, 8, 9, 30, 31, 32});
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  auto with = [&](const char* what, auto change) {
    std::vector<uint8_t> b = good;
    change(b);
    cases.push_back({what, b});
  };
  with("truncated by one byte", [](auto& b) { b.pop_back(); });
  with("shorter than the fixed part", [](auto& b) { b.resize(10); });
  with("count larger than the stream can hold", [](auto& b) { b[0] = 0xFF; b[1] = 0xFF; });
  with("count of one with a stream", [](auto& b) { b[0] = 1; });
  with("k above 31", [](auto& b) { b[4] = 40; });
  with("tail bits above 7", [](auto& b) { b[b.size() - 5] = 9; });
  with("last value differs", [](auto& b) { b.back() = 0x7F; });
  with("stream of ones only (unbounded unary run)", [](auto& b) {
    for (size_t i = 9; i < b.size() - 5; ++i) b[i] = 0xFF;
  });
  with("trailing byte after the list", [](auto& b) { b.push_back(0); });
  with("first value near the top overflows", [](auto& b) { b[5] = b[6] = b[7] = b[8] = 0xFF; });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint32_t> out = {99};
    EXPECT_FALSE(DecodePackedList(c.bytes, &out));
    EXPECT_EQ(out, std::vector<uint32_t>{99});  // restored on failure
    SeekableList list;
    EXPECT_FALSE(list.Build(c.bytes));
  }
}

}  // namespace
}  // namespace lun
