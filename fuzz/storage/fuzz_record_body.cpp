// Fuzz target: decoding record bodies (value_codec.h) from arbitrary bytes.
//
// Input: byte 0 gives the number of fields (mod 9), the next bytes their
// types (mod 9), the rest is the body. The body is walked field by field as
// a reader does; every value is decoded. Oracles beyond "no crash, no read
// past the end": a decoded text re-encodes and decodes to itself, and a
// value's extent never leaves the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/storage/value_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lun;
  if (size < 1) return 0;
  const size_t fields = data[0] % 9;
  if (size < 1 + fields) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1 + fields, size - 1 - fields);
  size_t pos = 0;
  for (size_t f = 0; f < fields; ++f) {
    const int type = data[1 + f] % 9;
    ValueExtent e;
    if (!LocateValue(type, body, pos, &e)) break;
    if (e.end > body.size() || e.value_pos + e.value_size != e.end) std::abort();
    const std::string_view stored = body.substr(e.value_pos, e.value_size);
    Variant value;
    (void)StoredValueToVariant(type, stored, &value);
    std::string raw;
    (void)RawFieldBytes(type, stored, &raw);
    (void)IsWellFormedVariantStream(stored);
    if (IsTextType(type)) {
      std::u16string text;
      if (DecodeTextValue(stored, &text)) {
        std::string again;
        EncodeTextValue(text, &again);
        std::u16string back;
        if (!DecodeTextValue(std::string_view(again).substr(4), &back) || back != text) std::abort();
      }
    }
    pos = e.end;
  }
  return 0;
}
