// Differential round trip: bytes -> a sorted list of distinct 32-bit values
// -> encode -> decode must give the list back; so must encoding a prefix
// and continuing it with the rest (the in-place append of the word index).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/index/packed_list.h"
#include "engine/index/packed_list_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t cut_byte = data[0];
  std::vector<uint32_t> values;
  // Values come as 4-byte words; small gaps are made likely by adding the
  // low byte of each word to the previous value on odd words.
  for (size_t i = 1; i + 4 <= size; i += 4) {
    uint32_t w;
    std::memcpy(&w, data + i, 4);
    if ((i / 4) % 2 == 1 && !values.empty()) w = values.back() + 1 + (w & 0xFF);
    values.push_back(w);
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());

  std::vector<uint8_t> bytes;
  lun::EncodePackedList(values, &bytes);
  std::vector<uint32_t> decoded;
  if (!lun::DecodePackedList(bytes, &decoded) || decoded != values) abort();

  const size_t cut = values.empty() ? 0 : 2 + cut_byte % values.size();
  if (cut >= values.size()) return 0;
  std::vector<uint8_t> prefix;
  lun::EncodePackedList(std::span(values).first(cut), &prefix);
  lun::PackedListTail tail;
  if (!lun::ReadPackedListTail(prefix, &tail)) abort();
  // A continuation keeps the old k; writers re-encode instead when that
  // would cost many unary bits (word_index_segment.cpp), and so does this.
  if (lun::ContinuationUnaryBits(tail, std::span(values).subspan(cut)) > (uint64_t{1} << 20)) return 0;
  std::vector<uint8_t> more;
  lun::EncodeContinuation(tail, std::span(values).subspan(cut), &more);
  prefix.resize(prefix.size() - lun::packed_list::kTailSize);
  prefix.insert(prefix.end(), more.begin(), more.end());
  const uint32_t n = uint32_t(values.size());
  std::memcpy(prefix.data(), &n, 4);
  decoded.clear();
  if (!lun::DecodePackedList(prefix, &decoded) || decoded != values) abort();
  return 0;
}
