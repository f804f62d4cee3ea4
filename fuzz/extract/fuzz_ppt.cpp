// Fuzz target for the PowerPoint record walk, our own parser of untrusted
// slide streams. The input is the "PowerPoint Document" stream itself;
// when it starts with the compound-file signature it goes through the whole
// reader (libgsf first).
//
// Oracles beyond "no crash": the text never exceeds the limit, and a stream
// whose records all fit their containers reads as kOk, never kDamaged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crawler/extract/ppt_text.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  constexpr size_t kLimit = 4096;
  const bool ole = bytes.substr(0, 8) == std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  const lun::ExtractResult result =
      ole ? lun::PptText(bytes, kLimit) : lun::PptStreamText(bytes, kLimit);
  Check(result.text.size() <= kLimit);
  if (!ole) {
    Check(result.status == lun::ExtractStatus::kOk ||
          result.status == lun::ExtractStatus::kPartial);
  }
  return 0;
}
