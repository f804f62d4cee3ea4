// Fuzz target for the settings file reader: the packed text container and
// the INI text inside it.
//
// Oracles beyond "no crash": what was read survives write-then-read
// unchanged (parse -> serialise -> parse gives an equal document), and the
// container reads back what it packs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "config/ini_text.h"
#include "config/packed_text.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  std::string text;
  if (lun::UnpackText(file, &text, size_t{1} << 20) == lun::UnpackResult::kNotPacked) {
    text.assign(file);
  }
  const lun::IniDocument doc = lun::IniDocument::Parse(text);
  const std::string written = doc.Serialize();
  Check(lun::IniDocument::Parse(written) == doc);

  std::string unpacked;
  Check(lun::UnpackText(lun::PackText(written), &unpacked) == lun::UnpackResult::kOk);
  Check(unpacked == written);
  return 0;
}
