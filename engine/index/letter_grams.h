// Letter grams: the keys of the gram index that sits beside each word-index
// generation and makes Latin letters and digits as selective as Chinese
// characters.
//
// The word index files every normalised character alone, so a Latin term
// aligns lists of letters that each hold millions of positions. The gram
// index files the same positions (the same numbering, record by record)
// under the run of kGramLength letters or digits that starts there: a
// position p is filed under key K when the normalised characters at p ..
// p + kGramLength - 1 are all in the alphabet a-z, 0-9 and none is a
// separator. A phrase whose characters i .. i + kGramLength - 1 are all in
// the alphabet may align that key's list at offset i in place of the lists
// of those characters: the answer is exactly the same, from far fewer
// positions. Characters outside the alphabet (Chinese, "_", accented
// letters) and runs shorter than a gram keep their character lists.
//
// Keys are numbers below kGramKeyCount (at most 65,536: the gram index uses
// the word index's 16-bit term directory, in files of its own).
#ifndef LUN_ENGINE_INDEX_LETTER_GRAMS_H_
#define LUN_ENGINE_INDEX_LETTER_GRAMS_H_

#include <cstdint>
#include <string_view>

#include "engine/index/char_filter.h"

namespace lun {

// Trigrams, measured against bigrams on the benchmark corpus and on four
// times that corpus (see bench/query/RESULTS.md): at 1x both answer English
// words in a few milliseconds at the median; at 4x the dense bigram lists
// no longer stay in the posting cache when queries alternate and every
// English query takes hundreds of milliseconds, trigrams tens. Bigrams
// would also cover two-letter runs ("of") and take less room in the word
// index's paged layout (many trigram lists are short and each takes at
// least a page). The length is in the file names, so changing it rebuilds
// the grams beside an older index.
inline constexpr uint32_t kGramLength = 3;
inline constexpr uint32_t kGramAlphabet = 36;  // a-z, 0-9
inline constexpr uint32_t kGramKeyCount = [] {
  uint32_t n = 1;
  for (uint32_t i = 0; i < kGramLength; ++i) n *= kGramAlphabet;
  return n;
}();
static_assert(kGramKeyCount <= 65536);

// The alphabet number of a normalised character, or -1 outside it.
inline int GramSymbol(char16_t c) {
  if (c >= u'a' && c <= u'z') return c - u'a';
  if (c >= u'0' && c <= u'9') return 26 + (c - u'0');
  return -1;
}

// The key of the gram `symbols` (kGramLength alphabet numbers).
inline uint32_t GramKey(const int* symbols) {
  uint32_t key = 0;
  for (uint32_t i = 0; i < kGramLength; ++i) key = key * kGramAlphabet + uint32_t(symbols[i]);
  return key;
}

// Calls `emit(i, key)` for every i at which `normalized[i ..]` starts a
// gram (no separator of `filter`, nor, with `wildcard_query`, a "?").
template <typename Emit>
void ForEachGram(std::u16string_view normalized, const CharFilter& filter, bool wildcard_query,
                 Emit&& emit) {
  int window[kGramLength] = {};
  uint32_t run = 0;  // alphabet characters in a row ending at i
  for (size_t i = 0; i < normalized.size(); ++i) {
    const char16_t c = normalized[i];
    const int s = (wildcard_query && c == u'?') || filter.IsSeparator(c) ? -1 : GramSymbol(c);
    if (s < 0) {
      run = 0;
      continue;
    }
    for (uint32_t k = 0; k + 1 < kGramLength; ++k) window[k] = window[k + 1];
    window[kGramLength - 1] = s;
    if (++run >= kGramLength) emit(i + 1 - kGramLength, GramKey(window));
  }
}

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_LETTER_GRAMS_H_
