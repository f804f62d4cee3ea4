// Fuzz target for the RTF reader, our own parser of untrusted documents.
//
// Oracles beyond "no crash": the text never exceeds the limit, never holds a
// lone high surrogate at its end (the limit cut), and any input that does not
// start with "{\rtf" is rejected without text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crawler/extract/rtf_text.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  constexpr size_t kLimit = 4096;
  const lun::ExtractResult result = lun::RtfText(bytes, kLimit);
  Check(result.text.size() <= kLimit);
  if (!result.text.empty()) {
    const char16_t last = result.text.back();
    Check(!(last >= 0xD800 && last <= 0xDBFF && result.text.size() == kLimit));
  }
  if (bytes.substr(0, 5) != "{\\rtf") {
    Check(result.status == lun::ExtractStatus::kDamaged && result.text.empty());
  }
  return 0;
}
