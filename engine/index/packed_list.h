// Packed lists: Rice-coded ascending lists of 32-bit numbers (byte layout in
// packed_list_format.h). Used for the position lists and the record boundary
// lists of the word index.
//
// Encoding appends to a byte vector; decoding takes the exact bytes of one
// list and checks every length, count and bit against them: a damaged list
// gives false, never a read outside the bytes, an endless loop or a value
// that wraps around. All functions are pure and thread-safe.
#ifndef LUN_ENGINE_INDEX_PACKED_LIST_H_
#define LUN_ENGINE_INDEX_PACKED_LIST_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "platform/coding.h"

namespace lun {

// What a writer needs to continue a stored list without reading it: the
// trailing 6 bytes of the list and its count and k.
struct PackedListTail {
  uint32_t count = 0;
  uint8_t k = 0;
  uint8_t tail_bits = 0;
  uint8_t last_byte = 0;  // last byte of the bit stream
  uint32_t last = 0;
};

// Rice parameter of a list of `count` values from `first` to `last`
// (0 for count < 2).
uint8_t RiceParameter(uint32_t first, uint32_t last, uint32_t count);

// Appends the packed list of `values` (strictly ascending; not checked) to
// `*out`. An empty span appends the 4-byte list of count 0.
void EncodePackedList(std::span<const uint32_t> values, std::vector<uint8_t>* out);

// Encodes `values` (strictly ascending, all above tail.last) as the
// continuation of a list whose tail is `tail`: the bytes that replace the
// list's last 6 bytes. Appends them to `*out` and returns the new tail.
// Precondition: tail.count >= 2 (the list has a bit stream) and values is
// not empty.
PackedListTail EncodeContinuation(const PackedListTail& tail, std::span<const uint32_t> values,
                                  std::vector<uint8_t>* out);

// The number of unary bits EncodeContinuation would write for `values`
// after `tail`: a continuation keeps the list's old k, so a gap far larger
// than the list's average costs gap >> k bits. Callers check this first and
// encode the whole list afresh (which picks a fitting k) when it is large.
uint64_t ContinuationUnaryBits(const PackedListTail& tail, std::span<const uint32_t> values);

// Reads the count, k and tail of the list `bytes` (exactly one list).
// False when the bytes are too short to be a list.
bool ReadPackedListTail(std::span<const uint8_t> bytes, PackedListTail* tail);

// Decodes the list `bytes` (exactly one list, nothing after it) and appends
// its values to `*out`. False when the list is damaged: wrong size, a count
// the stream cannot hold, a code running past the stream, values that
// overflow or do not end at the stored last value; `*out` is then restored
// to its size on entry.
bool DecodePackedList(std::span<const uint8_t> bytes, std::vector<uint32_t>* out);

// Step-by-step reader of a list, for merging it with another sorted
// sequence without decoding it whole. Init() validates the sizes; Next()
// returns false at the end or on damage (damaged() then says which).
class PackedListReader {
 public:
  bool Init(std::span<const uint8_t> bytes);
  bool Next(uint32_t* value);
  bool damaged() const { return damaged_; }
  uint32_t count() const { return count_; }
  uint32_t last() const { return last_; }
  uint64_t total_bits() const { return total_bits_; }
  uint64_t bits_used() const { return bit_; }
  uint32_t produced() const { return produced_; }
  // Continues from a state reached elsewhere: `produced` values read, the
  // last being `previous`, the stream consumed up to `bit`. A state past the
  // stream marks the reader damaged.
  void Skip(uint64_t bit, uint32_t previous, uint32_t produced) {
    bit_ = bit;
    previous_ = previous;
    produced_ = produced;
    if (bit_ > total_bits_) damaged_ = true;
  }

 private:
  uint64_t Peek(uint64_t bit) const;

  const uint8_t* stream_ = nullptr;
  uint64_t stream_bytes_ = 0;
  uint64_t total_bits_ = 0;
  uint64_t bit_ = 0;
  uint32_t count_ = 0;
  uint32_t produced_ = 0;
  uint32_t previous_ = 0;
  uint32_t first_ = 0;
  uint32_t last_ = 0;
  uint8_t k_ = 0;
  bool damaged_ = false;
};

// A list kept in memory for probing, with a skip table holding every
// kSkipInterval-th value and where the codes after it start, so that a
// probe far ahead jumps there instead of decoding everything in between.
// The list is held either as its Rice codes or, when that costs at most
// half as much memory again, as byte gaps (one byte per gap below 256,
// else a zero byte and the gap in 4 bytes), which step several times
// faster: the dense lists of frequent characters take that form.
// Immutable once built; any number of cursors may read it together.
class SeekableList {
 public:
  static constexpr uint32_t kSkipInterval = 64;
  // Zero bytes Build() appends to Rice codes for whole-word loads; bytes
  // reserved for them beforehand spare a copy.
  static constexpr size_t kPadding = 8;

  // Takes the exact bytes of one list and checks the whole list (as
  // DecodePackedList does). False when it is damaged.
  bool Build(std::vector<uint8_t> bytes);
  uint32_t count() const { return count_; }
  // Whether the list is held as byte gaps.
  bool byte_gaps() const { return byte_gaps_; }
  // Memory held, for the callers that bound what they keep.
  size_t memory_bytes() const { return bytes_.capacity() + skips_.capacity() * sizeof(Skip); }

 private:
  friend class ListCursor;
  struct Skip {
    uint64_t at;  // after the value: stream bit (Rice codes) or byte (gaps)
    uint32_t value;
  };
  std::vector<uint8_t> bytes_;  // Rice codes and padding, or byte gaps
  std::vector<Skip> skips_;
  uint32_t count_ = 0;
  uint32_t last_ = 0;
  uint8_t k_ = 0;
  bool byte_gaps_ = false;
};

// Walks the values of a SeekableList (may be null: none) followed by the
// values of `after` (ascending, all above the list's last value).
// The cursor moves forward only. The steps inside the list are inline: the
// phrase alignment takes millions of them per look-up.
class ListCursor {
 public:
  // The byte-gap form's next gap at `*at`: one byte, or a 0 byte followed
  // by the gap as 4 little-endian bytes. Moves `*at` past it.
  static uint32_t NextByteGap(const uint8_t* gaps, uint64_t* at) {
    const uint32_t gap = gaps[*at];
    if (gap != 0) {
      *at += 1;
      return gap;
    }
    const uint32_t wide = DecodeFixed32(gaps + *at + 1);
    *at += 5;
    return wide;
  }

  ListCursor(const SeekableList* list, std::span<const uint32_t> after);
  // Moves to the first value >= target (staying put when the current one
  // is). False when no value is left; value() is then meaningless.
  bool SeekAtLeast(uint32_t target) {
    if (in_list_ && produced_ > 0 && target <= last_) {
      if (value_ >= target) return true;
      if (skip_ + 1 < skip_count_ && skips_[skip_ + 1].value <= target) JumpTowards(target);
      // The list's last value is >= target, so the steps stay inside it.
      if (byte_gaps_) {
        AdvanceGaps(target);
      } else {
        while (value_ < target) Step();
      }
      return true;
    }
    return SeekOutside(target);
  }
  // Moves to the next value; false at the end.
  bool Next();
  // Moves through the next values, copying them to `out` (room for `max`);
  // returns how many (0 at the end). The way to read a list whole.
  size_t Fill(uint32_t* out, size_t max);
  uint32_t value() const { return value_; }

 private:
  // 64 bits of the stream from bit `bit`; at least the first 57 are the
  // stream's. The list's padding keeps the load inside its buffer.
  uint64_t LoadBits(uint64_t bit) const {
    uint64_t w;
    std::memcpy(&w, stream_ + (bit >> 3), 8);
    return __builtin_bswap64(w) << (bit & 7);
  }
  // Decodes the list's next value (there is one: the list was checked whole
  // by Build(), so every code lies inside the stream). Rice codes are taken
  // from a word of stream bits held in a register; memory is read again
  // only when the word runs short.
  void Step() {
    if (byte_gaps_) {
      if (produced_ == 0) {
        StepSlowly();
        return;
      }
      value_ += NextByteGap(stream_, &bit_);
      Count();
      return;
    }
    unsigned q = unsigned(std::countl_one(word_));
    if (q + 1 + k_ > avail_) {
      word_ = LoadBits(bit_);
      avail_ = 57;
      q = unsigned(std::countl_one(word_));
      if (q + 1 + k_ > 56 || produced_ == 0) {
        StepSlowly();
        return;
      }
    }
    const unsigned used = q + 1 + k_;
    const uint64_t low = k_ ? (word_ << (q + 1)) >> (64 - k_) : 0;
    word_ <<= used;
    avail_ -= used;
    bit_ += used;
    value_ += uint32_t((uint64_t{q} << k_) | low) + 1;
    Count();
  }
  // Steps through byte gaps up to the first value >= target, in locals:
  // the loop of the dense lists, which a look-up runs millions of times.
  void AdvanceGaps(uint32_t target) {
    const uint8_t* const gaps = stream_;
    uint64_t at = bit_;
    uint32_t value = value_;
    uint32_t produced = produced_;
    while (value < target) {
      value += NextByteGap(gaps, &at);
      ++produced;
    }
    bit_ = at;
    value_ = value;
    produced_ = produced;
    skip_ = (produced - 1) / SeekableList::kSkipInterval;
  }
  // Keeps skip_ at the entry of the current value, so that JumpTowards
  // only searches the entries ahead.
  void Count() {
    if (produced_ % SeekableList::kSkipInterval == 0) {
      skip_ = produced_ / SeekableList::kSkipInterval;
    }
    ++produced_;
  }
  void StepSlowly();  // the first value, or a code with a long unary run
  void JumpTowards(uint32_t target);
  bool SeekOutside(uint32_t target);
  bool EnterAfter(uint32_t target);

  const SeekableList* list_;
  std::span<const uint32_t> after_;
  const uint8_t* stream_ = nullptr;
  const SeekableList::Skip* skips_ = nullptr;
  size_t skip_count_ = 0;
  uint32_t count_ = 0;
  uint32_t last_ = 0;
  unsigned k_ = 0;
  bool byte_gaps_ = false;
  uint64_t bit_ = 0;        // after the current value: stream bit, or byte of the gaps
  uint64_t word_ = 0;       // stream bits from bit_ on, most significant first
  unsigned avail_ = 0;      // how many bits of word_ are the stream's
  uint32_t produced_ = 0;   // list values read so far
  size_t skip_ = 0;         // skip entry at or before the current value
  size_t after_index_ = 0;  // next value of `after`
  bool in_list_ = false;    // reading the list (else `after`)
  bool ended_ = false;
  uint32_t value_ = 0;
};

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_PACKED_LIST_H_
