#include "engine/index/packed_list.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "engine/index/packed_list_format.h"
#include "platform/coding.h"

namespace lun {
namespace {

using namespace packed_list;

// Collects bits most significant first. The accumulator holds `pending_`
// bits in its low end; whole bytes leave as soon as they are complete, so a
// put of up to 56 bits never loses any.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}
  // Starts from `bits` partial bits (0..7) held in the low end of `acc`.
  void Resume(uint64_t acc, unsigned bits) {
    acc_ = acc;
    pending_ = bits;
  }
  void Put(uint64_t bits, unsigned count) {  // count <= 56
    acc_ = (acc_ << count) | bits;
    pending_ += count;
    while (pending_ >= 8) {
      pending_ -= 8;
      out_->push_back(uint8_t(acc_ >> pending_));
    }
  }
  void PutOnes(uint64_t q) {
    while (q >= 48) {
      Put((uint64_t{1} << 48) - 1, 48);
      q -= 48;
    }
    Put((uint64_t{1} << q) - 1, unsigned(q));
  }
  // One Rice code for gap value d with parameter k.
  void PutCode(uint64_t d, unsigned k) {
    const uint64_t q = d >> k;
    const uint64_t low = k ? (d & ((uint64_t{1} << k) - 1)) : 0;
    if (q + 1 + k <= 56) {
      Put((((uint64_t{1} << q) - 1) << (k + 1)) | low, unsigned(q + 1 + k));
    } else {
      PutOnes(q);
      Put(0, 1);
      if (k) Put(low, k);
    }
  }
  // Flushes the partial byte; returns the tail bits (0..7).
  unsigned Finish() {
    const unsigned tail = pending_;
    if (pending_) out_->push_back(uint8_t(acc_ << (8 - pending_)));
    pending_ = 0;
    return tail;
  }

 private:
  std::vector<uint8_t>* out_;
  uint64_t acc_ = 0;
  unsigned pending_ = 0;
};

}  // namespace

uint8_t RiceParameter(uint32_t first, uint32_t last, uint32_t count) {
  if (count < 2) return 0;
  const uint32_t average = (last - first) / (count - 1);
  if (average == 0) return 1;  // not reachable for ascending lists; safe anyway
  const unsigned top = 31 - unsigned(std::countl_zero(average));
  return uint8_t(top == 0 ? 1 : top);
}

void EncodePackedList(std::span<const uint32_t> values, std::vector<uint8_t>* out) {
  const uint32_t n = uint32_t(values.size());
  PutFixed32(out, n);
  if (n == 0) return;
  const uint8_t k = RiceParameter(values.front(), values.back(), n);
  out->push_back(k);
  PutFixed32(out, values.front());
  BitWriter writer(out);
  for (uint32_t i = 1; i < n; ++i) writer.PutCode(uint64_t(values[i]) - values[i - 1] - 1, k);
  out->push_back(uint8_t(writer.Finish()));
  PutFixed32(out, values.back());
}

uint64_t ContinuationUnaryBits(const PackedListTail& tail, std::span<const uint32_t> values) {
  uint64_t bits = 0;
  uint32_t previous = tail.last;
  for (uint32_t v : values) {
    bits += (uint64_t(v) - previous - 1) >> tail.k;
    previous = v;
  }
  return bits;
}

PackedListTail EncodeContinuation(const PackedListTail& tail, std::span<const uint32_t> values,
                                  std::vector<uint8_t>* out) {
  BitWriter writer(out);
  if (tail.tail_bits == 0) {
    out->push_back(tail.last_byte);  // a complete byte stays as it is
  } else {
    writer.Resume(tail.last_byte >> (8 - tail.tail_bits), tail.tail_bits);
  }
  uint32_t previous = tail.last;
  for (uint32_t v : values) {
    writer.PutCode(uint64_t(v) - previous - 1, tail.k);
    previous = v;
  }
  PackedListTail next = tail;
  next.tail_bits = uint8_t(writer.Finish());
  // The continuation always holds at least the old last stream byte, so the
  // byte just written is the new last stream byte.
  next.last_byte = out->back();
  out->push_back(next.tail_bits);
  PutFixed32(out, previous);
  next.last = previous;
  next.count = tail.count + uint32_t(values.size());
  return next;
}

bool ReadPackedListTail(std::span<const uint8_t> bytes, PackedListTail* tail) {
  if (bytes.size() < kEmptySize) return false;
  *tail = PackedListTail{};
  tail->count = DecodeFixed32(bytes.data());
  if (tail->count == 0) return true;
  if (bytes.size() < kFixedSize) return false;
  tail->k = bytes[kKOffset];
  const size_t end = bytes.size();
  tail->tail_bits = bytes[end - kTrailerSize];
  tail->last = DecodeFixed32(&bytes[end - 4]);
  tail->last_byte = end > kFixedSize ? bytes[end - kTailSize] : 0;
  return true;
}

bool PackedListReader::Init(std::span<const uint8_t> bytes) {
  *this = PackedListReader{};
  damaged_ = true;
  if (bytes.size() < kEmptySize) return false;
  count_ = DecodeFixed32(bytes.data());
  if (count_ == 0) {
    damaged_ = bytes.size() != kEmptySize;
    return !damaged_;
  }
  if (bytes.size() < kFixedSize) return false;
  k_ = bytes[kKOffset];
  if (k_ > 31) return false;
  first_ = DecodeFixed32(&bytes[kFirstOffset]);
  stream_ = bytes.data() + kStreamOffset;
  stream_bytes_ = bytes.size() - kFixedSize;
  const unsigned tail_bits = bytes[bytes.size() - kTrailerSize];
  last_ = DecodeFixed32(&bytes[bytes.size() - 4]);
  if (tail_bits > 7 || (stream_bytes_ == 0 && tail_bits != 0)) return false;
  total_bits_ = tail_bits == 0 ? stream_bytes_ * 8 : (stream_bytes_ - 1) * 8 + tail_bits;
  // Every code takes at least k + 1 bits: a count the stream cannot hold is
  // damage, caught before anyone sizes a buffer by it.
  if (uint64_t(count_ - 1) * (k_ + 1) > total_bits_) return false;
  if (count_ == 1 && last_ != first_) return false;
  damaged_ = false;
  return true;
}

// 64 bits of the stream starting at bit `bit`; bits past the stream read 0.
uint64_t PackedListReader::Peek(uint64_t bit) const {
  const uint64_t byte = bit >> 3;
  const unsigned shift = unsigned(bit & 7);
  uint64_t w = 0;
  if (byte + 9 <= stream_bytes_) {
    std::memcpy(&w, stream_ + byte, 8);
    w = __builtin_bswap64(w);
    if (shift) w = (w << shift) | (stream_[byte + 8] >> (8 - shift));
    return w;
  }
  for (unsigned i = 0; i < 8 && byte + i < stream_bytes_; ++i) w |= uint64_t(stream_[byte + i]) << (56 - 8 * i);
  if (shift) {
    w <<= shift;
    if (byte + 8 < stream_bytes_) w |= stream_[byte + 8] >> (8 - shift);
  }
  return w;
}

bool PackedListReader::Next(uint32_t* value) {
  if (damaged_ || produced_ >= count_) return false;
  if (produced_ == 0) {
    ++produced_;
    previous_ = first_;
    *value = first_;
    return true;
  }
  uint64_t w = Peek(bit_);
  uint64_t q;
  if (~w != 0) {
    q = unsigned(std::countl_one(w));
  } else {
    // A unary run longer than one word: count whole words, bounded by the
    // stream (bits past it read as zero and end the run).
    q = 64;
    for (;;) {
      if (bit_ + q >= total_bits_) {
        damaged_ = true;
        return false;
      }
      w = Peek(bit_ + q);
      if (~w != 0) break;
      q += 64;
    }
    q += unsigned(std::countl_one(w));
    w = 0;  // the low bits are not in this word
  }
  uint64_t low = 0;
  const uint64_t used = q + 1;
  if (k_) {
    if (used + k_ <= 64 && used < 64) {
      low = (w << used) >> (64 - k_);
    } else {
      low = Peek(bit_ + used) >> (64 - k_);
    }
  }
  bit_ += used + k_;
  if (bit_ > total_bits_ || q > (uint64_t{0xFFFFFFFF} >> k_)) {
    damaged_ = true;
    return false;
  }
  const uint64_t v = uint64_t(previous_) + ((q << k_) | low) + 1;
  if (v > 0xFFFFFFFFu) {
    damaged_ = true;
    return false;
  }
  previous_ = uint32_t(v);
  ++produced_;
  if (produced_ == count_ && previous_ != last_) {
    damaged_ = true;
    return false;
  }
  *value = previous_;
  return true;
}

namespace {

// Decodes the list `bytes` with every check of PackedListReader, handing the
// values over as they come: begin(count) first, then put(index, value, bit)
// with the stream bit after each value. False when the list is damaged;
// put() may then have seen values that are not in the list.
template <typename Begin, typename Put>
bool DecodeChecked(std::span<const uint8_t> bytes, Begin begin, Put put) {
  PackedListReader reader;
  if (!reader.Init(bytes)) return false;
  const uint32_t count = reader.count();
  begin(count);
  if (count == 0) return true;
  const uint8_t* stream = bytes.data() + kStreamOffset;
  // Whole-word loads may run into the 5 trailer bytes after the stream; the
  // bits used are checked against the stream's length once at the end.
  const uint64_t loadable = bytes.size() - kStreamOffset;
  const unsigned k = bytes[kKOffset];
  uint64_t bit = 0;
  uint64_t value = DecodeFixed32(&bytes[kFirstOffset]);
  put(0, uint32_t(value), bit);
  uint32_t i = 1;
  while (i < count) {
    // Fast path: one 64-bit load per value, no per-bit branches. A load at
    // any bit offset gives at least 57 valid bits; a code that needs more
    // (a long unary run) or one near the end of the buffer leaves it.
    for (; i < count; ++i) {
      const uint64_t byte = bit >> 3;
      if (byte + 8 > loadable) break;
      uint64_t w;
      std::memcpy(&w, stream + byte, 8);
      w = __builtin_bswap64(w) << (bit & 7);
      const unsigned q = unsigned(std::countl_one(w));
      if (q + 1 + k > 56) break;
      const uint64_t low = k ? (w << (q + 1)) >> (64 - k) : 0;
      bit += q + 1 + k;
      value += ((uint64_t{q} << k) | low) + 1;
      put(i, uint32_t(value), bit);
    }
    if (i == count || value > 0xFFFFFFFFu) break;
    // That one value through the checked step reader, positioned where the
    // fast path stopped; then back to the fast path.
    uint32_t v = 0;
    reader.Skip(bit, uint32_t(value), i);
    if (!reader.Next(&v)) break;
    value = v;
    bit = reader.bits_used();
    put(i++, v, bit);
  }
  return i == count && !reader.damaged() && bit <= reader.total_bits() && value == reader.last();
}

}  // namespace

bool DecodePackedList(std::span<const uint8_t> bytes, std::vector<uint32_t>* out) {
  const size_t size_on_entry = out->size();
  uint32_t* dst = nullptr;
  const bool ok = DecodeChecked(
      bytes,
      [&](uint32_t count) {
        out->resize(size_on_entry + count);
        dst = out->data() + size_on_entry;
      },
      [&](uint32_t i, uint32_t value, uint64_t) { dst[i] = value; });
  if (!ok) out->resize(size_on_entry);
  return ok;
}

bool SeekableList::Build(std::vector<uint8_t> bytes) {
  bytes_ = std::move(bytes);
  skips_.clear();
  count_ = 0;
  byte_gaps_ = false;
  // Both forms are made in the one checking pass; the larger one goes.
  std::vector<uint8_t> gaps;
  std::vector<Skip> gap_skips;
  uint32_t previous = 0;
  const bool ok = DecodeChecked(
      bytes_,
      [&](uint32_t count) {
        skips_.reserve(count / kSkipInterval + 1);
        gap_skips.reserve(count / kSkipInterval + 1);
        gaps.reserve(count);
      },
      [&](uint32_t i, uint32_t value, uint64_t bit) {
        if (i > 0) {
          const uint32_t gap = value - previous;
          if (gap < 256) {
            gaps.push_back(uint8_t(gap));
          } else {
            const uint8_t wide[5] = {0, uint8_t(gap), uint8_t(gap >> 8), uint8_t(gap >> 16),
                                     uint8_t(gap >> 24)};
            gaps.insert(gaps.end(), wide, wide + 5);
          }
        }
        previous = value;
        if (i % kSkipInterval == 0) {
          skips_.push_back({bit, value});
          gap_skips.push_back({gaps.size(), value});
        }
      });
  if (!ok) {
    bytes_.clear();
    skips_.clear();
    return false;
  }
  count_ = DecodeFixed32(bytes_.data());
  if (count_ != 0) {
    k_ = bytes_[kKOffset];
    last_ = DecodeFixed32(&bytes_[bytes_.size() - 4]);
  }
  if (count_ > 1 && gaps.size() * 2 <= bytes_.size() * 3) {
    byte_gaps_ = true;
    bytes_ = std::move(gaps);
    skips_ = std::move(gap_skips);
  } else {
    bytes_.resize(bytes_.size() + kPadding, 0);
  }
  bytes_.shrink_to_fit();
  skips_.shrink_to_fit();
  return true;
}

ListCursor::ListCursor(const SeekableList* list, std::span<const uint32_t> after)
    : list_(list), after_(after) {
  in_list_ = list_ && list_->count_ > 0;
  if (!in_list_) return;
  byte_gaps_ = list_->byte_gaps_;
  stream_ = list_->bytes_.data() + (byte_gaps_ ? 0 : kStreamOffset);
  skips_ = list_->skips_.data();
  skip_count_ = list_->skips_.size();
  count_ = list_->count_;
  last_ = list_->last_;
  k_ = list_->k_;
}

void ListCursor::StepSlowly() {
  avail_ = 0;  // the held word is refilled at the next step
  word_ = 0;
  if (produced_ == 0) {
    value_ = skips_[0].value;
    Count();
    return;
  }
  // A long unary run: count its ones 56 at a time.
  uint64_t q = 0;
  for (;;) {
    const unsigned ones = unsigned(std::countl_one(LoadBits(bit_ + q)));
    if (ones <= 56) {
      q += ones;
      break;
    }
    q += 56;
  }
  bit_ += q + 1;
  const uint64_t low = k_ ? LoadBits(bit_) >> (64 - k_) : 0;
  bit_ += k_;
  value_ += uint32_t((q << k_) | low) + 1;
  Count();
}

// Moves to the last skip entry not above `target` when it lies ahead.
// Galloping first: probes usually land close by.
void ListCursor::JumpTowards(uint32_t target) {
  const size_t n = skip_count_;
  size_t low = skip_ + 1, step = 1;
  while (low + step < n && skips_[low + step].value <= target) {
    low += step;
    step *= 2;
  }
  size_t high = std::min(n, low + step);  // skips_[high] > target, or the end
  while (high - low > 1) {
    const size_t mid = low + (high - low) / 2;
    if (skips_[mid].value <= target) {
      low = mid;
    } else {
      high = mid;
    }
  }
  const uint32_t produced = uint32_t(low * SeekableList::kSkipInterval + 1);
  if (produced <= produced_) return;
  skip_ = low;
  avail_ = 0;
  word_ = 0;
  bit_ = skips_[low].at;
  value_ = skips_[low].value;
  produced_ = produced;
}

bool ListCursor::EnterAfter(uint32_t target) {
  in_list_ = false;
  const auto it = std::lower_bound(after_.begin() + after_index_, after_.end(), target);
  if (it == after_.end()) {
    ended_ = true;
    return false;
  }
  value_ = *it;
  after_index_ = size_t(it - after_.begin()) + 1;
  return true;
}

bool ListCursor::Next() {
  if (ended_) return false;
  if (in_list_ && produced_ < count_) {
    Step();
    return true;
  }
  in_list_ = false;
  if (after_index_ < after_.size()) {
    value_ = after_[after_index_++];
    return true;
  }
  ended_ = true;
  return false;
}

size_t ListCursor::Fill(uint32_t* out, size_t max) {
  size_t n = 0;
  if (in_list_ && byte_gaps_ && produced_ > 0) {
    // Byte gaps in locals: the loop that reads the dense lists whole.
    const uint8_t* const gaps = stream_;
    uint64_t at = bit_;
    uint32_t value = value_;
    const uint32_t take = uint32_t(std::min<uint64_t>(max, count_ - produced_));
    for (; n < take; ++n) {
      value += NextByteGap(gaps, &at);
      out[n] = value;
    }
    bit_ = at;
    value_ = value;
    produced_ += uint32_t(n);
    skip_ = (produced_ - 1) / SeekableList::kSkipInterval;
  }
  while (n < max && Next()) out[n++] = value_;
  return n;
}

// SeekAtLeast when the cursor has not started, has left the list or the
// target lies beyond it.
bool ListCursor::SeekOutside(uint32_t target) {
  if (ended_) return false;
  if (in_list_ && target <= last_) {  // not started: the first value, then on
    StepSlowly();
    return SeekAtLeast(target);
  }
  if ((produced_ > 0 || after_index_ > 0) && value_ >= target) return true;
  return EnterAfter(target);
}

}  // namespace lun
