// Fuzz target for the Outlook data file reader: libpff's B-trees, heaps,
// property and table contexts, and our folder walk, keys and text over
// untrusted stores, in this process (the bytes go through a memory file, as
// libpff opens stores by name).
//
// Oracles beyond "no crash": every key starts with the store's key and
// "::" and ends in ".eml", every message is listed in the summary, and the
// text of one message stays within the service's limit.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/pst_messages.h"
#include "fuzz/fuzz_check.h"
#include "platform/process.h"
#include "platform/text.h"

// libpff loses a few bytes on some damaged tables (a column definition not
// freed on an error path). That is its own, bounded by the input, and gone
// with the member reader's process; the fuzzer keeps looking for ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libpff.so\n"; }

namespace {

bool Wanted(std::string_view type) { return type == "TXT" || type == "HTM"; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("fuzz.pst", MFD_CLOEXEC);
  if (fd < 0 || !lun::WriteAllToFd(fd, data, size)) std::abort();
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  const std::string key = "/f.pst";
  uint32_t messages = 0;
  std::u16string listed;
  const lun::ArchiveSummary summary = lun::WalkMailStore(
      path, key, lun::MailStoreLimits{1000, 1u << 24}, &Wanted, [&](const lun::ArchiveMember& m) {
        ++messages;
        Check(m.key.starts_with(key + "::") && m.key.ends_with(".eml"));
        Check(m.text.size() <= lun::kServiceTextLimit);
        listed += lun::ToWide(m.key.substr(key.size() + 2)) + u"\n";
        return true;
      });
  if (!listed.empty()) listed.pop_back();
  Check(summary.names == listed);
  Check(messages <= 1000);
  close(fd);
  return 0;
}
