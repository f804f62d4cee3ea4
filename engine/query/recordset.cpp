#include "engine/query/recordset.h"

#include <unicode/coll.h>
#include <unicode/locid.h>

#include <algorithm>
#include <numeric>

#include "engine/query/whole_word.h"
#include "engine/storage/data_table.h"
#include "engine/storage/record_format.h"
#include "engine/storage/search_project.h"

namespace lun {
namespace {

// Selection sorting puts one row in place per pass over the unsorted rows.
// A jump far ahead (MoveLast on a large result) would cost rows x jump
// comparisons, so beyond this many the remaining rows are sorted at once.
constexpr uint64_t kSelectionBudget = 20'000'000;

bool NamesEqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

bool TypeHasSortKey(int type) {
  switch (type) {
    case kFieldText:
    case kFieldDocument:
    case kFieldInteger:
    case kFieldSingle:
    case kFieldDouble:
    case kFieldLogical:
    case kFieldDate:
      return true;
    default:
      return false;
  }
}

}  // namespace

// Text keys compare in the user's language order (pinyin for Chinese), as a
// file manager sorts names.
struct Recordset::CollatorHolder {
  std::unique_ptr<icu::Collator> collator;
};

Recordset::Recordset(SearchProject* project)
    : project_(project), arena_(64 * 1024), result_(&arena_) {}

bool Recordset::Open(ResultSet result) {
  table_ = project_ ? project_->TableAt(static_cast<int>(result.table)) : nullptr;
  if (!table_) return false;
  result_.table = result.table;
  result_.records.assign(result.records.begin(), result.records.end());
  result_.weights.assign(result.weights.begin(), result.weights.end());
  columns_.clear();
  for (int i = 0; i < table_->field_count(); ++i) {
    const TableField* f = table_->FieldAt(i);
    columns_.push_back(Column{f->name, f->type, f->position, {}});
  }
  sorted_rows_ = 0;
  cursor_ = kNoRow;
  Move(0);
  SetPageSize(kDefaultPageSize);
  return true;
}

void Recordset::SetSort(std::string_view field, bool ascending) {
  sort_field_ = std::string(field);
  ascending_ = ascending;
  sorted_rows_ = 0;
  keys_.clear();
  ranker_.reset();
  ranker_built_ = false;
  tiers_.clear();
  whole_checks_ = 0;
  Move(kNoRow);
  const int column = FindColumn(field);
  if (column >= 0 && TypeHasSortKey(columns_[column].type)) {
    sort_by_ = SortBy::kField;
    sort_type_ = columns_[column].type;
    keys_.reserve(count());
    for (const uint32_t record : result_.records) {
      keys_.push_back(table_->GetFieldValue(record, columns_[column].position));
    }
    if ((sort_type_ == kFieldText || sort_type_ == kFieldDocument) && !collator_) {
      UErrorCode status = U_ZERO_ERROR;
      collator_ = std::make_shared<CollatorHolder>();
      collator_->collator.reset(icu::Collator::createInstance(icu::Locale("zh"), status));
      if (U_FAILURE(status)) collator_->collator.reset();
    }
  } else if (column < 0 && field == kRelevanceField) {
    sort_by_ = SortBy::kRelevance;
  } else {
    sort_by_ = SortBy::kNone;
  }
}

bool Recordset::KeyGreater(uint32_t a, uint32_t b) const {
  if (sort_by_ == SortBy::kRelevance) return result_.WeightAt(a) > result_.WeightAt(b);
  const Variant& x = keys_[a];
  const Variant& y = keys_[b];
  switch (sort_type_) {
    case kFieldText:
    case kFieldDocument: {
      const std::u16string_view s = x.AsString(), t = y.AsString();
      if (collator_ && collator_->collator) {
        UErrorCode status = U_ZERO_ERROR;
        return collator_->collator->compare(s.data(), static_cast<int32_t>(s.size()), t.data(),
                                            static_cast<int32_t>(t.size()), status) == UCOL_GREATER;
      }
      return s > t;
    }
    case kFieldInteger:
    case kFieldLogical:
      // Integers sort by their signed value: a negative number is smaller
      // than every positive one.
      return x.AsInteger() > y.AsInteger();
    default:
      return x.AsDouble() > y.AsDouble();
  }
}

void Recordset::SwapRows(uint32_t a, uint32_t b) {
  std::swap(result_.records[a], result_.records[b]);
  if (result_.has_weights()) std::swap(result_.weights[a], result_.weights[b]);
  if (!keys_.empty()) std::swap(keys_[a], keys_[b]);
  if (!tiers_.empty()) std::swap(tiers_[a], tiers_[b]);
}

bool Recordset::RankWholeWords() {
  if (sort_by_ != SortBy::kRelevance || ascending_) return false;
  if (!ranker_built_) {
    ranker_built_ = true;
    std::vector<std::pair<int, std::vector<std::u16string>>> keywords;
    for (const Column& c : columns_) {
      if (!c.keywords.empty()) keywords.emplace_back(c.position, c.keywords);
    }
    auto ranker = std::make_shared<WholeWordRanker>(*table_, keywords);
    if (ranker->active()) {
      ranker_ = std::move(ranker);
      tiers_.assign(count(), kTierUnknown);
    }
  }
  return ranker_ != nullptr;
}

bool Recordset::RowIsWhole(uint32_t row) {
  if (tiers_[row] == kTierUnknown) {
    // Past the budget a row is not read: it keeps its place by weight,
    // behind the whole rows found among the heavier ones.
    const bool whole =
        whole_checks_ < kMaxWholeWordChecks && ranker_->WholeIn(result_.records[row]);
    ++whole_checks_;
    tiers_[row] = whole ? kTierWhole : kTierPartial;
  }
  return tiers_[row] == kTierWhole;
}

// The heaviest row not known to be partial is checked; the first whole one
// met this way is the next. When none is left, the heaviest partial row.
uint32_t Recordset::BestRankedRow(uint32_t from) {
  for (;;) {
    int64_t best = -1;
    for (uint32_t j = from; j < count(); ++j) {
      if (tiers_[j] == kTierPartial) continue;
      if (best < 0 || KeyGreater(j, static_cast<uint32_t>(best))) best = j;
    }
    if (best < 0) break;
    if (RowIsWhole(static_cast<uint32_t>(best))) return static_cast<uint32_t>(best);
  }
  uint32_t best = from;
  for (uint32_t j = from; j < count(); ++j) {
    if (KeyGreater(j, best)) best = j;
  }
  return best;
}

// Puts rows sorted_rows_ .. row in final order by selection. Descending takes
// the first of equal maxima; ascending by a field the last of equal minima,
// by relevance the first (so equal weights keep record order in both).
void Recordset::SortUpTo(uint32_t row) {
  if (sort_by_ == SortBy::kNone || row >= count() || row < sorted_rows_) return;
  if (sort_by_ == SortBy::kRelevance && !result_.has_weights()) return;
  const bool rank_whole_words = RankWholeWords();
  const uint64_t passes = uint64_t{row} + 1 - sorted_rows_;
  if (passes * (count() - sorted_rows_) > kSelectionBudget) {
    std::vector<uint32_t> order(count() - sorted_rows_);
    std::iota(order.begin(), order.end(), sorted_rows_);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      return ascending_ ? KeyGreater(b, a) : KeyGreater(a, b);
    });
    if (rank_whole_words) {
      // The heaviest rows are judged first, as the selection below does,
      // so that both spend the budget of RowIsWhole on the same rows.
      for (const uint32_t r : order) (void)RowIsWhole(r);
      std::stable_sort(order.begin(), order.end(),
                       [&](uint32_t a, uint32_t b) { return tiers_[a] > tiers_[b]; });
    }
    ResultSet sorted(&arena_);
    std::vector<Variant> keys;
    for (const uint32_t r : order) {
      sorted.records.push_back(result_.records[r]);
      if (result_.has_weights()) sorted.weights.push_back(result_.weights[r]);
      if (!keys_.empty()) keys.push_back(keys_[r]);
    }
    std::copy(sorted.records.begin(), sorted.records.end(), result_.records.begin() + sorted_rows_);
    std::copy(sorted.weights.begin(), sorted.weights.end(), result_.weights.begin() + sorted_rows_);
    std::move(keys.begin(), keys.end(), keys_.begin() + sorted_rows_);
    if (rank_whole_words) {
      std::vector<int8_t> tiers;
      tiers.reserve(order.size());
      for (const uint32_t r : order) tiers.push_back(tiers_[r]);
      std::copy(tiers.begin(), tiers.end(), tiers_.begin() + sorted_rows_);
    }
    sorted_rows_ = count();
    return;
  }
  for (uint32_t i = sorted_rows_; i <= row; ++i) {
    if (rank_whole_words) {
      SwapRows(i, BestRankedRow(i));
      continue;
    }
    uint32_t best = i;
    for (uint32_t j = i; j < count(); ++j) {
      const bool take =
          ascending_ ? (sort_by_ == SortBy::kRelevance ? KeyGreater(best, j) : !KeyGreater(j, best))
                     : KeyGreater(j, best);
      if (take) best = j;
    }
    SwapRows(i, best);
  }
  sorted_rows_ = row + 1;
}

void Recordset::Move(int64_t row) {
  if (count() == 0) return;
  if (row < 0 || row >= static_cast<int64_t>(count())) {
    cursor_ = kNoRow;
    return;
  }
  SortUpTo(static_cast<uint32_t>(row));
  cursor_ = row;
}

void Recordset::MovePrev() {
  if (cursor_ != 0) Move(cursor_ - 1);
}

void Recordset::MoveNext() {
  if (cursor_ < static_cast<int64_t>(count())) Move(cursor_ + 1);
}

void Recordset::SetPageSize(uint32_t size) {
  if (size == 0) return;
  page_size_ = size;
  page_count_ = count() / size + (count() % size != 0 ? 1 : 0);
  current_page_ = 0;
  current_page_size_ = page_count_ > 0 ? size : 0;
  // With a current row, show the page that holds it.
  if (cursor_ >= 0) MovePage(static_cast<uint32_t>(cursor_ / size) + 1);
}

void Recordset::MovePage(uint32_t page) {
  if (page_count_ == 0) return;
  current_page_ = page == 0 ? 1 : std::min(page, page_count_);
  Move(int64_t{current_page_ - 1} * page_size_);
  current_page_size_ = page_size_;
  if (current_page_ == page_count_ && count() % page_size_ != 0) {
    current_page_size_ = count() % page_size_;
  }
}

int64_t Recordset::RecordNumber() const {
  return IsEOF() ? -1 : int64_t{result_.records[static_cast<size_t>(cursor_)]};
}

int64_t Recordset::Relevance() const {
  if (sort_by_ != SortBy::kRelevance || !result_.has_weights() || IsEOF()) return -1;
  return result_.weights[static_cast<size_t>(cursor_)];
}

Variant Recordset::Value(int column) const {
  if (IsEOF() || column < 0 || column >= static_cast<int>(columns_.size())) return Variant();
  return table_->GetFieldValue(static_cast<uint32_t>(RecordNumber()), columns_[column].position);
}

bool Recordset::DeleteCurrent() {
  return !IsEOF() && table_->DeleteRecord(static_cast<uint32_t>(RecordNumber()));
}

int Recordset::FindColumn(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (NamesEqualNoCase(columns_[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace lun
