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

#include <cstdint>
#include <span>
#include <vector>

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

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_PACKED_LIST_H_
