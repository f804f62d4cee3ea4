// FieldLookup: the look-up of one query term on one field, the index
// primitive that query evaluation calls for every term.
//
// How a term is read depends on the field's type and index:
//   text, document, exact-value index (kind 7): the whole normalised value
//       must equal the term ("?" is literal here, as in the trie).
//   text, document, otherwise: a phrase of characters. "[" + t + "]" must
//       be the whole value, "[" + t the start, t + "]" the end, plain t may
//       occur anywhere (weight: its number of occurrences; 1 when anchored).
//       "?" and the project's separator characters in the phrase match any
//       one character. Only the first 1024 characters of a term are used.
//   logical: "TRUE" or "1" (any case, after leading blanks) is true, anything
//       else false.
//   date: a date text (automation/date_time.h ParseDateText); unreadable
//       stands for -1.0.
//   double, single: one number (blanks around allowed), else no result.
//   integer: blanks removed; one number (truncated), or a range
//       "[a~b]", "{a~b]", "[a~b}", "{a~b}" ("[" / "]" include the bound,
//       "{" / "}" exclude it). Values compare as unsigned 32-bit numbers, so
//       negative values sort above all others.
// For the non-text types `comparison` applies (0 equal, 1 stored value
// greater, 2 greater or equal, 3 less, 4 less or equal); these look-ups scan
// every record of the table (one field, in record order) and give no
// weights. Records that the index has not taken yet (beyond its record
// counter) are compared against their stored text, so they are found too.
//
// Results are ascending record numbers; deleted records are the caller's
// business.
//
// Thread safety: any number of look-ups may run together while no writer
// changes the index (the table's read lock).
#ifndef LUN_ENGINE_INDEX_FIELD_LOOKUP_H_
#define LUN_ENGINE_INDEX_FIELD_LOOKUP_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory_resource>
#include <string_view>
#include <vector>

#include "engine/index/word_index_segment.h"
#include "engine/storage/record_format.h"

namespace lun {

class CharFilter;
class FieldGenerations;
class Variant;

// The stored values of one field, read through the table (storage's
// GetFieldValue). `read` returns Empty for a missing record or value.
struct StoredField {
  uint32_t record_count = 0;  // the table's next record number
  std::function<Variant(uint32_t record)> read;
};

struct FieldLookupRequest {
  int field_type = 0;     // 1 text ... 8 document
  IndexKind index_kind = kNoIndex;
  // The field's index; null when it has none (then the text look-ups scan
  // the stored values instead).
  const FieldGenerations* index = nullptr;
  // Separators that match any character in a phrase; null: the index's
  // filter, or none.
  const CharFilter* filter = nullptr;
  StoredField stored;
  std::u16string_view term;
  int comparison = 0;
  // Set by another thread to stop the look-up early (the search watchdog).
  const std::atomic<bool>* cancel = nullptr;
};

struct LookupResult {
  explicit LookupResult(std::pmr::memory_resource* heap = std::pmr::get_default_resource())
      : records(heap), weights(heap) {}
  std::pmr::vector<uint32_t> records;  // ascending
  std::pmr::vector<uint32_t> weights;  // parallel to records when has_weights
  bool has_weights = false;
};

enum class LookupStatus { kOk, kCancelled };

// Looks `request.term` up; fills `*result` (emptied first). kCancelled when
// `request.cancel` was raised; the result is then incomplete.
LookupStatus FieldLookup(const FieldLookupRequest& request, LookupResult* result);

// ---- pieces, exposed for tests and for the highlighter's agreement -----

// Number of places where `phrase` (normalised, wildcards as in FieldLookup)
// sits in `text` (normalised) in `form`: non-overlapping occurrences from
// the left for kOccurrence, else 0 or 1.
uint32_t MatchStoredText(std::u16string_view text, std::u16string_view phrase, MatchForm form,
                         const CharFilter* filter);

// Aligns `phrase` (normalised, not empty) on one word-index generation and,
// when given, the gram generation beside it (letter_grams.h): appends the
// records holding it in `form` with their counts. Each place of the phrase
// is covered by a list: a gram's where the phrase has one there, else its
// character's; the rarest lists are taken first and a list whose places
// are covered already is left out. The two rarest lists leapfrog each
// other; each further one is probed at the places found so far (through
// the lists' skip tables), unless those probes would cost more than
// checking the records found so far against their stored text, which is
// then read instead.
LookupStatus AlignPhrase(const WordIndexSegment& segment, const WordIndexSegment* grams,
                         std::u16string_view phrase, MatchForm form, const CharFilter* filter,
                         const StoredField& stored, const std::atomic<bool>* cancel,
                         std::vector<uint32_t>* records, std::vector<uint32_t>* counts);

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_FIELD_LOOKUP_H_
