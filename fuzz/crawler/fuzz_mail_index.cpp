// Fuzz target for the mail readers: the Foxmail mailbox index and account
// list, and the mbox splitter.
//
// Oracles beyond "no crash": the index gives at most one message per whole
// 176-byte record, and every mbox message lies inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "crawler/foxmail.h"
#include "crawler/foxmail_format.h"
#include "crawler/local_mail.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto messages = lun::ReadFoxmailIndex(bytes);
  Check(size < lun::foxmail::kIndexHeaderBytes ||
        messages.size() == (size - lun::foxmail::kIndexHeaderBytes) / lun::foxmail::kIndexRecordBytes);
  for (const auto& m : messages) Check(m.key.size() < lun::foxmail::kIndexRecordBytes);
  (void)lun::FoxmailDirectories(bytes, "/nonexistent");
  for (const auto& m : lun::SplitMbox(bytes)) Check(m.offset + m.length <= size && m.length > 0);
  return 0;
}
