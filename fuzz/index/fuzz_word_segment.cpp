// Opening a word-index generation from arbitrary file contents, then reading
// the stored lists, mapping positions to records, checking it, adding a
// record and flushing. The input is cut into the postings file (".Ix"), the
// record boundary list (".RL") and directory entries (".Ha"): the directory
// is 1.8 MB, so the input names entries instead, each as a 2-byte code unit
// and its 28 bytes, placed in an otherwise empty directory.
//
//   byte 0-1   length of the ".Ix" bytes (big-endian, at most what follows)
//   byte 2     length of the ".RL" bytes
//   byte 3     bit 0: give ".Ix" a valid page-size word; bit 1: and a
//              plausible next free page; bit 2: keep the directory short
//   then       the ".Ix" bytes, the ".RL" bytes, then 30-byte entries
//
// Oracle beyond no crash, hang or oversized allocation (run with
// -rss_limit_mb=512 -malloc_limit_mb=128 -timeout=2): a list that reads
// back is ascending and below the position counter; a record added after
// opening is found at its position.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/char_filter.h"
#include "engine/index/word_index_format.h"
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

namespace {

constexpr size_t kEntryInputSize = 2 + lun::word_index::kEntrySize;

void ExpectAscendingBelow(const std::vector<uint32_t>& values, uint32_t limit) {
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i] >= limit || (i > 0 && values[i] <= values[i - 1])) abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lun::word_index;
  if (size < 4) return 0;
  const uint8_t flags = data[3];
  std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
  const size_t ix_length = std::min<size_t>(rest.size(), size_t(data[0]) << 8 | data[1]);
  std::string ix(rest.substr(0, ix_length));
  rest.remove_prefix(ix_length);
  const size_t rl_length = std::min<size_t>(rest.size(), data[2]);
  const std::string rl(rest.substr(0, rl_length));
  rest.remove_prefix(rl_length);

  if (flags & 1) {
    ix.resize(std::max<size_t>(ix.size(), kPageSize), '\0');
    ix[0] = 0;
    ix[1] = 0x10;  // page size 4096
    ix[2] = ix[3] = 0;
    if (flags & 2) {
      const uint32_t pages = uint32_t(ix.size() / kPageSize);
      for (int i = 0; i < 4; ++i) ix[4 + i] = char(uint8_t(pages >> (8 * i)));
    }
  }
  std::string ha(kDirectorySize, '\0');
  size_t highest = 0;
  for (; rest.size() >= kEntryInputSize; rest.remove_prefix(kEntryInputSize)) {
    const size_t c = uint8_t(rest[0]) | size_t(uint8_t(rest[1])) << 8;
    ha.replace(c * kEntrySize, kEntrySize, rest.substr(2, kEntrySize));
    highest = std::max(highest, (c + 1) * kEntrySize);
  }
  if (flags & 4) ha.resize(highest);

  lun::MemfdFileSystem fs;
  const std::string folder = "/fuzz";
  fs.Put(lun::IndexFilePath(folder, 0, "Ix", 0), ix);
  fs.Put(lun::IndexFilePath(folder, 0, "Ha", 0), ha);
  fs.Put(lun::IndexFilePath(folder, 0, "RL", 0), rl);
  const lun::CharFilter filter;
  std::string error;
  auto segment = lun::WordIndexSegment::OpenExisting(fs, filter, folder, 0, 0, 0, &error);
  if (!segment) return 0;

  // Every stored list the input named: whole, as a probe list, as bytes.
  const uint32_t limit = segment->position_counter();
  std::vector<uint32_t> values, records, counts;
  for (size_t at = 0; at + kEntrySize <= highest; at += kEntrySize) {
    const char16_t c = char16_t(at / kEntrySize);
    if (segment->PositionCount(c) == 0) continue;
    values.clear();
    if (segment->ReadPositions(c, &values)) {
      ExpectAscendingBelow(values, limit);
      records.clear();
      counts.clear();
      segment->RecordsOf(values, 0, 0, lun::MatchForm::kOccurrence, &records, &counts);
    }
    std::shared_ptr<const lun::SeekableList> list;
    (void)segment->StoredList(c, &list);
    std::vector<uint8_t> packed;
    (void)segment->Positions(c, &packed);
  }
  std::vector<std::string> problems;
  segment->Check(&problems);

  // A record added now is found where it was put (unless the stored list
  // of its character is damaged, which the read reports).
  if (segment->HasRoomFor(1)) {
    const uint32_t position = segment->position_counter() + 1;
    segment->AddText(u"q");
    values.clear();
    if (segment->ReadPositions(u'q', &values) && (values.empty() || values.back() != position)) {
      abort();
    }
  }
  (void)segment->Flush();
  return 0;
}
