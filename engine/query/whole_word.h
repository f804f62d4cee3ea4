// Whole-word matches of Latin terms.
//
// The engine finds terms as substrings (what the query language means), so
// "port" also finds "portable" and "supported". For Latin terms these tell
// apart where a term stands as a whole word: no Latin letter or digit right
// before or after it. A neighbour from another script (a Chinese character)
// is a boundary, since Chinese text sets Latin words between its characters
// without blanks. Terms with a character from another script (CJK terms)
// are not Latin terms and are never judged here.
//
// Both uses read the stored text of the records the index has found, at the
// places the term occurs; the index itself is not changed.
//   - Ranking (WholeWordRanker): rows ordered by relevance put the records
//     where every Latin term they contain stands as a whole word at least
//     once before the others. The text is read piece by piece and only
//     until each term has stood whole once, so a record that qualifies
//     costs about what its snippet costs.
//   - "全词匹配" (WholeWordsOnly): a Latin term keeps only the records where
//     it stands as a whole word, weighted by those occurrences.
#ifndef LUN_ENGINE_QUERY_WHOLE_WORD_H_
#define LUN_ENGINE_QUERY_WHOLE_WORD_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/variant.h"
#include "engine/query/evaluator.h"

namespace lun {

class DataTable;

// A Latin letter or digit (ASCII, Latin-1 and Latin Extended-A/B).
bool IsLatinWordChar(char16_t c);

// A term (normalised, escapes decoded) made of Latin-script characters only
// ("?" and blanks included) with at least one Latin letter or digit.
bool IsLatinTerm(std::u16string_view term);

// Occurrences of `term` (normalised) in `text` (normalised as it is read),
// non-overlapping from the left as the index counts them, "?" matching any
// character: how many there are, and how many of them stand as whole words.
// With `stop_at_whole` the count ends at the first whole-word occurrence.
struct WordOccurrences {
  uint32_t all = 0;
  uint32_t whole = 0;
};
WordOccurrences CountOccurrences(std::u16string_view text, std::u16string_view term,
                                 bool stop_at_whole = false);

// Decides, record by record, whether the Latin keywords of a search stand
// as whole words there.
class WholeWordRanker {
 public:
  // `keywords`: per field position, the keywords that searched it (as the
  // recordset's columns hold them); only Latin ones of text fields count.
  WholeWordRanker(const DataTable& table,
                  const std::vector<std::pair<int, std::vector<std::u16string>>>& keywords);

  // False when no Latin keyword is to be judged: ranking is unchanged.
  bool active() const { return !fields_.empty(); }

  // True unless a Latin keyword occurs in the record's fields but nowhere
  // as a whole word. Reads the record's text fields piece by piece, and
  // stops once every keyword has stood whole.
  bool WholeIn(uint32_t record) const;

 private:
  // Scans field `position` of `record` for the keywords of `words` not yet
  // whole (`whole`, per keyword of terms_), marking `occurs` and `whole`.
  void ScanField(uint32_t record, int position, const std::vector<std::u16string>& words,
                 std::vector<bool>* occurs, std::vector<bool>* whole) const;

  const DataTable& table_;
  std::vector<std::pair<int, std::vector<std::u16string>>> fields_;  // Latin keywords only
  std::vector<std::u16string> terms_;                                // every Latin keyword once
};

// A TermSource that gives Latin terms on text fields only their whole-word
// matches ("全词匹配"); other terms pass through `inner` unchanged.
std::unique_ptr<TermSource> WholeWordsOnly(std::unique_ptr<TermSource> inner,
                                           const DataTable& table);

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_WHOLE_WORD_H_
