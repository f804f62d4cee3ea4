#include "engine/index/exact_index_segment.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "engine/index/exact_index_format.h"
#include "engine/index/indexing_pace.h"
#include "engine/index/word_index_segment.h"
#include "engine/storage/field_index.h"
#include "platform/coding.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/normalize.h"
#include "platform/paths.h"

namespace lun {
namespace {

using namespace exact_index;

// Byte `i` of a key's bit string (UTF-16LE text, terminator, zeros after).
uint8_t KeyByte(std::u16string_view key, size_t i) {
  const size_t unit = i / 2;
  if (unit >= key.size()) return 0;
  return (i & 1) ? uint8_t(key[unit] >> 8) : uint8_t(key[unit]);
}

// Bit `bit` (1-based, most significant first) of a key.
int KeyBit(std::u16string_view key, uint32_t bit) {
  const uint32_t i = bit - 1;
  return (KeyByte(key, i / 8) >> (7 - i % 8)) & 1;
}

// The key stored in a leaf as code units.
std::u16string_view LeafKey(const uint8_t* leaf, std::u16string* scratch) {
  const uint16_t length = DecodeFixed16(leaf + kNodeBitOrLength);
  scratch->resize(length);
  for (uint16_t i = 0; i < length; ++i) {
    (*scratch)[i] = char16_t(DecodeFixed16(leaf + kLeafKey + 2 * i));
  }
  return *scratch;
}

// First bit (1-based) where two keys differ, 0 when they are equal.
uint32_t FirstDifferentBit(std::u16string_view a, std::u16string_view b) {
  const size_t bytes = 2 * (std::max(a.size(), b.size()) + 1);
  for (size_t i = 0; i < bytes; ++i) {
    const uint8_t x = KeyByte(a, i) ^ KeyByte(b, i);
    if (x) return uint32_t(i * 8 + size_t(__builtin_clz(x) - 24) + 1);
  }
  return 0;
}

}  // namespace

ExactIndexSegment::ExactIndexSegment(FileSystem& fs, std::string folder, int definition,
                                     int generation, uint32_t base)
    : fs_(fs),
      folder_(std::move(folder)),
      definition_(definition),
      generation_(generation),
      base_(base) {}

ExactIndexSegment::~ExactIndexSegment() {
  if (map_) ::munmap(map_, mapped_size_);
}

std::u16string ExactIndexSegment::KeyOf(std::u16string_view value) {
  const size_t nul = value.find(u'\0');
  if (nul != std::u16string_view::npos) value = value.substr(0, nul);
  if (value.size() > kMaxKeyUnits) value = value.substr(0, kMaxKeyUnits);
  return Normalize(value);
}

std::unique_ptr<ExactIndexSegment> ExactIndexSegment::CreateNew(FileSystem& fs,
                                                                const std::string& folder,
                                                                int definition, int generation,
                                                                uint32_t base) {
  return std::unique_ptr<ExactIndexSegment>(
      new ExactIndexSegment(fs, folder, definition, generation, base));
}

bool ExactIndexSegment::OpenFiles(bool create, std::string* error) {
  const int flags = O_RDWR | (create ? O_CREAT | O_TRUNC : 0);
  if (!trie_file_.is_open() &&
      trie_file_.Open(fs_, IndexFilePath(folder_, definition_, "Ha", generation_), flags, 0644) !=
          0) {
    *error = "打开哈西文件失败!";
    return false;
  }
  if (!list_file_.is_open() &&
      list_file_.Open(fs_, IndexFilePath(folder_, definition_, "Ix", generation_), flags, 0644) !=
          0) {
    *error = "打开索引文件失败!";
    return false;
  }
  files_open_ = true;
  return true;
}

// Maps the trie file whole; on failure the old mapping stays.
bool ExactIndexSegment::MapTrie(uint64_t size) {
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, trie_file_.get(), 0);
  if (p == MAP_FAILED) return false;
  if (map_) ::munmap(map_, mapped_size_);
  map_ = static_cast<uint8_t*>(p);
  mapped_size_ = size;
  return true;
}

// Lengthens the trie file to `size` and maps it whole again.
bool ExactIndexSegment::GrowTrie(uint64_t size) {
  if (size > 0xFFFFFFF0u || fs_.Truncate(trie_file_.get(), size) != 0) return false;
  return MapTrie(size);
}

std::unique_ptr<ExactIndexSegment> ExactIndexSegment::OpenExisting(FileSystem& fs,
                                                                   const std::string& folder,
                                                                   int definition, int generation,
                                                                   uint32_t base,
                                                                   std::string* error) {
  std::unique_ptr<ExactIndexSegment> s(
      new ExactIndexSegment(fs, folder, definition, generation, base));
  if (!s->OpenFiles(false, error)) return nullptr;
  const std::string damaged = "索引文件损坏:" + IndexFilePath(folder, definition, "*", generation);
  uint64_t list_size = 0;
  uint8_t header[kHeaderBytes];
  if (fs.Size(s->list_file_.get(), &list_size) != 0 || list_size < kPageSize ||
      ReadFully(fs, s->list_file_.get(), header, sizeof header, 0) != 0 ||
      DecodeFixed32(header + kHeaderPageSize) != kPageSize) {
    *error = damaged;
    return nullptr;
  }
  s->file_pages_ = uint32_t(std::min<uint64_t>(list_size / kPageSize, 0xFFFFFFFFu));
  s->next_free_page_ = DecodeFixed32(header + kHeaderNextFree);
  s->values_ = DecodeFixed32(header + kHeaderValues);
  s->listed_ = DecodeFixed32(header + kHeaderListed);
  if (s->next_free_page_ == 0 || s->next_free_page_ > s->file_pages_) {
    *error = damaged;
    return nullptr;
  }
  uint64_t trie_size = 0;
  if (fs.Size(s->trie_file_.get(), &trie_size) != 0 || trie_size < kTrieHeaderSize ||
      trie_size > 0xFFFFFFF0u) {
    *error = damaged;
    return nullptr;
  }
  if (!s->MapTrie(trie_size)) {
    *error = "不能打开索引哈希视图!";
    return nullptr;
  }
  s->used_size_ = trie_size;
  const uint32_t root = DecodeFixed32(s->map_ + kTrieRoot);
  if (root != 0 && (root < kTrieHeaderSize || root >= trie_size)) {
    *error = damaged;
    return nullptr;
  }
  s->records_ = DecodeFixed32(s->map_ + kTrieRecordCount);
  // Both files state the generation's record count at every flush; the
  // chained record numbers must fit the pages in use.
  if (s->records_ != DecodeFixed32(header + kHeaderRecords) ||
      uint64_t{base} + s->records_ > 0xFFFFFFFFu ||
      s->listed_ > uint64_t{s->next_free_page_ - 1} * kRecordsPerPage || s->listed_ > s->records_ ||
      s->values_ > s->records_) {
    *error = damaged;
    return nullptr;
  }
  return s;
}

void ExactIndexSegment::NoteDamage() const {
  if (damaged_.exchange(true)) return;
  AppendEngineErrorLog("读取索引信息错误:" + IndexFilePath(folder_, definition_, "*", generation_));
  (void)TouchFile(fs_, JoinPath(folder_, kIndexWriteMarkerName));
}

// A node the format allows at `offset`: a branch, or a leaf that fits the
// file; the bytes the format leaves zero (after the tag, the key's
// terminator and the leaf's last two) must be zero, which catches damage
// that keeps the links in the file.
const uint8_t* ExactIndexSegment::Node(uint32_t offset, size_t bytes) const {
  if (offset < kTrieHeaderSize || uint64_t{offset} + bytes > mapped_size_) return nullptr;
  const uint8_t* p = map_ + offset;
  if (p[kNodeTag + 1] != 0) return nullptr;
  if (p[kNodeTag] == kLeafTag) {
    const size_t units = DecodeFixed16(p + kNodeBitOrLength);
    if (uint64_t{offset} + LeafSize(units) > mapped_size_) return nullptr;
    const uint8_t* tail = p + kLeafKey + 2 * units;
    if (tail[0] != 0 || tail[1] != 0 || tail[2] != 0 || tail[3] != 0) return nullptr;
  } else if (p[kNodeTag] != kBranchTag) {
    return nullptr;
  }
  return p;
}

uint32_t ExactIndexSegment::Root() const {
  return map_ && mapped_size_ >= kTrieHeaderSize ? DecodeFixed32(map_ + kTrieRoot) : 0;
}

bool ExactIndexSegment::FindLeaf(const std::u16string& key, uint32_t* leaf, bool* damaged) const {
  *damaged = false;
  *leaf = 0;
  uint32_t offset = Root();
  uint32_t previous_bit = 0;
  std::u16string scratch;
  std::vector<uint32_t> path;  // bits tested on the way down
  while (offset != 0) {
    const uint8_t* node = Node(offset, kBranchSize);
    if (!node) {
      *damaged = true;  // a link out of the file or to no node
      return false;
    }
    if (node[kNodeTag] == kLeafTag) {
      *leaf = offset;
      const std::u16string_view leaf_key = LeafKey(node, &scratch);
      if (leaf_key == std::u16string_view(key)) return true;
      // Another key: the value is absent, unless that key contradicts the
      // branches that led to it (then it or a branch is damaged).
      for (uint32_t b : path) {
        if (KeyBit(leaf_key, b) != KeyBit(key, b)) *damaged = true;
      }
      return false;
    }
    const uint32_t bit = DecodeFixed16(node + kNodeBitOrLength);
    // Bits strictly increase along a path: anything else is damage, and
    // the rule also bounds the walk. A bit past the key's end reads 0, so
    // the walk still ends at the leaf whose record can vouch for the trie.
    if (bit <= previous_bit) {
      *damaged = true;
      return false;
    }
    previous_bit = bit;
    path.push_back(bit);
    offset = DecodeFixed32(node + (KeyBit(key, bit) ? kBranchOne : kBranchZero));
  }
  return false;
}

uint32_t ExactIndexSegment::Insert(const std::u16string& key) {
  if (!map_) return 0;
  const uint64_t leaf_size = LeafSize(key.size());
  if (mapped_size_ < used_size_ + leaf_size + kBranchSize) {
    // Room for a leaf and a branch; a long key can need more than one
    // step of growth.
    const uint64_t want =
        std::max(used_size_ + kTrieGrowStep, used_size_ + leaf_size + kBranchSize);
    if (!GrowTrie(want)) {
      AppendEngineErrorLog("不能创建索引哈希视图!");
      return 0;
    }
  }
  std::vector<uint8_t> block(leaf_size + kBranchSize, 0);
  const uint32_t leaf = uint32_t(used_size_);
  block[kNodeTag] = kLeafTag;
  block[kNodeBitOrLength] = uint8_t(key.size());
  block[kNodeBitOrLength + 1] = uint8_t(key.size() >> 8);
  EncodeFixed32(&block[kLeafReference], values_);  // ordinal until the first write
  for (size_t i = 0; i < key.size(); ++i) {
    block[kLeafKey + 2 * i] = uint8_t(key[i]);
    block[kLeafKey + 2 * i + 1] = uint8_t(key[i] >> 8);
  }

  uint32_t offset = Root();
  if (offset == 0) {
    uint8_t link[4];
    EncodeFixed32(link, leaf);
    if (WriteFully(fs_, trie_file_.get(), block.data(), leaf_size, leaf) != 0 ||
        WriteFully(fs_, trie_file_.get(), link, 4, kTrieRoot) != 0) {
      return 0;
    }
    used_size_ += leaf_size;
    ++values_;
    return leaf;
  }

  uint64_t slot = kTrieRoot;  // where the link to `offset` is stored
  uint32_t previous_bit = 0;
  uint32_t differ = 0;
  std::u16string scratch;
  for (;;) {
    const uint8_t* node = Node(offset, kBranchSize);
    if (!node) return 0;
    if (node[kNodeTag] == kLeafTag) {
      differ = FirstDifferentBit(key, LeafKey(node, &scratch));
      if (differ == 0) return offset;  // the key exists
      break;
    }
    const uint32_t bit = DecodeFixed16(node + kNodeBitOrLength);
    if (bit <= previous_bit) return 0;
    // Compare with the leftmost leaf below over the bits before this one.
    uint32_t probe = offset;
    uint32_t probe_bit = previous_bit;
    const uint8_t* p = node;
    while (p[kNodeTag] == kBranchTag) {
      const uint32_t b = DecodeFixed16(p + kNodeBitOrLength);
      if (b <= probe_bit) return 0;
      probe_bit = b;
      probe = DecodeFixed32(p + kBranchZero);
      p = Node(probe, kBranchSize);
      if (!p) return 0;
    }
    differ = FirstDifferentBit(key, LeafKey(p, &scratch));
    if (differ != 0 && differ < bit) break;
    previous_bit = bit;
    slot = uint64_t{offset} + (KeyBit(key, bit) ? kBranchOne : kBranchZero);
    offset = DecodeFixed32(node + (KeyBit(key, bit) ? kBranchOne : kBranchZero));
  }
  // Insert a branch testing `differ` above `offset`.
  const uint32_t branch = uint32_t(used_size_ + leaf_size);
  uint8_t* b = &block[leaf_size];
  b[kNodeTag] = kBranchTag;
  b[kNodeBitOrLength] = uint8_t(differ);
  b[kNodeBitOrLength + 1] = uint8_t(differ >> 8);
  const bool one = KeyBit(key, differ);
  EncodeFixed32(b + kBranchZero, one ? offset : leaf);
  EncodeFixed32(b + kBranchOne, one ? leaf : offset);
  uint8_t link[4];
  EncodeFixed32(link, branch);
  if (WriteFully(fs_, trie_file_.get(), block.data(), block.size(), leaf) != 0) return 0;
  LUN_KILL_POINT("index.exact.insert.unlinked");
  if (WriteFully(fs_, trie_file_.get(), link, 4, slot) != 0) return 0;
  used_size_ += block.size();
  ++values_;
  return leaf;
}

void ExactIndexSegment::AddValue(std::u16string_view raw) {
  std::u16string key = KeyOf(raw);
  auto [it, inserted] = pending_index_.try_emplace(key, pending_.size());
  if (inserted) pending_.push_back(PendingValue{std::move(key), {}});
  pending_[it->second].records.push_back(base_ + records_);
  ++records_;
  ++unflushed_;
}

bool ExactIndexSegment::AllocatePage(uint32_t* page) {
  if (next_free_page_ >= file_pages_) {
    if (uint64_t{file_pages_} + kGrowPages > 0xFFFFFFFFu / kPageSize) return false;
    if (fs_.Truncate(list_file_.get(), uint64_t{file_pages_ + kGrowPages} * kPageSize) != 0) {
      AppendEngineErrorLog("不能创建索引哈希视图!");
      return false;
    }
    file_pages_ += kGrowPages;
  }
  *page = next_free_page_++;
  // The page is zero already: grown space reads as zeros and pages are
  // never reused. The caller writes it whole.
  return true;
}

bool ExactIndexSegment::AppendRecords(uint32_t leaf, const std::vector<uint32_t>& fresh) {
  const uint8_t* node = Node(leaf, kBranchSize);
  if (!node || node[kNodeTag] != kLeafTag) return false;
  const uint32_t stored = DecodeFixed32(node + kLeafCount);
  uint32_t reference = DecodeFixed32(node + kLeafReference);
  uint8_t words[8];
  if (stored == 0 && fresh.size() == 1) {
    EncodeFixed32(words, fresh[0]);
    EncodeFixed32(words + 4, 1);
    return WriteFully(fs_, trie_file_.get(), words, 8, uint64_t{leaf} + kLeafReference) == 0;
  }
  std::vector<uint32_t> moving;
  uint32_t page = 0;
  uint32_t used = 0;  // record slots used in `page`
  std::vector<uint8_t> buffer(kPageSize, 0);
  if (stored <= 1) {
    if (!AllocatePage(&page)) return false;
    if (stored == 1) moving.push_back(reference);
    reference = page;
  } else {
    if (stored > listed_) return false;  // more than the chains hold: damage
    // Walk to the chain's last page.
    page = reference;
    const uint32_t pages = (stored + kRecordsPerPage - 1) / kRecordsPerPage;
    for (uint32_t i = 1; i < pages; ++i) {
      uint8_t next[4];
      if (page == 0 || page >= next_free_page_ ||
          ReadFully(fs_, list_file_.get(), next, 4, uint64_t{page} * kPageSize) != 0) {
        return false;
      }
      page = DecodeFixed32(next);
    }
    if (page == 0 || page >= next_free_page_ ||
        ReadFully(fs_, list_file_.get(), buffer.data(), kPageSize, uint64_t{page} * kPageSize) !=
            0) {
      return false;
    }
    used = stored - (pages - 1) * kRecordsPerPage;
  }
  moving.insert(moving.end(), fresh.begin(), fresh.end());
  for (size_t i = 0; i < moving.size();) {
    if (used == kRecordsPerPage) {
      uint32_t next = 0;
      if (!AllocatePage(&next)) return false;
      EncodeFixed32(buffer.data(), next);
      if (WriteFully(fs_, list_file_.get(), buffer.data(), kPageSize, uint64_t{page} * kPageSize) !=
          0) {
        return false;
      }
      std::fill(buffer.begin(), buffer.end(), 0);
      page = next;
      used = 0;
    }
    EncodeFixed32(&buffer[4 + 4 * used], moving[i]);
    ++used;
    ++i;
  }
  if (WriteFully(fs_, list_file_.get(), buffer.data(), kPageSize, uint64_t{page} * kPageSize) !=
      0) {
    return false;
  }
  listed_ += uint32_t(moving.size());
  EncodeFixed32(words, reference);
  EncodeFixed32(words + 4, stored + uint32_t(fresh.size()));
  return WriteFully(fs_, trie_file_.get(), words, 8, uint64_t{leaf} + kLeafReference) == 0;
}

bool ExactIndexSegment::Flush() {
  if (unflushed_ == 0 && files_open_) return true;
  const std::string where = IndexFilePath(folder_, definition_, "Ha", generation_);
  if (!files_open_) {
    std::string error;
    if (!OpenFiles(true, &error)) {
      AppendEngineErrorLog(error);
      return false;
    }
    std::vector<uint8_t> page(kPageSize, 0);
    EncodeFixed32(page.data() + kHeaderPageSize, kPageSize);
    EncodeFixed32(page.data() + kHeaderNextFree, 1);
    const std::vector<uint8_t> header(kTrieHeaderSize, 0);
    if (WriteFully(fs_, list_file_.get(), page.data(), page.size(), 0) != 0 ||
        WriteFully(fs_, trie_file_.get(), header.data(), header.size(), 0) != 0 ||
        !MapTrie(kTrieHeaderSize)) {
      AppendEngineErrorLog("不能创建索引哈希视图!");
      return false;
    }
    used_size_ = kTrieHeaderSize;
    file_pages_ = 1;
    next_free_page_ = 1;
  }
  LUN_KILL_POINT("index.exact.flush.begin");
  // New keys first, in the order they were first seen; then the record
  // lists in ascending leaf order.
  std::vector<std::pair<uint32_t, const std::vector<uint32_t>*>> leaves;
  leaves.reserve(pending_.size());
  for (const PendingValue& v : pending_) {
    const uint32_t leaf = Insert(v.key);
    if (leaf == 0) {
      AppendEngineErrorLog("索引写入失败:" + where);
      return false;
    }
    leaves.emplace_back(leaf, &v.records);
  }
  LUN_KILL_POINT("index.exact.flush.keys_inserted");
  std::sort(leaves.begin(), leaves.end());
  FlushPacer pacer;
  for (const auto& [leaf, fresh] : leaves) {
    const uint8_t* node = Node(leaf, kBranchSize);
    if (node && !(DecodeFixed32(node + kLeafCount) == 0 && fresh->size() == 1)) pacer.Step();
    if (!AppendRecords(leaf, *fresh)) {
      AppendEngineErrorLog("索引写入失败:" + where);
      return false;
    }
    LUN_KILL_POINT("index.exact.flush.list_written");
  }
  uint8_t header[kHeaderBytes] = {};
  EncodeFixed32(header + kHeaderPageSize, kPageSize);
  EncodeFixed32(header + kHeaderNextFree, next_free_page_);
  EncodeFixed32(header + kHeaderRecords, records_);
  EncodeFixed32(header + kHeaderValues, values_);
  EncodeFixed32(header + kHeaderListed, listed_);
  uint8_t count[4];
  EncodeFixed32(count, records_);
  if (WriteFully(fs_, list_file_.get(), header, sizeof header, 0) != 0) return false;
  LUN_KILL_POINT("index.exact.flush.header_written");
  if (WriteFully(fs_, trie_file_.get(), count, 4, kTrieRecordCount) != 0) return false;
  if (fs_.Sync(list_file_.get()) != 0 || fs_.Sync(trie_file_.get()) != 0) return false;
  pending_.clear();
  pending_index_.clear();
  unflushed_ = 0;
  return true;
}

bool ExactIndexSegment::ReadChain(uint32_t first, uint32_t count,
                                  std::vector<uint32_t>* records) const {
  // The chains together hold `listed_` numbers, which fit the pages in use
  // (checked at open): a larger count is damage, found before any read.
  if (count > listed_) return false;
  std::vector<uint8_t> buffer(kPageSize);
  uint32_t page = first;
  // At most one visit per page: a chain that loops ends there.
  std::unordered_set<uint32_t> visited;
  while (count > 0) {
    if (page == 0 || page >= next_free_page_ || !visited.insert(page).second ||
        ReadFully(fs_, list_file_.get(), buffer.data(), kPageSize, uint64_t{page} * kPageSize) !=
            0) {
      return false;
    }
    const uint32_t take = std::min(count, kRecordsPerPage);
    for (uint32_t i = 0; i < take; ++i) records->push_back(DecodeFixed32(&buffer[4 + 4 * i]));
    count -= take;
    page = DecodeFixed32(buffer.data());
  }
  return true;
}

// Record numbers of a stored leaf: ascending (records are indexed in
// order) and inside the generation's flushed records.
bool ExactIndexSegment::ReadLeafRecords(const uint8_t* leaf, std::vector<uint32_t>* records) const {
  const uint32_t count = DecodeFixed32(leaf + kLeafCount);
  const uint32_t reference = DecodeFixed32(leaf + kLeafReference);
  const size_t from = records->size();
  if (count == 1) {
    records->push_back(reference);
  } else if (count > 1 && !ReadChain(reference, count, records)) {
    return false;
  }
  const uint64_t end = uint64_t{base_} + records_ - unflushed_;
  for (size_t i = from; i < records->size(); ++i) {
    const uint32_t r = (*records)[i];
    if (r < base_ || r >= end || (i > from && r <= (*records)[i - 1])) return false;
  }
  return true;
}

bool ExactIndexSegment::FirstRecordOf(const uint8_t* leaf, uint32_t* record, bool* damaged) const {
  const uint32_t count = DecodeFixed32(leaf + kLeafCount);
  const uint32_t reference = DecodeFixed32(leaf + kLeafReference);
  if (count == 0) return false;  // a key whose records a failed flush never wrote
  *record = reference;
  if (count > 1) {
    uint8_t words[8];
    if (reference == 0 || reference >= next_free_page_ ||
        ReadFully(fs_, list_file_.get(), words, sizeof words, uint64_t{reference} * kPageSize) !=
            0) {
      *damaged = true;
      return false;
    }
    *record = DecodeFixed32(words + 4);
  }
  if (*record < base_ || *record >= uint64_t{base_} + records_ - unflushed_) {
    *damaged = true;
    return false;
  }
  return true;
}

void ExactIndexSegment::Lookup(std::u16string_view value, std::vector<uint32_t>* records,
                               const StoredText* stored_text) const {
  const std::u16string key = KeyOf(value);
  if (files_open_) {
    bool damaged = false;
    uint32_t leaf = 0;
    const bool found = FindLeaf(key, &leaf, &damaged);
    const size_t from = records->size();
    if (!damaged && found) damaged = !ReadLeafRecords(map_ + leaf, records);
    if (!damaged && leaf != 0 && stored_text) {
      uint32_t record = 0;
      if (found && records->size() > from) {
        record = (*records)[from];
      } else if (!FirstRecordOf(map_ + leaf, &record, &damaged)) {
        leaf = 0;
      }
      std::u16string scratch;
      if (!damaged && leaf != 0 &&
          KeyOf((*stored_text)(record)) != LeafKey(map_ + leaf, &scratch)) {
        damaged = true;
      }
    }
    if (damaged) {
      records->resize(from);
      NoteDamage();
    }
  }
  auto it = pending_index_.find(key);
  if (it != pending_index_.end()) {
    const auto& fresh = pending_[it->second].records;
    records->insert(records->end(), fresh.begin(), fresh.end());
  }
}

void ExactIndexSegment::Check(std::vector<std::string>* problems) const {
  const std::string where = IndexFilePath(folder_, definition_, "*", generation_);
  if (!files_open_) return;
  // Walk every node once from the root; count leaves and their records.
  uint64_t leaves = 0;
  uint64_t total = 0;
  uint64_t chained = 0;
  std::vector<std::pair<uint32_t, uint32_t>> stack;  // node, bit of its parent
  if (Root() != 0) stack.emplace_back(Root(), 0);
  std::vector<uint32_t> records;
  // Damaged branches may share children; the walk is bounded by the number
  // of nodes the file can hold.
  uint64_t budget = mapped_size_ / kBranchSize + 1;
  while (!stack.empty() && budget-- > 0) {
    const auto [offset, parent_bit] = stack.back();
    stack.pop_back();
    const uint8_t* node = Node(offset, kBranchSize);
    if (!node) {
      problems->push_back(where + ": trie node outside the file at " + std::to_string(offset));
      continue;
    }
    if (node[kNodeTag] == kLeafTag) {
      ++leaves;
      const uint32_t count = DecodeFixed32(node + kLeafCount);
      total += count;
      if (count > 1) chained += count;
      records.clear();
      // The chains of all leaves together hold `listed_` numbers: reading
      // stops there, so shared or looping chains cannot make the walk long.
      if (chained > listed_ || !ReadLeafRecords(node, &records)) {
        problems->push_back(where + ": record list of the leaf at " + std::to_string(offset) +
                            " is damaged");
        if (chained > listed_) break;
      }
      continue;
    }
    const uint32_t bit = DecodeFixed16(node + kNodeBitOrLength);
    if (bit <= parent_bit) {
      problems->push_back(where + ": trie branch bits do not increase at " +
                          std::to_string(offset));
      continue;
    }
    stack.emplace_back(DecodeFixed32(node + kBranchZero), bit);
    stack.emplace_back(DecodeFixed32(node + kBranchOne), bit);
  }
  if (total != records_ - unflushed_) {
    problems->push_back(where + ": leaves list " + std::to_string(total) + " records, header " +
                        std::to_string(records_ - unflushed_));
  }
  (void)leaves;
}

}  // namespace lun
