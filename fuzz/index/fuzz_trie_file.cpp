// Opening an exact-value index from arbitrary file contents, then looking
// values up, checking it, adding records and flushing them. The input is
// split into the trie file (".Ha") and the record-list file (".Ix"); a few
// look-up keys come from the input too. Oracle: no crash, no hang, and a
// value added after opening is found with its record number.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

#include "engine/index/exact_index_segment.h"
#include "engine/index/word_index_segment.h"
#include "memfd_file_system.h"
#include "platform/error_log.h"
#include "platform/paths.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Engine messages go to a log whose file is /dev/null.
  const std::string home = lun::TemporaryName(lun::TempDirectory());
  if (lun::SetApplicationHome(home)) {
    (void)::symlink("/dev/null", lun::JoinPath(home, lun::kEngineErrorLogName).c_str());
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t split = std::min<size_t>(size - 2, size_t(data[0]) << 4 | data[1] >> 4);
  const std::string_view rest(reinterpret_cast<const char*>(data + 2), size - 2);
  // The trie file always gets a plausible header size so that opening gets
  // past the size check often; the fuzzer controls every byte of it.
  std::string trie(rest.substr(split));
  if (trie.size() < 1024) trie.resize(1024 + trie.size(), '\0');
  std::string lists(rest.substr(0, split));
  if (data[1] & 1) {
    lists.resize(std::max<size_t>(lists.size(), 2048), '\0');
    lists[0] = 0;
    lists[1] = 8;  // page size 2048
    lists[2] = lists[3] = 0;
  }
  lun::MemfdFileSystem fs;
  const std::string folder = "/fuzz";
  fs.Put(lun::IndexFilePath(folder, 1, "Ha", 0), trie);
  fs.Put(lun::IndexFilePath(folder, 1, "Ix", 0), lists);
  std::string error;
  auto segment = lun::ExactIndexSegment::OpenExisting(fs, folder, 1, 0, 0, &error);
  if (!segment) return 0;
  std::vector<uint32_t> records;
  for (size_t at = 0; at + 4 <= trie.size() && at < 64; at += 16) {
    const std::u16string key(reinterpret_cast<const char16_t*>(trie.data() + at), 2);
    segment->Lookup(key, &records);
  }
  std::vector<std::string> problems;
  segment->Check(&problems);
  const uint32_t next = segment->record_counter();
  segment->AddValue(u"fuzz value");
  records.clear();
  segment->Lookup(u"fuzz value", &records);
  if (records.empty() || records.back() != next) abort();
  (void)segment->Flush();
  return 0;
}
