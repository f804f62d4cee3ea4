// FieldGenerations: the index of one field with all its generations, the
// engine/index implementation of storage's FieldIndex.
//
// A word index (kind 0) or an exact-value index (kind 7) is split into
// generations of at most 100,001 records: when the last one holds more than
// 100,000 records the next record starts a new generation whose base is the
// old one's record counter. Only the last generation grows.
//
// Opening finds the stored generations ("D<n>.Ha<g>", ".Ix<g>", ".RL<g>"
// for g = 0, 1, ... while they exist and are not empty). Every stored
// length, page and count a generation's files hold is checked against the
// files' sizes and the format's limits before anything is read by it. When a
// generation cannot be opened or is damaged, the message is logged, every
// index file of the field is deleted and the index starts empty:
// RecordCount() is then 0 and the table feeds it every record again
// (catch-up), which rebuilds it. Damage that only a read of a list finds
// marks the generation damaged (damaged()): look-ups stop trusting it and
// the table rebuilds the index (field_index.h).
//
// A word index keeps a gram index beside it (letter_grams.h): one gram
// generation per word generation, with the same base, records and
// positions. A project stored before the gram index existed, or whose gram
// files are missing or shorter, is caught up at open like any index behind
// its records: RecordCount() is the lower of the two, the table feeds the
// records from there, and each side takes only the records it lacks. Gram
// files that are damaged or disagree with the word index (other record
// boundaries) are treated like damage of the word index.
//
// Writing follows field_index.h: AddRecord takes records into memory only,
// Flush writes them (every generation that holds unwritten records, the
// full ones finally) and syncs. The files of a generation are created by
// its first flush.
//
// Thread safety: the table serialises AddRecord/Flush against readers with
// its lock; readers (the look-ups in field_lookup.h) may run together.
#ifndef LUN_ENGINE_INDEX_FIELD_GENERATIONS_H_
#define LUN_ENGINE_INDEX_FIELD_GENERATIONS_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/index/char_filter.h"
#include "engine/index/exact_index_segment.h"
#include "engine/index/word_index_segment.h"
#include "engine/storage/field_index.h"

namespace lun {

// A generation takes records until it holds more than this many.
inline constexpr uint32_t kGenerationRecordLimit = 100000;

class DataTable;

// The text an index takes for a stored value (GetFieldValue's variant):
// strings as they are, other values in their text form, Empty and Null as
// an empty text.
std::u16string ValueText(const Variant& value);

class FieldGenerations final : public FieldIndex {
 public:
  // Opens (or starts) the index of `index_spec`. `filter` is the project's
  // separator set, shared by every field of the project. Null only for an
  // index kind other than 0 and 7.
  static std::unique_ptr<FieldGenerations> Open(const FieldIndexSpec& index_spec,
                                                std::shared_ptr<const CharFilter> filter);

  ~FieldGenerations() override = default;
  FieldGenerations(const FieldGenerations&) = delete;
  FieldGenerations& operator=(const FieldGenerations&) = delete;

  bool AddRecord(uint32_t record_number, const Variant& value) override;
  bool WantsFlush() const override;
  bool Flush() override;
  uint32_t RecordCount() const override;
  bool damaged() const override;

  IndexKind index_kind() const { return kind_; }
  int field_type() const { return field_type_; }
  const CharFilter& filter() const { return *filter_; }
  // Generations in order; exactly one of the two lists is non-empty.
  const std::vector<std::unique_ptr<WordIndexSegment>>& word_generations() const { return word_; }
  const std::vector<std::unique_ptr<ExactIndexSegment>>& exact_generations() const {
    return exact_;
  }
  // The gram generation beside word generation `g` when it holds all that
  // generation's records and no read found it damaged (else null: look-ups
  // use the characters alone).
  const WordIndexSegment* GramsOf(size_t g) const;
  // True when opening found damage and the index restarted empty.
  bool was_reset() const { return was_reset_; }

  // Appends one line per problem found in the stored files.
  void Check(std::vector<std::string>* problems) const;

 private:
  friend void CheckTableIndexes(const DataTable& table, std::vector<std::string>* problems,
                                std::vector<std::string>* notes);

  FieldGenerations(const FieldIndexSpec& index_spec, std::shared_ptr<const CharFilter> filter);
  bool OpenStored(std::string* error);
  // Opens the gram generations beside the word index. False, with the line
  // to log in `*note`, when the grams must start again: damaged or foreign
  // files, or files of the older layout (4096-byte pages), which is an
  // upgrade and logged as one.
  bool OpenStoredGrams(std::string* note);
  void DeleteFiles();
  void DeleteFiles(SegmentKeys keys);
  void StartGeneration(uint32_t base);
  // Adds `text` as the next record of `segment`, cut to the generation's
  // position space.
  static void AddText(WordIndexSegment* segment, std::u16string_view text);
  // Takes record `record_number` into the gram index when it lacks it.
  void AddGramRecord(uint32_t record_number, std::u16string_view text);

  FileSystem& fs_;
  const std::shared_ptr<const CharFilter> filter_;
  const std::string folder_;
  const int definition_;
  const IndexKind kind_;
  const int field_type_;
  bool was_reset_ = false;
  std::vector<std::unique_ptr<WordIndexSegment>> word_;
  std::vector<std::unique_ptr<WordIndexSegment>> grams_;  // beside word_, never more
  std::vector<std::unique_ptr<ExactIndexSegment>> exact_;
};

// The factory tables use to create their indexes: one FieldGenerations per
// field of kind 0 or 7 (null for other kinds). Each project folder gets one
// CharFilter, loaded from its "Filter.Chr" the first time a field of that
// project opens, plus the standard separators. The factory may be copied;
// copies share the filters. Thread-safe.
FieldIndexFactory MakeFieldIndexFactory();

// Checks the index files of every indexed field of `table` (for `lundb
// check`) as they are on disk, changing nothing: each generation opens (its
// stored lengths fit its files), stored lists decode within their bounds and
// counts, run and record-list chains stay in their files and end, trie
// nodes lie inside the file with increasing bits, each record spans as many
// positions of a word index as its text has code units (this reads every
// record), and no index has taken
// more records than the table holds. The work is bounded by the sizes of
// the files whatever they hold. Appends one line per problem; none means
// clean. An index behind the table (what a crash after its last write
// leaves; the open catches it up) is a line in `notes` when given. The
// table should be open without indexes (a null factory), so that opening it
// did not already rebuild them; a table whose index-write marker is present
// is skipped (its indexes are rebuilt at the next open).
void CheckTableIndexes(const DataTable& table, std::vector<std::string>* problems,
                       std::vector<std::string>* notes = nullptr);

// The separator set of the project in `project_folder` as the factory's
// indexes use it (loaded on first use). For look-ups on fields without an
// index.
std::shared_ptr<const CharFilter> ProjectCharFilter(FileSystem& fs,
                                                    const std::string& project_folder);

}  // namespace lun

#endif  // LUN_ENGINE_INDEX_FIELD_GENERATIONS_H_
