#include "engine/query/whole_word.h"

#include <algorithm>

#include "automation/variant.h"
#include "engine/storage/data_table.h"
#include "engine/storage/record_format.h"
#include "engine/storage/value_codec.h"
#include "platform/normalize.h"

namespace lun {
namespace {

// Characters of a term that match any one character of the text: "?" and
// the separators the index skips (the project's default ones), as in the
// index's own phrase matching.
bool MatchesAny(char16_t c) {
  switch (c) {
    case u'?':
    case u',':
    case u'\t':
    case u'\r':
    case u'\n':
    case u' ':
    case u';':
    case u'!':
    case u'\u3001':
    case u'\u3002':
    case u'\u2018':
    case u'\u2019':
    case u'\u201C':
    case u'\u201D':
      return true;
    default:
      return false;
  }
}

// Whether `term` (normalised) sits at `at` in `text` (normalised here, one
// character at a time, so that a long text is never copied).
bool MatchesAt(std::u16string_view text, size_t at, std::u16string_view term) {
  for (size_t k = 0; k < term.size(); ++k) {
    if (term[k] != NormalizeChar(text[at + k]) && !MatchesAny(term[k])) return false;
  }
  return true;
}

// MatchesAt on a text normalised already.
bool MatchesNormalizedAt(std::u16string_view text, size_t at, std::u16string_view term) {
  for (size_t k = 0; k < term.size(); ++k) {
    if (term[k] != text[at + k] && !MatchesAny(term[k])) return false;
  }
  return true;
}

bool WordCharAt(std::u16string_view text, size_t i) {
  return IsLatinWordChar(NormalizeChar(text[i]));
}

// A term the whole-word check applies to: Latin, and not anchored ("[t",
// "t]" and "[t]" match at the ends of the whole value instead).
bool IsPlainLatinTerm(std::u16string_view term) {
  return IsLatinTerm(term) && term.front() != u'[' && term.back() != u']';
}

bool IsTextFieldWithWords(const DataTable& table, int position) {
  const TableField* f = table.FieldAt(position);
  return f && IsTextType(f->type) && f->index_kind != kExactIndex;
}

// The text of a field value (in `storage` when it must be converted);
// empty when it has none.
std::u16string_view TextOf(const Variant& value, std::u16string* storage) {
  if (value.type() == VT_BSTR) return value.AsString();
  if (ToText(value, storage) != S_OK) storage->clear();
  return *storage;
}

// The occurrences of some terms in a text given piece by piece, counted as
// CountOccurrences counts them (non-overlapping from the left, per term),
// keeping only the text that a match still to be found can reach. Each
// character is normalised once, as it is added, and a term that starts
// with a plain character jumps from one place of that character to the next.
class PieceScanner {
 public:
  explicit PieceScanner(std::vector<std::u16string_view> terms) : terms_(std::move(terms)) {
    states_.resize(terms_.size());
  }

  // Adds the next piece of the text; `last` when the text ends with it.
  void Add(std::u16string_view piece, bool last) {
    const size_t from = text_.size();
    text_.resize(from + piece.size());
    for (size_t i = 0; i < piece.size(); ++i) text_[from + i] = NormalizeChar(piece[i]);
    const size_t end = offset_ + text_.size();
    size_t keep = end;
    for (size_t k = 0; k < terms_.size(); ++k) {
      Scan(k, end, last);
      if (!states_[k].whole) keep = std::min(keep, states_[k].next == 0 ? 0 : states_[k].next - 1);
    }
    // The character before the next possible match is its left neighbour.
    keep = std::max(keep, offset_);
    text_.erase(0, keep - offset_);
    offset_ = keep;
  }

  bool AllWhole() const {
    return std::all_of(states_.begin(), states_.end(), [](const State& s) { return s.whole; });
  }
  bool occurs(size_t k) const { return states_[k].occurs; }
  bool whole(size_t k) const { return states_[k].whole; }

 private:
  struct State {
    size_t next = 0;  // where the next match may start, in the whole text
    bool occurs = false;
    bool whole = false;
  };

  // Matches term k from its next start while the text read so far holds the
  // match and its right neighbour (or the text has ended).
  void Scan(size_t k, size_t end, bool last) {
    State& s = states_[k];
    const std::u16string_view term = terms_[k];
    const bool jump = !MatchesAny(term.front());
    size_t i = s.next;
    while (!s.whole && i + term.size() + (last ? 0 : 1) <= end) {
      if (jump) {
        const size_t found = text_.find(term.front(), i - offset_);
        if (found == std::u16string::npos) {
          i = end;
          break;
        }
        i = offset_ + found;
        if (i + term.size() + (last ? 0 : 1) > end) break;
      }
      const size_t at = i - offset_;
      if (!MatchesNormalizedAt(text_, at, term)) {
        ++i;
        continue;
      }
      const bool left_free = i == 0 || !IsLatinWordChar(text_[at - 1]);
      const bool right_free = i + term.size() == end || !IsLatinWordChar(text_[at + term.size()]);
      s.occurs = true;
      s.whole = left_free && right_free;
      i += term.size();
    }
    s.next = i;
  }

  std::vector<std::u16string_view> terms_;
  std::vector<State> states_;
  std::u16string text_;  // units [offset_, offset_ + text_.size()) of the text, normalised
  size_t offset_ = 0;
};

class WholeWordsOnlySource final : public TermSource {
 public:
  WholeWordsOnlySource(std::unique_ptr<TermSource> inner, const DataTable& table)
      : inner_(std::move(inner)), table_(table) {}

  uint32_t SlotCount() const override { return inner_->SlotCount(); }
  std::vector<int32_t> AnyFieldList() const override { return inner_->AnyFieldList(); }
  std::span<const uint32_t> Deletions() const override { return inner_->Deletions(); }

  bool Lookup(int32_t field, std::u16string_view text, Comparison comparison,
              ResultSet* out) override {
    if (!inner_->Lookup(field, text, comparison, out)) return false;
    const std::u16string term = Normalize(text);
    if (comparison != Comparison::kMatch || !IsPlainLatinTerm(term) ||
        !IsTextFieldWithWords(table_, field)) {
      return true;
    }
    size_t kept = 0;
    std::pmr::vector<uint32_t> weights(out->records.get_allocator().resource());
    for (const uint32_t record : out->records) {
      const Variant value = table_.GetFieldValue(record, field);
      std::u16string storage;
      const uint32_t whole = CountOccurrences(TextOf(value, &storage), term).whole;
      if (whole == 0) continue;
      out->records[kept++] = record;
      weights.push_back(whole);
    }
    out->records.resize(kept);
    out->weights.swap(weights);
    return true;
  }

 private:
  std::unique_ptr<TermSource> inner_;
  const DataTable& table_;
};

}  // namespace

bool IsLatinWordChar(char16_t c) {
  if ((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')) {
    return true;
  }
  return c >= 0x00C0 && c <= 0x024F && c != 0x00D7 && c != 0x00F7;
}

bool IsLatinTerm(std::u16string_view term) {
  bool has_word_char = false;
  for (const char16_t c : term) {
    if (c >= 0x0250) return false;
    has_word_char = has_word_char || IsLatinWordChar(c);
  }
  return has_word_char;
}

WordOccurrences CountOccurrences(std::u16string_view text, std::u16string_view term,
                                 bool stop_at_whole) {
  WordOccurrences found;
  if (term.empty()) return found;
  for (size_t i = 0; i + term.size() <= text.size();) {
    if (!MatchesAt(text, i, term)) {
      ++i;
      continue;
    }
    const size_t end = i + term.size();
    const bool left_free = i == 0 || !WordCharAt(text, i - 1);
    const bool right_free = end == text.size() || !WordCharAt(text, end);
    ++found.all;
    if (left_free && right_free) {
      ++found.whole;
      if (stop_at_whole) break;
    }
    i = end;
  }
  return found;
}

WholeWordRanker::WholeWordRanker(
    const DataTable& table,
    const std::vector<std::pair<int, std::vector<std::u16string>>>& keywords)
    : table_(table) {
  for (const auto& [position, words] : keywords) {
    if (!IsTextFieldWithWords(table, position)) continue;
    std::vector<std::u16string> latin;
    for (const std::u16string& word : words) {
      std::u16string term = Normalize(word);
      if (!IsPlainLatinTerm(term)) continue;
      if (std::find(terms_.begin(), terms_.end(), term) == terms_.end()) terms_.push_back(term);
      latin.push_back(std::move(term));
    }
    if (!latin.empty()) fields_.emplace_back(position, std::move(latin));
  }
}

void WholeWordRanker::ScanField(uint32_t record, int position,
                                const std::vector<std::u16string>& words, std::vector<bool>* occurs,
                                std::vector<bool>* whole) const {
  std::vector<size_t> index;  // into terms_, of the words still to judge
  std::vector<std::u16string_view> pending;
  for (const std::u16string& word : words) {
    const size_t k = std::find(terms_.begin(), terms_.end(), word) - terms_.begin();
    if ((*whole)[k] || std::find(index.begin(), index.end(), k) != index.end()) continue;
    index.push_back(k);
    pending.push_back(terms_[k]);
  }
  if (pending.empty()) return;
  PieceScanner scanner(pending);
  std::string stored;
  bool read = false;
  if (table_.ReadStoredValue(record, position, &stored)) {
    StoredTextReader reader(stored);
    std::u16string piece;
    while (!scanner.AllWhole() && reader.Next(&piece)) {
      scanner.Add(piece, false);
      piece.clear();
    }
    if (!scanner.AllWhole()) scanner.Add({}, true);
    read = !reader.damaged();
  }
  if (!read) {
    // A value without a stored text form: judged on the value as a whole.
    scanner = PieceScanner(pending);
    std::u16string storage;
    scanner.Add(TextOf(table_.GetFieldValue(record, position), &storage), true);
  }
  for (size_t j = 0; j < index.size(); ++j) {
    (*occurs)[index[j]] = (*occurs)[index[j]] || scanner.occurs(j);
    (*whole)[index[j]] = (*whole)[index[j]] || scanner.whole(j);
  }
}

bool WholeWordRanker::WholeIn(uint32_t record) const {
  std::vector<bool> occurs(terms_.size()), whole(terms_.size());
  for (const auto& [position, words] : fields_) ScanField(record, position, words, &occurs, &whole);
  for (size_t k = 0; k < terms_.size(); ++k) {
    if (occurs[k] && !whole[k]) return false;
  }
  return true;
}

std::unique_ptr<TermSource> WholeWordsOnly(std::unique_ptr<TermSource> inner,
                                           const DataTable& table) {
  return std::make_unique<WholeWordsOnlySource>(std::move(inner), table);
}

}  // namespace lun
