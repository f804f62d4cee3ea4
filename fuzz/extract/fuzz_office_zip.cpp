// Fuzz target for the zipped XML readers (Office Open XML, OpenDocument,
// EPUB) over the in-memory ZIP reader: the first input byte picks the
// document type, the rest is the archive.
//
// Oracle beyond "no crash": the text stays within the limit, and a status
// without text is never reported as partial.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crawler/extract/office_xml.h"
#include "fuzz/fuzz_check.h"

namespace {

constexpr std::string_view kTypes[] = {"DOCX", "XLSX", "PPTX", "ODT", "EPUB"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const std::string_view type = kTypes[data[0] % 5];
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  constexpr size_t kLimit = 4096;
  const lun::ExtractResult result = lun::OfficeXmlText(bytes, type, kLimit);
  Check(result.text.size() <= kLimit);
  Check(!(result.status == lun::ExtractStatus::kPartial && result.text.empty()));
  return 0;
}
