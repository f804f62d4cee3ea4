// Fuzz target for the archive member walk: libarchive's readers and our
// caps, keys and name checks over untrusted archives, in this process.
//
// Oracles beyond "no crash": the walk never reports more members than the
// member cap, every key starts with the archive's key and "::", and no key
// climbs out with "..".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "crawler/extract/archive_members.h"
#include "fuzz/fuzz_check.h"

namespace {

// Only readers that need no file or program: text and web pages.
bool Wanted(std::string_view type) { return type == "TXT" || type == "HTM" || type == "XML"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  uint32_t members = 0;
  lun::WalkArchiveBytes(bytes, "/a.zip", &Wanted, [&](const lun::ArchiveMember& m) {
    ++members;
    Check(m.key.starts_with("/a.zip::"));
    Check(m.key.find("/../") == std::string::npos && m.key.find("::../") == std::string::npos);
    Check(m.text.size() <= 8u * 1024 * 1024);
    return true;
  });
  Check(members <= lun::kArchiveMaxMembers);
  return 0;
}
