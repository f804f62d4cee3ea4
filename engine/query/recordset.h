// Recordset: the result of one search, served row by row.
//
// It holds the rows (record numbers with their relevance weights), a cursor,
// paging, and a lazy sort by a field or by relevance ("相关度"): rows are put
// in final order only as far as the cursor has gone, so showing the first
// page of a large result costs little. Each column (one per field of the
// table) keeps the query terms that searched it, for highlighting.
// Descending relevance puts rows where the Latin terms stand as whole words
// first (whole_word.h); a row's text is read for that only when it is the
// heaviest candidate left, and only the kMaxWholeWordChecks heaviest rows
// are judged: a search for a word that mostly stands inside longer words
// ("port" in "support") would otherwise read the text of every hit to fill
// one page. Rows past that keep their weight order behind the whole ones.
//
// Memory: every array of the search lives in the Recordset's own arena and
// is freed with it.
//
// Thread safety: one thread at a time. The table and project must outlive
// it; reading rows uses the table's record reads, which are safe at any time.
#ifndef LUN_ENGINE_QUERY_RECORDSET_H_
#define LUN_ENGINE_QUERY_RECORDSET_H_

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "engine/query/result_set.h"

namespace lun {

class DataTable;
class SearchProject;
class WholeWordRanker;

// The pseudo sort field that orders rows by relevance weight.
inline constexpr char kRelevanceField[] = "相关度";

class Recordset {
 public:
  struct Column {
    std::string name;
    int type = 0;      // field type, 1 text ... 8 document
    int position = 0;  // field number in the table
    std::vector<std::u16string> keywords;
  };

  static constexpr int64_t kNoRow = -1;
  static constexpr uint32_t kDefaultPageSize = 10;

  explicit Recordset(SearchProject* project);
  Recordset(const Recordset&) = delete;
  Recordset& operator=(const Recordset&) = delete;

  // The arena every array of this search comes from.
  std::pmr::memory_resource* memory() { return &arena_; }

  // Takes over `result` as the rows (table found by its ordinal), creates the
  // columns, moves to row 0 and sets the page size to 10. False when the
  // table does not exist.
  bool Open(ResultSet result);

  // Orders the rows by a column (ascending or not), or by relevance with
  // kRelevanceField. Any other name leaves record-number order. Leaves no
  // current row.
  void SetSort(std::string_view field, bool ascending);

  void Move(int64_t row);
  void MoveFirst() { Move(0); }
  void MoveLast() { Move(static_cast<int64_t>(count()) - 1); }
  void MovePrev();
  void MoveNext();
  // Pages count from 1; 0 means the first, beyond the last means the last.
  void MovePage(uint32_t page);
  void SetPageSize(uint32_t size);

  bool IsEOF() const { return cursor_ < 0 || static_cast<uint64_t>(cursor_) >= count(); }
  bool IsBOF() const { return cursor_ == 0; }
  int64_t cursor() const { return cursor_; }

  uint32_t count() const { return static_cast<uint32_t>(result_.records.size()); }
  uint32_t page_size() const { return page_size_; }
  uint32_t page_count() const { return page_count_; }
  uint32_t current_page() const { return current_page_; }
  uint32_t current_page_size() const { return current_page_size_; }

  // Record number of the current row; -1 without one.
  int64_t RecordNumber() const;
  // Weight of the current row when the rows are ordered by relevance and the
  // result has weights; -1 otherwise.
  int64_t Relevance() const;
  // The current row's value of column `column`; Empty without a current row.
  Variant Value(int column) const;
  // Deletes the current row's record from the table.
  bool DeleteCurrent();

  int FindColumn(std::string_view name) const;  // -1 when none; case-insensitive
  const std::vector<Column>& columns() const { return columns_; }
  std::vector<Column>& columns() { return columns_; }

  DataTable* table() const { return table_; }
  SearchProject* project() const { return project_; }
  const ResultSet& rows() const { return result_; }

  // The expression that produced the rows, and how long it took.
  std::string expression;
  double elapsed_seconds = 0;

 private:
  void SortUpTo(uint32_t row);
  // True when row a's key orders before row b's (see the .cpp for ties).
  bool KeyGreater(uint32_t a, uint32_t b) const;
  void SwapRows(uint32_t a, uint32_t b);
  // Whole-word ranking for descending relevance: builds the ranker from the
  // columns' keywords at the first sort; true when it applies.
  bool RankWholeWords();
  // The row from `from` on to place next under whole-word ranking.
  uint32_t BestRankedRow(uint32_t from);
  bool RowIsWhole(uint32_t row);

  SearchProject* project_;
  DataTable* table_ = nullptr;
  std::pmr::monotonic_buffer_resource arena_;
  ResultSet result_;
  std::vector<Column> columns_;
  int64_t cursor_ = kNoRow;
  uint32_t page_size_ = kDefaultPageSize;
  uint32_t page_count_ = 0;
  uint32_t current_page_ = 0;
  uint32_t current_page_size_ = 0;

  enum class SortBy { kNone, kField, kRelevance };
  SortBy sort_by_ = SortBy::kNone;
  std::string sort_field_ = kRelevanceField;
  bool ascending_ = false;
  int sort_type_ = 0;
  uint32_t sorted_rows_ = 0;
  std::vector<Variant> keys_;                // one per row when sorting by a field
  std::shared_ptr<WholeWordRanker> ranker_;  // built at the first relevance sort
  bool ranker_built_ = false;
  // Rows the ranker may read per recordset: a few pages' worth.
  static constexpr uint32_t kMaxWholeWordChecks = 40;
  uint32_t whole_checks_ = 0;
  enum : int8_t { kTierUnknown = -1, kTierPartial = 0, kTierWhole = 1 };
  std::vector<int8_t> tiers_;  // one per row while whole-word ranking applies
  struct CollatorHolder;
  std::shared_ptr<CollatorHolder> collator_;
};

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_RECORDSET_H_
