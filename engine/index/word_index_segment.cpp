#include "engine/index/word_index_segment.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "engine/index/indexing_pace.h"
#include "engine/index/letter_grams.h"
#include "engine/index/packed_list_format.h"
#include "engine/index/posting_cache.h"
#include "engine/index/word_index_format.h"
#include "engine/storage/field_index.h"
#include "platform/coding.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/normalize.h"
#include "platform/paths.h"

namespace lun {
namespace {

using namespace word_index;
constexpr char kReadError[] = "读取索引信息错误";

// A continuation is cheaper than a rewrite only while the list's k suits the
// new gaps; when the unary parts grow past this many bits per new value the
// whole list is encoded afresh instead (both forms decode the same).
constexpr uint64_t kUnaryBitsPerValueLimit = 4;
// A long list may take more: re-encoding it decodes and encodes all of it,
// which at every flush made a build's cost grow with the square of the
// list, while a batch of a few long gaps (a letter absent from a run of
// Chinese documents) wastes only a little of its room. Up to 1/32 of the
// list's bits per flush are accepted (at most a few percent of the file).
constexpr uint64_t kUnaryBitsListShare = 32;
// The same for one boundary appended to the record boundary list.
constexpr uint64_t kUnaryBitsLimitPerAppend = 64;
// Shorter stored lists are read afresh for every look-up (one short read);
// longer ones are kept in the posting cache.
constexpr uint32_t kCachedListMinCount = 1024;

}  // namespace

std::string IndexFilePath(const std::string& folder, int definition, const char* ext,
                          int generation) {
  return JoinPath(folder,
                  "D" + std::to_string(definition) + "." + ext + std::to_string(generation));
}

const char* WordIndexSegment::FileExtension(SegmentKeys keys, int file) {
  static const char* const kCharacterFiles[] = {"Ix", "Ha", "RL"};
  // The names say the gram length, so that an index of another length is
  // never read as this one (it is caught up beside it instead).
  static_assert(kGramLength == 2 || kGramLength == 3);
  static const char* const kGramFiles[] = {kGramLength == 2 ? "Bx" : "Tx",
                                           kGramLength == 2 ? "Ba" : "Ta",
                                           kGramLength == 2 ? "BL" : "TL"};
  return (keys == SegmentKeys::kCharacters ? kCharacterFiles : kGramFiles)[file];
}

WordIndexSegment::WordIndexSegment(FileSystem& fs, const CharFilter& filter, std::string folder,
                                   int definition, int generation, uint32_t base, SegmentKeys keys)
    : fs_(fs),
      filter_(filter),
      folder_(std::move(folder)),
      definition_(definition),
      generation_(generation),
      base_(base),
      keys_(keys),
      page_size_(keys == SegmentKeys::kCharacters ? kPageSize : kGramPageSize),
      cache_owner_(PostingCache::NewOwner()) {}

WordIndexSegment::~WordIndexSegment() { PostingCache::Shared().Forget(cache_owner_); }

std::unique_ptr<WordIndexSegment> WordIndexSegment::CreateNew(FileSystem& fs,
                                                              const CharFilter& filter,
                                                              const std::string& folder,
                                                              int definition, int generation,
                                                              uint32_t base, SegmentKeys keys) {
  return std::unique_ptr<WordIndexSegment>(
      new WordIndexSegment(fs, filter, folder, definition, generation, base, keys));
}

bool WordIndexSegment::OpenFiles(bool create, std::string* error) {
  const int flags = O_RDWR | (create ? O_CREAT | O_TRUNC : 0);
  struct {
    const char* ext;
    ScopedFd* file;
    const char* message;
  } files[] = {{FileExtension(keys_, 0), &ix_file_, "打开索引文件失败!"},
               {FileExtension(keys_, 1), &ha_file_, "打开哈西文件失败!"},
               {FileExtension(keys_, 2), &rl_file_, "不能打开.Th文件!"}};
  for (auto& f : files) {
    if (f.file->is_open()) continue;
    if (f.file->Open(fs_, IndexFilePath(folder_, definition_, f.ext, generation_), flags, 0644) !=
        0) {
      if (error) *error = f.message;
      return false;
    }
  }
  files_open_ = true;
  return true;
}

std::unique_ptr<WordIndexSegment> WordIndexSegment::OpenExisting(
    FileSystem& fs, const CharFilter& filter, const std::string& folder, int definition,
    int generation, uint32_t base, std::string* error, SegmentKeys keys) {
  std::unique_ptr<WordIndexSegment> s(
      new WordIndexSegment(fs, filter, folder, definition, generation, base, keys));
  if (!s->OpenFiles(false, error)) return nullptr;
  const std::string damaged = "索引文件损坏:" + IndexFilePath(folder, definition, "*", generation);

  // Postings header.
  uint64_t ix_size = 0;
  uint8_t header[kHeaderBytes] = {};
  if (fs.Size(s->ix_file_.get(), &ix_size) != 0 || ix_size < s->page_size_ ||
      ReadFully(fs, s->ix_file_.get(), header, sizeof header, 0) != 0 ||
      DecodeFixed32(header + kHeaderPageSize) != s->page_size_) {
    *error = damaged;
    return nullptr;
  }
  s->next_free_page_ = DecodeFixed32(header + kHeaderNextFree);
  s->largest_run_ = DecodeFixed32(header + kHeaderLargestRun);
  s->stored_positions_ = DecodeFixed32(header + kHeaderPositions);
  s->stored_terms_ = DecodeFixed32(header + kHeaderTerms);
  if (s->next_free_page_ == 0 || uint64_t{s->next_free_page_} * s->page_size_ > ix_size) {
    *error = damaged;
    return nullptr;
  }

  // Term directory: read entry by entry as look-ups need them (a session
  // that only searches reads a few dozen of its 65,536 entries), whole at
  // the first flush or check, which then checks it against the files.
  if (s->largest_run_ == 0 || s->largest_run_ > kMaxRunPages ||
      fs.Size(s->ha_file_.get(), &s->ha_size_) != 0 || s->ha_size_ > kDirectorySize) {
    *error = damaged;
    return nullptr;
  }
  s->directory_stored_ = true;

  // Boundary list: defines the records of the generation, so it must decode.
  std::string rl;
  uint64_t rl_size = 0;
  if (fs.Size(s->rl_file_.get(), &rl_size) != 0 || rl_size > (uint64_t{1} << 32)) {
    *error = damaged;
    return nullptr;
  }
  s->boundary_bytes_.resize(rl_size);
  if (rl_size && ReadFully(fs, s->rl_file_.get(), s->boundary_bytes_.data(), rl_size, 0) != 0) {
    *error = damaged;
    return nullptr;
  }
  if (rl_size == 0 || !DecodePackedList(s->boundary_bytes_, &s->boundaries_) ||
      s->boundaries_.size() == 1 || (!s->boundaries_.empty() && s->boundaries_.front() != 0)) {
    // An empty list is a generation with no records; anything else that
    // does not decode is damage.
    if (rl_size != 0) {
      *error = damaged;
      return nullptr;
    }
    s->boundary_bytes_.clear();
    s->boundaries_.clear();
  }
  if (s->boundaries_.empty()) {
    s->boundary_bytes_.clear();
  } else {
    s->records_ = uint32_t(s->boundaries_.size() - 1);
    s->position_ = s->boundaries_.back();
  }
  return s;
}

bool WordIndexSegment::DecodeEntry(const uint8_t* p, TermEntry* e) {
  e->first_run = DecodeFixed32(p + kEntryFirstRun);
  e->total_length = DecodeFixed32(p + kEntryTotalLength);
  e->count = DecodeFixed32(p + kEntryCount);
  e->last_run = DecodeFixed32(p + kEntryLastRun);
  e->last_run_bytes = DecodeFixed32(p + kEntryLastRunBytes);
  e->last = DecodeFixed32(p + kEntryLast);
  e->k = p[kEntryK];
  e->tail_bits = p[kEntryTailBits];
  e->last_byte = p[kEntryLastByte];
  // The writer leaves entries without positions all zero.
  return e->count != 0 || std::all_of(p, p + kEntrySize, [](uint8_t b) { return b == 0; });
}

bool WordIndexSegment::Entry(uint32_t c, TermEntry* e) const {
  *e = TermEntry{};
  if (!directory_.empty()) {
    *e = directory_[c];
    return true;
  }
  const uint64_t at = uint64_t{c} * kEntrySize;
  // Entries past the end of a short file are empty.
  if (!directory_stored_ || at + kEntrySize > ha_size_) return true;
  uint8_t p[kEntrySize];
  if (ReadFully(fs_, ha_file_.get(), p, sizeof p, at) != 0 || !DecodeEntry(p, e) ||
      (e->count != 0 && (!EntryFitsFiles(*e) || e->last >= position_))) {
    *e = TermEntry{};
    NoteDamage();
    return false;
  }
  return true;
}

bool WordIndexSegment::ReadDirectory(std::vector<TermEntry>* out) const {
  out->assign(kTermCount, TermEntry{});
  if (!directory_stored_) return true;
  std::vector<uint8_t> dir(kDirectorySize, 0);
  const uint64_t entries_bytes = ha_size_ - ha_size_ % kEntrySize;
  if (entries_bytes && ReadFully(fs_, ha_file_.get(), dir.data(), entries_bytes, 0) != 0)
    return false;
  for (uint32_t c = 0; c < kTermCount; ++c) {
    if (!DecodeEntry(&dir[size_t{c} * kEntrySize], &(*out)[c])) return false;
  }
  return DirectoryFitsFiles(*out);
}

bool WordIndexSegment::LoadDirectory() {
  if (!directory_.empty()) return true;
  std::vector<TermEntry> directory;
  if (!ReadDirectory(&directory)) return false;
  directory_ = std::move(directory);
  return true;
}

// Every stored length, page and count of the directory against the size of
// the postings file and the limits of the format, so that no later read
// sizes a buffer or follows a chain by a damaged word. A list occupies runs
// of its own, so the lengths of all lists together fit the pages in use.
bool WordIndexSegment::DirectoryFitsFiles(const std::vector<TermEntry>& directory) const {
  uint64_t positions = 0, terms = 0, bytes = 0;
  for (const TermEntry& e : directory) {
    if (e.count == 0) continue;
    if (!EntryFitsFiles(e) || e.last >= position_) return false;
    positions += e.count;
    bytes += e.total_length;
    ++terms;
  }
  return positions == stored_positions_ && terms == stored_terms_ && bytes <= StoredDataLimit();
}

uint64_t WordIndexSegment::StoredDataLimit() const {
  return uint64_t{next_free_page_ - 1} * page_size_;
}

bool WordIndexSegment::EntryFitsFiles(const TermEntry& e) const {
  using packed_list::kSingleValueSize;
  const auto page_in_use = [&](uint32_t page) { return page != 0 && page < next_free_page_; };
  if (!page_in_use(e.first_run) || !page_in_use(e.last_run)) return false;
  if (e.total_length < kSingleValueSize || e.total_length > StoredDataLimit()) return false;
  if (e.last_run_bytes > e.total_length || e.tail_bits > 7 || e.k > 31) return false;
  // Positions are distinct and at least 1, so the last is at least the count.
  if (e.last < e.count) return false;
  // One value is the fixed 14 bytes with k 0; every further value takes at
  // least k + 1 bits of the stream, k being at least 1.
  if (e.count == 1) return e.total_length == kSingleValueSize && e.k == 0;
  const uint64_t stream_bits = uint64_t{e.total_length - kSingleValueSize} * 8;
  return e.k >= 1 && uint64_t{e.count - 1} * (e.k + 1u) <= stream_bits;
}

void WordIndexSegment::AppendBoundary(uint32_t value) {
  boundaries_.push_back(value);
  // While short, the list is re-encoded whole so that k follows the data;
  // afterwards new entries continue the bit stream.
  if (boundaries_.size() <= kBoundaryReencodeLimit) {
    boundary_bytes_.clear();
    EncodePackedList(boundaries_, &boundary_bytes_);
    return;
  }
  PackedListTail tail;
  (void)ReadPackedListTail(boundary_bytes_, &tail);
  const uint32_t one[1] = {value};
  if (ContinuationUnaryBits(tail, one) > kUnaryBitsLimitPerAppend) {
    boundary_bytes_.clear();
    EncodePackedList(boundaries_, &boundary_bytes_);
    return;
  }
  std::vector<uint8_t> continuation;
  const PackedListTail next = EncodeContinuation(tail, one, &continuation);
  boundary_bytes_.resize(boundary_bytes_.size() - packed_list::kTailSize);
  boundary_bytes_.insert(boundary_bytes_.end(), continuation.begin(), continuation.end());
  EncodeFixed32(boundary_bytes_.data(), next.count);
}

void WordIndexSegment::AddText(std::u16string_view raw) {
  const uint32_t start = position_;
  const uint32_t n = uint32_t(raw.size());
  if (boundaries_.empty()) AppendBoundary(start);
  // Made at the first record taken: a session that only reads never needs
  // the 65,536 lists.
  if (pending_.empty()) pending_.resize(kTermCount);
  if (keys_ == SegmentKeys::kCharacters) {
    for (uint32_t i = 0; i < n; ++i) {
      const char16_t c = NormalizeChar(raw[i]);
      if (filter_.IsSeparator(c)) continue;
      pending_[c].push_back(start + i + 1);
      if (c >= code_limit_) code_limit_ = uint32_t(c) + 1;
    }
  } else {
    std::u16string normalized(raw.size(), u'\0');
    for (uint32_t i = 0; i < n; ++i) normalized[i] = NormalizeChar(raw[i]);
    ForEachGram(normalized, filter_, /*wildcard_query=*/false, [&](size_t i, uint32_t key) {
      pending_[key].push_back(start + uint32_t(i) + 1);
      if (key >= code_limit_) code_limit_ = key + 1;
    });
  }
  position_ = start + n + 1;
  AppendBoundary(position_);
  ++records_;
  ++unflushed_;
}

uint32_t WordIndexSegment::PositionCount(char16_t c) const {
  TermEntry e;
  (void)Entry(c, &e);  // a damaged entry counts nothing (and is noted)
  return e.count + uint32_t(PendingPositions(c).size());
}

bool WordIndexSegment::ReadRunHeader(uint32_t page, uint32_t* next, uint32_t* pages) const {
  if (page == 0 || page >= next_free_page_) return false;
  uint8_t h[kRunHeaderSize];
  if (ReadFully(fs_, ix_file_.get(), h, sizeof h, uint64_t{page} * page_size_) != 0) return false;
  *next = DecodeFixed32(h + kRunNext);
  *pages = uint32_t(h[kRunPagesMinusOne]) | uint32_t(h[kRunPagesMinusOne + 1]) << 8;
  *pages += 1;
  return uint64_t{page} + *pages <= next_free_page_;
}

bool WordIndexSegment::ReadChain(const TermEntry& e, std::vector<uint8_t>* out) const {
  out->clear();
  if (!EntryFitsFiles(e)) return false;
  out->resize(e.total_length);
  uint64_t done = 0;
  uint32_t page = e.first_run;
  // A chain can hold at most as many runs as the file has pages; more
  // means it loops.
  for (uint32_t runs = 0; done < e.total_length; ++runs) {
    uint32_t next = 0, pages = 0;
    if (runs >= next_free_page_ || !ReadRunHeader(page, &next, &pages)) return false;
    const uint64_t take =
        std::min<uint64_t>(RunDataCapacity(pages, page_size_), e.total_length - done);
    if (ReadFully(fs_, ix_file_.get(), out->data() + done, take,
                  uint64_t{page} * page_size_ + kRunHeaderSize) != 0) {
      return false;
    }
    done += take;
    page = next;
  }
  // Continuations leave the stored count word stale; the directory's count
  // is the true one.
  EncodeFixed32(out->data(), e.count);
  return true;
}

void WordIndexSegment::NoteDamage() const {
  if (damaged_.exchange(true)) return;
  AppendEngineErrorLog(std::string(kReadError) + ":" +
                       IndexFilePath(folder_, definition_, "*", generation_));
  (void)TouchFile(fs_, JoinPath(folder_, kIndexWriteMarkerName));
}

bool WordIndexSegment::ReadPositions(char16_t c, std::vector<uint32_t>* out) const {
  TermEntry e;
  if (!Entry(c, &e)) return false;
  if (e.count != 0) {
    std::vector<uint8_t> bytes;
    if (!files_open_ || !ReadChain(e, &bytes) || !DecodePackedList(bytes, out)) {
      NoteDamage();
      return false;
    }
  }
  const std::span<const uint32_t> fresh = PendingPositions(c);
  out->insert(out->end(), fresh.begin(), fresh.end());
  return true;
}

bool WordIndexSegment::StoredList(char16_t c, std::shared_ptr<const SeekableList>* out) const {
  out->reset();
  TermEntry e;
  if (!Entry(c, &e)) return false;
  if (e.count == 0) return true;
  const bool cached = e.count >= kCachedListMinCount;
  if (cached) {
    *out = PostingCache::Shared().Find(cache_owner_, c);
    if (*out) return true;
  }
  std::vector<uint8_t> bytes;
  bytes.reserve(size_t{e.total_length} + SeekableList::kPadding);  // kept exactly this size
  auto list = std::make_shared<SeekableList>();
  if (!files_open_ || !ReadChain(e, &bytes) || !list->Build(std::move(bytes))) {
    NoteDamage();
    return false;
  }
  if (cached) PostingCache::Shared().Insert(cache_owner_, c, list);
  *out = std::move(list);
  return true;
}

bool WordIndexSegment::Positions(char16_t c, std::vector<uint8_t>* packed) const {
  packed->clear();
  TermEntry e;
  if (!Entry(c, &e)) return false;
  const std::span<const uint32_t> fresh = PendingPositions(c);
  if (e.count == 0) {
    if (fresh.empty()) return false;
    EncodePackedList(fresh, packed);
    return true;
  }
  if (!files_open_ || !ReadChain(e, packed)) {
    NoteDamage();
    packed->clear();
    return false;
  }
  if (fresh.empty()) return true;
  PackedListTail tail;
  if (!ReadPackedListTail(*packed, &tail)) {
    NoteDamage();
    return false;
  }
  if (e.count < 2 ||
      ContinuationUnaryBits(tail, fresh) > kUnaryBitsPerValueLimit * fresh.size() + 64) {
    // No bit stream to continue, or one whose k does not suit the new gaps:
    // encode the whole list afresh.
    std::vector<uint32_t> all;
    if (!DecodePackedList(*packed, &all)) {
      NoteDamage();
      return false;
    }
    all.insert(all.end(), fresh.begin(), fresh.end());
    packed->clear();
    EncodePackedList(all, packed);
    return true;
  }
  std::vector<uint8_t> continuation;
  const PackedListTail next = EncodeContinuation(tail, fresh, &continuation);
  packed->resize(packed->size() - packed_list::kTailSize);
  packed->insert(packed->end(), continuation.begin(), continuation.end());
  EncodeFixed32(packed->data(), next.count);
  return true;
}

uint32_t WordIndexSegment::MinimumRun(const TermEntry& e, uint32_t new_count) const {
  if (keys_ == SegmentKeys::kLetterGrams) {
    // Small pages: a list's next run holds at least a quarter of what the
    // list has, so that a chain read takes few reads (one per run) while
    // the unused end of the last run stays under a fifth of the list.
    return std::min(PagesNeeded(e.total_length / 4, page_size_), kMaxRunPages);
  }
  // Frequent terms of a large segment get pre-sized runs so that later
  // appends rarely need a new run.
  if (stored_positions_ <= 1000000 || stored_terms_ == 0) return 1;
  const uint32_t average = std::max<uint32_t>(1, stored_positions_ / stored_terms_);
  const uint32_t b = uint32_t((uint64_t{e.count} + new_count) / average);
  const uint32_t m = b < 3 ? 1 : b - 2;
  const uint32_t a = average / 12270;
  uint64_t r;
  if (a < 20)
    r = m;
  else if (a < 40)
    r = 2ull * m;
  else if (a < 60)
    r = 3ull * m;
  else if (a < 80)
    r = 4ull * m;
  else if (a < 100)
    r = 5ull * m;
  else if (a < 1000)
    r = 10ull * m;
  else
    r = 20ull * m;
  return uint32_t(std::min<uint64_t>(r, kMaxMinimumRun));
}

bool WordIndexSegment::AllocateRun(uint32_t pages, uint32_t* page) {
  if (uint64_t{next_free_page_} + pages > 0xFFFFFFFFu / 2) return false;
  *page = next_free_page_;
  next_free_page_ += pages;
  largest_run_ = std::max(largest_run_, pages);
  return true;
}

// Allocates a run of `pages` pages and writes it whole in one write:
// header, as much of `data` as fits (`*put` bytes), zeros after.
bool WordIndexSegment::WriteNewRun(uint32_t pages, std::span<const uint8_t> data, uint32_t* page,
                                   size_t* put) {
  if (!AllocateRun(pages, page)) return false;
  std::vector<uint8_t> block(size_t{pages} * page_size_, 0);
  EncodeFixed16(block.data() + kRunPagesMinusOne, pages - 1);
  *put = size_t(std::min<uint64_t>(RunDataCapacity(pages, page_size_), data.size()));
  std::memcpy(block.data() + kRunHeaderSize, data.data(), *put);
  return WriteFully(fs_, ix_file_.get(), block.data(), block.size(),
                    uint64_t{*page} * page_size_) == 0;
}

// Writes `data` into the chain from data offset `offset` of run `run`,
// following existing successors and chaining new runs of at least `min_run`
// pages when the chain ends. New runs are written whole (zero-filled, with
// their header) in one write each.
bool WordIndexSegment::WriteChain(uint32_t run, uint64_t offset, std::span<const uint8_t> data,
                                  uint32_t min_run, TermEntry* e) {
  size_t done = 0;
  uint32_t next = 0, pages = 0;
  if (!ReadRunHeader(run, &next, &pages)) return false;
  for (uint32_t guard = 0;; ++guard) {
    if (guard > next_free_page_) return false;
    const uint64_t capacity = RunDataCapacity(pages, page_size_);
    if (offset > capacity) return false;
    const size_t take = size_t(std::min<uint64_t>(capacity - offset, data.size() - done));
    if (take && WriteFully(fs_, ix_file_.get(), data.data() + done, take,
                           uint64_t{run} * page_size_ + kRunHeaderSize + offset) != 0) {
      return false;
    }
    done += take;
    e->last_run = run;
    e->last_run_bytes = uint32_t(offset + take);
    if (done == data.size()) return true;
    if (next != 0) {
      run = next;
      offset = 0;
      if (!ReadRunHeader(run, &next, &pages)) return false;
      continue;
    }
    // The chain ends: allocate and link a new run holding the rest.
    const uint64_t remaining = data.size() - done;
    const uint32_t want =
        std::min<uint32_t>(std::max(min_run, PagesNeeded(remaining, page_size_)), kMaxRunPages);
    uint32_t fresh = 0;
    size_t put = 0;
    if (!WriteNewRun(want, data.subspan(done), &fresh, &put)) return false;
    uint8_t link[4];
    EncodeFixed32(link, fresh);
    if (WriteFully(fs_, ix_file_.get(), link, 4, uint64_t{run} * page_size_ + kRunNext) != 0)
      return false;
    run = fresh;
    next = 0;
    pages = want;
    offset = put;
    done += put;
    e->last_run = run;
    e->last_run_bytes = uint32_t(put);
    if (done == data.size()) return true;
  }
}

// Finds the run and the offset inside it of data offset `offset` of a chain.
bool WordIndexSegment::LocateInChain(const TermEntry& e, uint64_t offset, uint32_t* run,
                                     uint64_t* run_offset) const {
  uint32_t page = e.first_run;
  for (uint32_t guard = 0; guard <= next_free_page_; ++guard) {
    uint32_t next = 0, pages = 0;
    if (!ReadRunHeader(page, &next, &pages)) return false;
    const uint64_t capacity = RunDataCapacity(pages, page_size_);
    if (offset < capacity || next == 0) {
      *run = page;
      *run_offset = offset;
      return offset <= capacity;
    }
    offset -= capacity;
    page = next;
  }
  return false;
}

bool WordIndexSegment::FlushTerm(char16_t c, std::vector<uint32_t>& fresh) {
  TermEntry& e = directory_[c];
  const uint32_t new_count = uint32_t(fresh.size());
  const uint32_t min_run = MinimumRun(e, new_count);
  const bool had_positions = e.count != 0;
  std::vector<uint8_t> bytes;
  PackedListTail tail;

  bool continued = false;
  // The word index keeps its writer's rule (its golden files hold its bytes);
  // the gram index continues far shorter lists, since rewriting its tens of
  // thousands of short lists at every flush was most of a build's index
  // time. The unary check below still re-encodes a list whose k no longer
  // suits it.
  const bool continuable = keys_ == SegmentKeys::kCharacters
                               ? e.count >= kContinueMinStored && e.count >= new_count
                               : e.count >= kGramContinueMinStored;
  if (had_positions && continuable) {
    // Continue the stored list in place: re-encode from its last stream
    // byte and write over its old tail.
    const PackedListTail old{e.count, e.k, e.tail_bits, e.last_byte, e.last};
    const uint64_t allowed = kUnaryBitsPerValueLimit * new_count + 64 +
                             uint64_t{e.total_length} * 8 / kUnaryBitsListShare;
    if (ContinuationUnaryBits(old, fresh) <= allowed) {
      tail = EncodeContinuation(old, fresh, &bytes);
      const uint64_t from = uint64_t{e.total_length} - packed_list::kTailSize;
      uint32_t run = e.last_run;
      uint64_t offset = 0;
      if (e.last_run_bytes >= packed_list::kTailSize) {
        offset = e.last_run_bytes - packed_list::kTailSize;
      } else if (!LocateInChain(e, from, &run, &offset)) {
        NoteDamage();
        return false;
      }
      const uint64_t total = uint64_t{e.total_length} + bytes.size() - packed_list::kTailSize;
      if (total > 0xFFFFFFFFu || !WriteChain(run, offset, bytes, min_run, &e)) return false;
      e.total_length = uint32_t(total);
      continued = true;
    }
  }
  if (!continued) {
    std::vector<uint32_t> all;
    if (had_positions) {
      std::vector<uint8_t> stored;
      if (!ReadChain(e, &stored) || !DecodePackedList(stored, &all)) {
        NoteDamage();
        return false;
      }
    }
    all.insert(all.end(), fresh.begin(), fresh.end());
    bytes.clear();
    EncodePackedList(all, &bytes);
    (void)ReadPackedListTail(bytes, &tail);
    if (had_positions) {
      if (!WriteChain(e.first_run, 0, bytes, min_run, &e)) return false;
    } else {
      const uint32_t want = std::min<uint32_t>(
          std::max(min_run, PagesNeeded(bytes.size(), page_size_)), kMaxRunPages);
      uint32_t first = 0;
      size_t put = 0;
      if (!WriteNewRun(want, bytes, &first, &put)) return false;
      e.first_run = first;
      e.last_run = first;
      e.last_run_bytes = uint32_t(put);
      if (put < bytes.size() &&
          !WriteChain(first, put, std::span(bytes).subspan(put), min_run, &e)) {
        return false;
      }
    }
    e.total_length = uint32_t(bytes.size());
  }
  e.count += new_count;
  e.last = tail.last;
  e.k = tail.k;
  e.tail_bits = tail.tail_bits;
  e.last_byte = tail.last_byte;
  stored_positions_ += new_count;
  if (!had_positions) ++stored_terms_;
  std::vector<uint32_t>().swap(fresh);
  return true;
}

void WordIndexSegment::EncodeDirectory(std::vector<uint8_t>* out) const {
  out->assign(kDirectorySize, 0);
  for (uint32_t c = 0; c < kTermCount; ++c) {
    const TermEntry& e = directory_[c];
    if (e.count == 0 && e.first_run == 0) continue;
    uint8_t* p = out->data() + size_t{c} * kEntrySize;
    EncodeFixed32(p + kEntryFirstRun, e.first_run);
    EncodeFixed32(p + kEntryTotalLength, e.total_length);
    EncodeFixed32(p + kEntryCount, e.count);
    EncodeFixed32(p + kEntryLastRun, e.last_run);
    EncodeFixed32(p + kEntryLastRunBytes, e.last_run_bytes);
    EncodeFixed32(p + kEntryLast, e.last);
    p[kEntryK] = e.k;
    p[kEntryTailBits] = e.tail_bits;
    p[kEntryLastByte] = e.last_byte;
  }
}

bool WordIndexSegment::Flush() {
  if (unflushed_ == 0 && files_open_) return true;
  if (!files_open_) {
    // First flush of a new generation: create its files afresh (stale
    // files of an earlier, unfinished attempt are truncated).
    std::string error;
    if (!OpenFiles(true, &error)) {
      AppendEngineErrorLog(error);
      return false;
    }
    std::vector<uint8_t> page(page_size_, 0);
    EncodeFixed32(page.data() + kHeaderPageSize, page_size_);
    EncodeFixed32(page.data() + kHeaderNextFree, 1);
    EncodeFixed32(page.data() + kHeaderLargestRun, 1);
    if (WriteFully(fs_, ix_file_.get(), page.data(), page.size(), 0) != 0) return false;
  }
  if (!LoadDirectory()) {
    NoteDamage();
    return false;
  }
  // The stored lists change from here on: no look-up may see the old ones.
  PostingCache::Shared().Forget(cache_owner_);
  LUN_KILL_POINT("index.word.flush.begin");
  FlushPacer pacer;
  for (uint32_t c = 0; c < code_limit_; ++c) {
    std::vector<uint32_t>& fresh = pending_[c];
    if (fresh.empty()) continue;
    pacer.Step();
    if (!FlushTerm(char16_t(c), fresh)) {
      AppendEngineErrorLog("索引写入失败:" + IndexFilePath(folder_, definition_,
                                                           FileExtension(keys_, 0), generation_));
      return false;
    }
    LUN_KILL_POINT("index.word.flush.term_written");
  }
  code_limit_ = 0;
  LUN_KILL_POINT("index.word.flush.postings_written");

  uint8_t header[kHeaderBytes] = {};
  EncodeFixed32(header + kHeaderPageSize, page_size_);
  EncodeFixed32(header + kHeaderNextFree, next_free_page_);
  EncodeFixed32(header + kHeaderLargestRun, largest_run_);
  EncodeFixed32(header + kHeaderPositions, stored_positions_);
  EncodeFixed32(header + kHeaderTerms, stored_terms_);
  std::vector<uint8_t> dir;
  EncodeDirectory(&dir);
  if (WriteFully(fs_, ix_file_.get(), header, sizeof header, 0) != 0) return false;
  LUN_KILL_POINT("index.word.flush.header_written");
  if (WriteFully(fs_, ha_file_.get(), dir.data(), dir.size(), 0) != 0) return false;
  LUN_KILL_POINT("index.word.flush.directory_written");
  if (WriteFully(fs_, rl_file_.get(), boundary_bytes_.data(), boundary_bytes_.size(), 0) != 0 ||
      fs_.Truncate(rl_file_.get(), boundary_bytes_.size()) != 0) {
    return false;
  }
  LUN_KILL_POINT("index.word.flush.boundaries_written");
  for (const ScopedFd* file : {&ix_file_, &ha_file_, &rl_file_}) {
    if (fs_.Sync(file->get()) != 0) return false;
  }
  unflushed_ = 0;
  return true;
}

void WordIndexSegment::RecordsOf(std::span<const uint32_t> positions, uint32_t b, uint32_t a,
                                 MatchForm form, std::vector<uint32_t>* records,
                                 std::vector<uint32_t>* counts) const {
  const size_t entries = boundaries_.size();
  size_t i = 1;
  uint32_t current = 0;  // record index (from 1) being counted, 0: none
  uint32_t count = 0;
  auto emit = [&] {
    if (current == 0 || count == 0) return;
    records->push_back(base_ + current - 1);
    if (counts) counts->push_back(form == MatchForm::kOccurrence ? count : 1);
  };
  for (uint32_t p : positions) {
    while (i < entries && boundaries_[i] <= p) ++i;
    if (i >= entries) break;
    const uint64_t lo = boundaries_[i - 1];
    const uint64_t hi = boundaries_[i];
    // The whole phrase must lie inside the record, not only the character
    // whose positions are mapped: a wildcard at either end must not match
    // the gap between records.
    const uint64_t first = uint64_t{p} - b;
    const uint64_t last = uint64_t{p} + a;
    if (p < b || first <= lo || last >= hi) continue;
    bool ok = true;
    switch (form) {
      case MatchForm::kOccurrence:
        break;
      case MatchForm::kStartsWith:
        ok = first == lo + 1;
        break;
      case MatchForm::kEndsWith:
        ok = last + 1 == hi;
        break;
      case MatchForm::kWhole:
        ok = first == lo + 1 && last + 1 == hi;
        break;
    }
    if (!ok) continue;
    if (current != i) {
      emit();
      current = uint32_t(i);
      count = 0;
    }
    ++count;
  }
  emit();
}

void WordIndexSegment::RecordsOfLength(uint32_t length, MatchForm form,
                                       std::vector<uint32_t>* records,
                                       std::vector<uint32_t>* counts) const {
  if (length == 0) return;
  for (size_t i = 1; i < boundaries_.size(); ++i) {
    const uint32_t value_length = boundaries_[i] - boundaries_[i - 1] - 1;
    const bool ok = form == MatchForm::kWhole ? value_length == length : value_length >= length;
    if (!ok) continue;
    records->push_back(base_ + uint32_t(i) - 1);
    if (counts) counts->push_back(form == MatchForm::kOccurrence ? value_length / length : 1);
  }
}

void WordIndexSegment::Check(std::vector<std::string>* problems) const {
  const std::string where = IndexFilePath(folder_, definition_, "*", generation_);
  uint64_t positions = 0;
  uint32_t terms = 0;
  std::vector<TermEntry> stored;
  if (directory_.empty() && !ReadDirectory(&stored)) {
    problems->push_back(where + ": the term directory does not fit the files");
    return;
  }
  const std::vector<TermEntry>& directory = directory_.empty() ? stored : directory_;
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> values;
  for (uint32_t c = 0; c < kTermCount; ++c) {
    const TermEntry& e = directory[c];
    if (e.count == 0) continue;
    ++terms;
    positions += e.count;
    values.clear();
    if (!ReadChain(e, &bytes) || !DecodePackedList(bytes, &values)) {
      problems->push_back(where + ": term " + std::to_string(c) + " has a damaged list");
      continue;
    }
    if (values.back() != e.last || values.back() >= position_) {
      problems->push_back(where + ": term " + std::to_string(c) + " ends past the records");
    }
  }
  if (positions != stored_positions_ || terms != stored_terms_) {
    problems->push_back(where + ": header counts differ from the directory");
  }
}

}  // namespace lun
