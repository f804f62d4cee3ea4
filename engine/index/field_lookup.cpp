#include "engine/index/field_lookup.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "automation/date_time.h"
#include "automation/variant.h"
#include "engine/index/char_filter.h"
#include "engine/index/field_generations.h"
#include "engine/index/letter_grams.h"
#include "platform/normalize.h"

namespace lun {
namespace {

constexpr size_t kMaxTermUnits = 1024;
// The alignment gives up on the index once the characters still to align
// cost more than reading the text of the records found so far: each
// remaining character costs the positions its probes decode plus this
// constant, each candidate this constant.
constexpr uint64_t kAbandonUnit = 10000;

enum FieldType {
  kText = 1,
  kInteger = 2,
  kSingle = 3,
  kDouble = 4,
  kLogical = 5,
  kDate = 6,
  kDocument = 8,
};

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel && cancel->load(std::memory_order_relaxed);
}

bool IsWildcard(char16_t c, const CharFilter* filter) {
  return c == u'?' || (filter && filter->IsSeparator(c));
}

bool MatchesAt(std::u16string_view text, size_t at, std::u16string_view phrase,
               const CharFilter* filter) {
  for (size_t k = 0; k < phrase.size(); ++k) {
    const char16_t p = phrase[k];
    if (!IsWildcard(p, filter) && text[at + k] != p) return false;
  }
  return true;
}

// A list at most this many times longer than the candidates is merged
// with them; a longer one is probed at each candidate, jumping through its
// skip table.
constexpr uint64_t kMergeRatio = 32;

// Keeps the phrase starts `s` for which s + offset is a value of `cursor`
// (both ascending), probing the list at each start: a few candidates
// against a long list cost a few jumps through its skip table.
void KeepAlignedByProbes(std::vector<uint32_t>* starts, ListCursor& cursor, uint32_t offset) {
  size_t kept = 0;
  for (uint32_t s : *starts) {
    const uint64_t target = uint64_t{s} + offset;
    if (target > 0xFFFFFFFFu || !cursor.SeekAtLeast(uint32_t(target))) break;
    if (cursor.value() == target) (*starts)[kept++] = s;
  }
  starts->resize(kept);
}

// The same by merging the list, read in blocks, with the starts. The merge
// has no branch that depends on the data; a probe per start has several,
// and their mispredictions cost more than reading a list that is not much
// longer than the starts.
void KeepAlignedByMerge(std::vector<uint32_t>* starts, ListCursor& cursor, uint32_t offset) {
  std::vector<uint32_t>& st = *starts;
  uint32_t block[512];
  size_t filled = 0, at = 0, kept = 0;
  for (size_t j = 0; j < st.size();) {
    if (at == filled) {
      filled = cursor.Fill(block, std::size(block));
      at = 0;
      if (filled == 0) break;
    }
    const uint64_t x = uint64_t{st[j]} + offset;
    const uint64_t y = block[at];
    st[kept] = st[j];
    kept += x == y;
    j += x <= y;
    at += y <= x;
  }
  st.resize(kept);
}

void KeepAligned(std::vector<uint32_t>* starts, ListCursor& cursor, uint32_t offset,
                 uint32_t list_count) {
  if (list_count > kMergeRatio * starts->size()) {
    KeepAlignedByProbes(starts, cursor, offset);
  } else {
    KeepAlignedByMerge(starts, cursor, offset);
  }
}

// The phrase starts (from 1) that the positions of `cursor` allow for a
// character at `offset` in the phrase.
void AllStarts(ListCursor& cursor, uint32_t offset, uint32_t count, std::vector<uint32_t>* starts) {
  starts->resize(count);
  const size_t filled = cursor.Fill(starts->data(), count);
  size_t kept = 0;
  for (size_t i = 0; i < filled; ++i) {
    const uint32_t p = (*starts)[i];
    (*starts)[kept] = p - offset;
    kept += p > offset;
  }
  starts->resize(kept);
}

// The phrase starts s (from 1) at which s + offset_a is a value of `a` and
// s + offset_b one of `b`. Each list leaps to the other's next candidate,
// so long stretches of either list without a partner are jumped over.
LookupStatus AlignPair(ListCursor& a, uint32_t offset_a, ListCursor& b, uint32_t offset_b,
                       const std::atomic<bool>* cancel, std::vector<uint32_t>* starts) {
  uint64_t s = 1;
  for (uint32_t step = 1;; ++step) {
    if ((step & 0xFFFF) == 0 && Cancelled(cancel)) return LookupStatus::kCancelled;
    if (s + offset_a > 0xFFFFFFFFu || !a.SeekAtLeast(uint32_t(s + offset_a))) break;
    s = a.value() - offset_a;
    if (s + offset_b > 0xFFFFFFFFu || !b.SeekAtLeast(uint32_t(s + offset_b))) break;
    const uint64_t t = b.value() - offset_b;
    if (t == s) {
      starts->push_back(uint32_t(s));
      ++s;
    } else {
      s = t;
    }
  }
  return LookupStatus::kOk;
}

std::u16string StoredText(const StoredField& stored, uint32_t record) {
  if (!stored.read) return {};
  const Variant v = stored.read(record);
  if (!v.is_string()) return {};
  return Normalize(v.AsString());
}

// Compares the stored value of each record in [from, until) (at most to
// stored.record_count) with `phrase` in `form`.
LookupStatus ScanStoredText(const StoredField& stored, uint32_t from, uint32_t until,
                            std::u16string_view phrase, MatchForm form, const CharFilter* filter,
                            const std::atomic<bool>* cancel, std::vector<uint32_t>* records,
                            std::vector<uint32_t>* counts) {
  until = std::min(until, stored.record_count);
  for (uint32_t r = from; r < until; ++r) {
    if ((r & 255) == 0 && Cancelled(cancel)) return LookupStatus::kCancelled;
    const std::u16string text = StoredText(stored, r);
    if (text.empty()) continue;  // a missing value never matches
    const uint32_t n = MatchStoredText(text, phrase, form, filter);
    if (n == 0) continue;
    records->push_back(r);
    counts->push_back(n);
  }
  return LookupStatus::kOk;
}

std::u16string_view TrimLeft(std::u16string_view t) {
  while (!t.empty() && (t.front() == u' ' || t.front() == u'\t')) t.remove_prefix(1);
  return t;
}
std::u16string_view Trim(std::u16string_view t) {
  t = TrimLeft(t);
  while (!t.empty() && (t.back() == u' ' || t.back() == u'\t')) t.remove_suffix(1);
  return t;
}

template <typename T>
bool Compare(T stored, T term, int comparison) {
  switch (comparison) {
    case 0:
      return stored == term;
    case 1:
      return stored > term;
    case 2:
      return stored >= term;
    case 3:
      return stored < term;
    case 4:
      return stored <= term;
    default:
      return false;
  }
}

// An integer term's number: decimal (as the scripts read numbers),
// truncated, then taken as an unsigned 32-bit value.
bool ReadInteger(std::u16string_view text, uint32_t* value) {
  double d = 0;
  if (text.empty() || !ParseNumber(text, &d) || !std::isfinite(d)) return false;
  d = std::trunc(d);
  const int64_t i = d >= 9.2e18 ? INT64_MAX : d <= -9.2e18 ? INT64_MIN : int64_t(d);
  *value = uint32_t(i);
  return true;
}

uint32_t StoredUnsigned(const Variant& v) {
  switch (v.type()) {
    case VT_R4:
    case VT_R8:
    case VT_DATE:
      return uint32_t(int64_t(std::trunc(v.AsDouble())));
    default:
      return uint32_t(v.AsInteger());
  }
}

template <typename Keep>
LookupStatus ScanValues(const FieldLookupRequest& request, Keep keep, LookupResult* result) {
  const StoredField& stored = request.stored;
  if (!stored.read) return LookupStatus::kOk;
  for (uint32_t r = 0; r < stored.record_count; ++r) {
    if ((r & 1023) == 0 && Cancelled(request.cancel)) return LookupStatus::kCancelled;
    const Variant v = stored.read(r);
    if (v.is_empty() || v.is_null()) continue;
    if (keep(v)) result->records.push_back(r);
  }
  return LookupStatus::kOk;
}

LookupStatus IntegerLookup(const FieldLookupRequest& request, LookupResult* result) {
  std::u16string term;
  for (char16_t c : request.term) {
    if (c != u' ' && c != u'\t') term.push_back(c);
  }
  if (term.find(u'~') != std::u16string::npos) {
    // "[a~b]" and its variants; anything else with a tilde finds nothing.
    if (term.size() < 5) return LookupStatus::kOk;
    const char16_t open = term.front(), close = term.back();
    if ((open != u'[' && open != u'{') || (close != u']' && close != u'}'))
      return LookupStatus::kOk;
    const std::u16string_view inner = std::u16string_view(term).substr(1, term.size() - 2);
    const size_t tilde = inner.find(u'~');
    if (inner.find(u'~', tilde + 1) != std::u16string_view::npos) return LookupStatus::kOk;
    uint32_t low = 0, high = 0;
    if (!ReadInteger(inner.substr(0, tilde), &low) ||
        !ReadInteger(inner.substr(tilde + 1), &high)) {
      return LookupStatus::kOk;
    }
    const bool low_in = open == u'[', high_in = close == u']';
    return ScanValues(
        request,
        [&](const Variant& v) {
          const uint32_t x = StoredUnsigned(v);
          return (low_in ? x >= low : x > low) && (high_in ? x <= high : x < high);
        },
        result);
  }
  uint32_t value = 0;
  if (!ReadInteger(term, &value)) return LookupStatus::kOk;
  return ScanValues(
      request,
      [&](const Variant& v) { return Compare(StoredUnsigned(v), value, request.comparison); },
      result);
}

LookupStatus ExactForm(const FieldLookupRequest& request, std::u16string_view term,
                       LookupResult* result) {
  std::vector<uint32_t> records;
  uint32_t counter = 0;
  const std::u16string key = ExactIndexSegment::KeyOf(term);
  // Records of [from, until) whose stored value is the term.
  auto scan = [&](uint32_t from, uint32_t until) {
    until = std::min(until, request.stored.record_count);
    for (uint32_t r = from; r < until; ++r) {
      if ((r & 255) == 0 && Cancelled(request.cancel)) return LookupStatus::kCancelled;
      if (!request.stored.read) break;
      const Variant v = request.stored.read(r);
      if (v.is_string() && !v.AsString().empty() && ExactIndexSegment::KeyOf(v.AsString()) == key) {
        records.push_back(r);
      }
    }
    return LookupStatus::kOk;
  };
  if (request.index && request.index->index_kind() == kExactIndex) {
    // The trie is checked against a record of the leaf each walk ends at.
    ExactIndexSegment::StoredText stored_text;
    if (request.stored.read) {
      stored_text = [&](uint32_t r) { return ValueText(request.stored.read(r)); };
    }
    for (const auto& g : request.index->exact_generations()) {
      if (!g->damaged()) {
        const size_t mark = records.size();
        g->Lookup(term, &records, stored_text ? &stored_text : nullptr);
        if (!g->damaged()) continue;
        records.resize(mark);
      }
      // A damaged generation is not trusted: its records are read instead.
      if (scan(g->base(), g->record_counter()) == LookupStatus::kCancelled) {
        return LookupStatus::kCancelled;
      }
    }
    counter = request.index->RecordCount();
  }
  if (scan(counter, request.stored.record_count) == LookupStatus::kCancelled) {
    return LookupStatus::kCancelled;
  }
  result->records.assign(records.begin(), records.end());
  return LookupStatus::kOk;
}

LookupStatus WordForm(const FieldLookupRequest& request, std::u16string_view term,
                      LookupResult* result) {
  MatchForm form = MatchForm::kOccurrence;
  const bool opens = !term.empty() && term.front() == u'[';
  const bool closes = !term.empty() && term.back() == u']';
  if (opens && closes && term.size() >= 2) {
    form = MatchForm::kWhole;
    term = term.substr(1, term.size() - 2);
  } else if (closes) {
    form = MatchForm::kEndsWith;
    term.remove_suffix(1);
  } else if (opens) {
    form = MatchForm::kStartsWith;
    term.remove_prefix(1);
  }
  if (term.empty()) return LookupStatus::kOk;
  const std::u16string phrase = Normalize(term);
  const FieldGenerations* index =
      request.index && request.index->index_kind() == kWordIndex ? request.index : nullptr;
  const CharFilter* filter = request.filter ? request.filter : index ? &index->filter() : nullptr;

  std::vector<uint32_t> records, counts;
  uint32_t counter = 0;
  if (index) {
    const auto& generations = index->word_generations();
    // The grams were filed with the index's separators; a look-up with
    // others reads the characters alone.
    const bool grams = filter == &index->filter();
    for (size_t i = 0; i < generations.size(); ++i) {
      const auto& g = generations[i];
      if (!g->damaged()) {
        const size_t mark = records.size();
        const WordIndexSegment* gram = grams ? index->GramsOf(i) : nullptr;
        const auto align = [&](const WordIndexSegment* with) {
          records.resize(mark);
          counts.resize(mark);
          return AlignPhrase(*g, with, phrase, form, filter, request.stored, request.cancel,
                             &records, &counts);
        };
        if (align(gram) == LookupStatus::kCancelled) return LookupStatus::kCancelled;
        // Grams this look-up found damaged answered nothing: the sound
        // characters answer again without them.
        if (gram && gram->damaged() && align(nullptr) == LookupStatus::kCancelled) {
          return LookupStatus::kCancelled;
        }
        if (!g->damaged()) continue;
        records.resize(mark);
        counts.resize(mark);
      }
      // A damaged generation is not trusted: its records are read instead.
      if (ScanStoredText(request.stored, g->base(), g->record_counter(), phrase, form, filter,
                         request.cancel, &records, &counts) == LookupStatus::kCancelled) {
        return LookupStatus::kCancelled;
      }
    }
    counter = index->RecordCount();
  }
  if (ScanStoredText(request.stored, counter, request.stored.record_count, phrase, form, filter,
                     request.cancel, &records, &counts) == LookupStatus::kCancelled) {
    return LookupStatus::kCancelled;
  }
  result->records.assign(records.begin(), records.end());
  result->weights.assign(counts.begin(), counts.end());
  result->has_weights = true;
  return LookupStatus::kOk;
}

}  // namespace

uint32_t MatchStoredText(std::u16string_view text, std::u16string_view phrase, MatchForm form,
                         const CharFilter* filter) {
  const size_t n = text.size(), l = phrase.size();
  if (l == 0 || n < l) return 0;
  switch (form) {
    case MatchForm::kWhole:
      return n == l && MatchesAt(text, 0, phrase, filter) ? 1 : 0;
    case MatchForm::kStartsWith:
      return MatchesAt(text, 0, phrase, filter) ? 1 : 0;
    case MatchForm::kEndsWith:
      return MatchesAt(text, n - l, phrase, filter) ? 1 : 0;
    case MatchForm::kOccurrence:
      break;
  }
  uint32_t count = 0;
  for (size_t i = 0; i + l <= n;) {
    if (MatchesAt(text, i, phrase, filter)) {
      ++count;
      i += l;
    } else {
      ++i;
    }
  }
  return count;
}

namespace {

// One list the alignment reads: the positions of `key` in `segment` (a
// character of the word index or a gram of the gram index), which must hold
// the phrase's place `offset` (and the `span` - 1 places after it).
struct PhraseList {
  const WordIndexSegment* segment;
  char16_t key;
  uint32_t offset;
  uint32_t span;
  uint32_t count;
};

// The lists that cover every place of `phrase` that is not a wildcard,
// rarest first: every gram and every character, then whatever adds no
// place the rarer ones leave uncovered is dropped.
std::vector<PhraseList> CoveringLists(const WordIndexSegment& segment,
                                      const WordIndexSegment* grams, std::u16string_view phrase,
                                      const CharFilter* filter) {
  std::vector<PhraseList> all;
  if (grams && filter) {
    ForEachGram(phrase, *filter, /*wildcard_query=*/true, [&](size_t i, uint32_t key) {
      all.push_back(
          {grams, char16_t(key), uint32_t(i), kGramLength, grams->PositionCount(char16_t(key))});
    });
  }
  for (uint32_t i = 0; i < phrase.size(); ++i) {
    if (!IsWildcard(phrase[i], filter)) {
      all.push_back({&segment, phrase[i], i, 1, segment.PositionCount(phrase[i])});
    }
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const PhraseList& a, const PhraseList& b) { return a.count < b.count; });
  std::vector<bool> covered(phrase.size(), false);
  std::vector<PhraseList> kept;
  for (const PhraseList& l : all) {
    bool adds = false;
    for (uint32_t k = 0; k < l.span; ++k) {
      adds = adds || !covered[l.offset + k];
      covered[l.offset + k] = true;
    }
    if (adds) kept.push_back(l);
  }
  return kept;
}

}  // namespace

LookupStatus AlignPhrase(const WordIndexSegment& segment, const WordIndexSegment* grams,
                         std::u16string_view phrase, MatchForm form, const CharFilter* filter,
                         const StoredField& stored, const std::atomic<bool>* cancel,
                         std::vector<uint32_t>* records, std::vector<uint32_t>* counts) {
  const uint32_t length = uint32_t(phrase.size());
  const std::vector<PhraseList> letters = CoveringLists(segment, grams, phrase, filter);
  if (letters.empty()) {
    segment.RecordsOfLength(length, form, records, counts);
    return LookupStatus::kOk;
  }
  if (letters.front().count == 0) return LookupStatus::kOk;

  std::vector<std::shared_ptr<const SeekableList>> lists(letters.size());
  std::vector<ListCursor> cursors;
  cursors.reserve(letters.size());
  for (size_t j = 0; j < letters.size(); ++j) {
    // A list needed at several places of the phrase is read once.
    size_t same = 0;
    while (same < j &&
           (letters[same].key != letters[j].key || letters[same].segment != letters[j].segment)) {
      ++same;
    }
    if (same < j) {
      lists[j] = lists[same];
    } else if (!letters[j].segment->StoredList(letters[j].key, &lists[j])) {
      return LookupStatus::kOk;
    }
    cursors.emplace_back(lists[j].get(), letters[j].segment->PendingPositions(letters[j].key));
  }

  // Phrase starts s (position of the phrase's first character) that the
  // letters aligned so far allow.
  std::vector<uint32_t> starts;
  if (letters.size() == 1) {
    AllStarts(cursors[0], letters[0].offset, letters[0].count, &starts);
  } else if (letters[1].count > kMergeRatio * letters[0].count) {
    if (AlignPair(cursors[0], letters[0].offset, cursors[1], letters[1].offset, cancel, &starts) ==
        LookupStatus::kCancelled) {
      return LookupStatus::kCancelled;
    }
  } else {
    // Lists of similar length: every position of both is read anyway.
    AllStarts(cursors[0], letters[0].offset, letters[0].count, &starts);
    KeepAlignedByMerge(&starts, cursors[1], letters[1].offset);
  }
  for (size_t j = 2; j < letters.size() && !starts.empty(); ++j) {
    if (Cancelled(cancel)) return LookupStatus::kCancelled;
    // A further letter costs what its probes decode: at most a skip
    // interval per candidate, never more than its whole list.
    uint64_t cost = 0;
    for (size_t i = j; i < letters.size(); ++i) {
      cost += std::min<uint64_t>(letters[i].count,
                                 uint64_t{SeekableList::kSkipInterval} * starts.size()) +
              kAbandonUnit;
    }
    if (cost > kAbandonUnit * starts.size()) {
      // Cheaper to read the few candidate records than to probe the lists.
      std::vector<uint32_t> candidates;
      segment.RecordsOf(starts, 0, length - 1, MatchForm::kOccurrence, &candidates, nullptr);
      for (uint32_t r : candidates) {
        if (Cancelled(cancel)) return LookupStatus::kCancelled;
        const uint32_t n = MatchStoredText(StoredText(stored, r), phrase, form, filter);
        if (n == 0) continue;
        records->push_back(r);
        counts->push_back(n);
      }
      return LookupStatus::kOk;
    }
    KeepAligned(&starts, cursors[j], letters[j].offset, letters[j].count);
  }
  segment.RecordsOf(starts, 0, length - 1, form, records, counts);
  return LookupStatus::kOk;
}

LookupStatus FieldLookup(const FieldLookupRequest& request, LookupResult* result) {
  result->records.clear();
  result->weights.clear();
  result->has_weights = false;
  std::u16string_view term = request.term.substr(0, std::min(request.term.size(), kMaxTermUnits));
  switch (request.field_type) {
    case kText:
    case kDocument: {
      const IndexKind kind = request.index ? request.index->index_kind() : request.index_kind;
      // An exact value is compared whole (its key keeps kMaxKeyUnits):
      // cut at the phrase limit, a long path would match nothing.
      return kind == kExactIndex ? ExactForm(request, request.term, result)
                                 : WordForm(request, term, result);
    }
    case kLogical: {
      const std::u16string t = Normalize(TrimLeft(term));
      const uint8_t value = (t == u"true" || t == u"1") ? 1 : 0;
      return ScanValues(
          request,
          [&](const Variant& v) {
            return Compare<uint8_t>(v.AsBool() ? 1 : 0, value, request.comparison);
          },
          result);
    }
    case kDate: {
      double value = -1.0;
      if (!ParseDateText(TrimLeft(term), &value)) value = -1.0;
      return ScanValues(
          request,
          [&](const Variant& v) { return Compare(v.AsDouble(), value, request.comparison); },
          result);
    }
    case kDouble:
    case kSingle: {
      double value = 0;
      const std::u16string_view t = Trim(term);
      if (t.empty() || !ParseNumber(t, &value)) return LookupStatus::kOk;
      if (request.field_type == kSingle) {
        const float f = float(value);
        return ScanValues(
            request,
            [&](const Variant& v) { return Compare(float(v.AsDouble()), f, request.comparison); },
            result);
      }
      return ScanValues(
          request,
          [&](const Variant& v) { return Compare(v.AsDouble(), value, request.comparison); },
          result);
    }
    case kInteger:
      return IntegerLookup(request, result);
    default:
      return LookupStatus::kOk;
  }
}

}  // namespace lun
