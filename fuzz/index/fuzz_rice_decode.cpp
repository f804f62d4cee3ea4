// The packed-list decoder on arbitrary bytes. Beyond "no crash": a list
// that decodes has exactly its header's count of strictly increasing values
// ending at its stored last value, and the step reader agrees with the
// whole-list decoder.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "engine/index/packed_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  std::vector<uint32_t> values;
  const bool ok = lun::DecodePackedList(bytes, &values);
  lun::PackedListTail tail;
  if (ok) {
    if (!lun::ReadPackedListTail(bytes, &tail) || values.size() != tail.count) abort();
    for (size_t i = 1; i < values.size(); ++i) {
      if (values[i] <= values[i - 1]) abort();
    }
    if (!values.empty() && values.back() != tail.last) abort();
  } else if (!values.empty()) {
    abort();  // a failed decode leaves the output as it was
  }
  lun::PackedListReader reader;
  std::vector<uint32_t> stepped;
  if (reader.Init(bytes)) {
    uint32_t v;
    while (reader.Next(&v)) stepped.push_back(v);
    if (ok != !reader.damaged() || (ok && stepped != values)) abort();
  } else if (ok) {
    abort();
  }
  return 0;
}
