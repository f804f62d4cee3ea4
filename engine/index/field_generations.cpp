#include "engine/index/field_generations.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "automation/variant.h"
#include "engine/index/exact_index_format.h"
#include "engine/index/word_index_format.h"
#include "engine/storage/data_table.h"
#include "engine/storage/storage_files.h"
#include "platform/coding.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/kill_point.h"
#include "platform/paths.h"

namespace lun {
namespace {

// Size of a file, or -1 when it cannot be opened.
int64_t FileSize(FileSystem& fs, const std::string& path) {
  int fd = -1;
  if (fs.Open(path, O_RDONLY, 0, &fd) != 0) return -1;
  uint64_t size = 0;
  const int error = fs.Size(fd, &size);
  (void)fs.Close(fd);
  return error == 0 ? int64_t(size) : -1;
}

// The page size a postings file's header states; 0 when it cannot be read.
uint32_t StoredPageSize(FileSystem& fs, const std::string& path) {
  int fd = -1;
  if (fs.Open(path, O_RDONLY, 0, &fd) != 0) return 0;
  uint8_t header[4] = {};
  const int error = ReadFully(fs, fd, header, sizeof header, word_index::kHeaderPageSize);
  (void)fs.Close(fd);
  return error == 0 ? DecodeFixed32(header) : 0;
}

}  // namespace

std::u16string ValueText(const Variant& value) {
  if (value.is_string()) return std::u16string(value.AsString());
  std::u16string text;
  if (value.is_empty() || value.is_null() || ToText(value, &text) != S_OK) return {};
  return text;
}

FieldGenerations::FieldGenerations(const FieldIndexSpec& index_spec,
                                   std::shared_ptr<const CharFilter> filter)
    : fs_(index_spec.file_system ? *index_spec.file_system : DefaultFileSystem()),
      filter_(std::move(filter)),
      folder_(index_spec.index_folder),
      definition_(index_spec.definition_number),
      kind_(index_spec.index_kind),
      field_type_(index_spec.field_type) {}

std::unique_ptr<FieldGenerations> FieldGenerations::Open(const FieldIndexSpec& index_spec,
                                                         std::shared_ptr<const CharFilter> filter) {
  if (index_spec.index_kind != kWordIndex && index_spec.index_kind != kExactIndex) return nullptr;
  if (!filter) filter = std::make_shared<CharFilter>();
  std::unique_ptr<FieldGenerations> f(new FieldGenerations(index_spec, std::move(filter)));
  std::string error;
  if (!f->OpenStored(&error)) {
    // Damaged or unreadable: start again empty; the table's catch-up feeds
    // every record again, which rebuilds the index.
    AppendEngineErrorLog(error);
    f->word_.clear();
    f->grams_.clear();
    f->exact_.clear();
    f->DeleteFiles();
    f->was_reset_ = true;
  }
  if (f->word_.empty() && f->exact_.empty()) f->StartGeneration(0);
  if (f->kind_ == kWordIndex && f->grams_.empty()) {
    f->grams_.push_back(WordIndexSegment::CreateNew(f->fs_, *f->filter_, f->folder_, f->definition_,
                                                    0, 0, SegmentKeys::kLetterGrams));
  }
  return f;
}

bool FieldGenerations::OpenStored(std::string* error) {
  // Count the generations whose files exist and are not empty.
  int count = 0;
  for (;; ++count) {
    const int64_t ha = FileSize(fs_, IndexFilePath(folder_, definition_, "Ha", count));
    const int64_t ix = FileSize(fs_, IndexFilePath(folder_, definition_, "Ix", count));
    if (ha < 0 || ix < 0) break;
    if (kind_ == kExactIndex) {
      if (ix == 0) break;
    } else {
      const int64_t rl = FileSize(fs_, IndexFilePath(folder_, definition_, "RL", count));
      if (rl <= 0) break;
    }
  }
  uint32_t base = 0;
  for (int g = 0; g < count; ++g) {
    const uint32_t previous = base;
    if (kind_ == kWordIndex) {
      auto s = WordIndexSegment::OpenExisting(fs_, *filter_, folder_, definition_, g, base, error);
      if (!s) return false;
      base = s->record_counter();
      word_.push_back(std::move(s));
    } else {
      auto s = ExactIndexSegment::OpenExisting(fs_, folder_, definition_, g, base, error);
      if (!s) return false;
      base = s->record_counter();
      exact_.push_back(std::move(s));
    }
    // Only the last generation may be empty; an empty one in the middle
    // means files from different histories.
    if (g + 1 < count && base == previous) {
      *error = "索引文件损坏:" + IndexFilePath(folder_, definition_, "*", g);
      return false;
    }
  }
  std::string note;
  if (kind_ == kWordIndex && !OpenStoredGrams(&note)) {
    // The word index is whole: only the grams start again (caught up).
    AppendEngineErrorLog(note);
    grams_.clear();
    DeleteFiles(SegmentKeys::kLetterGrams);
  }
  return true;
}

bool FieldGenerations::OpenStoredGrams(std::string* note) {
  const auto path = [&](int file, int g) {
    return IndexFilePath(folder_, definition_,
                         WordIndexSegment::FileExtension(SegmentKeys::kLetterGrams, file), g);
  };
  size_t count = 0;
  while (FileSize(fs_, path(0, int(count))) >= 0 && FileSize(fs_, path(1, int(count))) >= 0 &&
         FileSize(fs_, path(2, int(count))) > 0) {
    ++count;
  }
  if (count > word_.size()) {
    *note = "索引文件损坏:" + path(0, int(count));
    return false;
  }
  for (size_t g = 0; g < count; ++g) {
    if (StoredPageSize(fs_, path(0, int(g))) == word_index::kPageSize) {
      // Grams written before they had pages of their own size: not damage.
      *note = "索引升级:" + path(0, int(g)) + " 按新的页大小重建";
      return false;
    }
    const WordIndexSegment& word = *word_[g];
    auto grams = WordIndexSegment::OpenExisting(fs_, *filter_, folder_, definition_, int(g),
                                                word.base(), note, SegmentKeys::kLetterGrams);
    if (!grams) return false;
    // The grams must number the same records at the same positions: their
    // boundaries are the start of the word generation's.
    const std::vector<uint32_t>& gb = grams->boundaries();
    const std::vector<uint32_t>& wb = word.boundaries();
    const bool complete = grams->records() == word.records();
    if (gb.size() > wb.size() || !std::equal(gb.begin(), gb.end(), wb.begin()) ||
        (g + 1 < count && !complete)) {
      *note = "索引文件损坏:" + path(0, int(g));
      return false;
    }
    grams_.push_back(std::move(grams));
  }
  return true;
}

void FieldGenerations::DeleteFiles() {
  DeleteFiles(SegmentKeys::kCharacters);
  DeleteFiles(SegmentKeys::kLetterGrams);
}

void FieldGenerations::DeleteFiles(SegmentKeys keys) {
  for (int g = 0;; ++g) {
    bool any = false;
    for (int file = 0; file < 3; ++file) {
      const char* ext = WordIndexSegment::FileExtension(keys, file);
      if (fs_.Unlink(IndexFilePath(folder_, definition_, ext, g)) == 0) any = true;
    }
    if (!any) break;
  }
}

void FieldGenerations::StartGeneration(uint32_t base) {
  if (kind_ == kWordIndex) {
    word_.push_back(
        WordIndexSegment::CreateNew(fs_, *filter_, folder_, definition_, int(word_.size()), base));
  } else {
    exact_.push_back(
        ExactIndexSegment::CreateNew(fs_, folder_, definition_, int(exact_.size()), base));
  }
}

bool FieldGenerations::damaged() const {
  for (const auto& g : word_) {
    if (g->damaged()) return true;
  }
  for (const auto& g : exact_) {
    if (g->damaged()) return true;
  }
  // Damaged grams are rebuilt with the rest of the field's index: rare, and
  // one rebuild path serves both.
  for (const auto& g : grams_) {
    if (g->damaged()) return true;
  }
  return false;
}

uint32_t FieldGenerations::RecordCount() const {
  if (kind_ != kWordIndex) return exact_.back()->record_counter();
  // Without grams (a check that opened the files as stored, when they were
  // missing) the word index alone counts.
  const uint32_t words = word_.back()->record_counter();
  return grams_.empty() ? words : std::min(words, grams_.back()->record_counter());
}

const WordIndexSegment* FieldGenerations::GramsOf(size_t g) const {
  if (g >= grams_.size() || g >= word_.size() || grams_[g]->damaged()) return nullptr;
  return grams_[g]->record_counter() == word_[g]->record_counter() ? grams_[g].get() : nullptr;
}

void FieldGenerations::AddText(WordIndexSegment* segment, std::u16string_view text) {
  // A value longer than a whole generation's position space (4 G code
  // units) is indexed as far as it fits; the record still counts.
  if (!segment->HasRoomFor(text.size())) {
    text = text.substr(0, 0xFFFFFFF0u - segment->position_counter());
  }
  segment->AddText(text);
}

void FieldGenerations::AddGramRecord(uint32_t record_number, std::u16string_view text) {
  const size_t g = grams_.size() - 1;
  if (record_number >= word_[g]->record_counter()) {
    // The record lies in the next word generation: so do its grams.
    grams_.push_back(WordIndexSegment::CreateNew(fs_, *filter_, folder_, definition_, int(g + 1),
                                                 word_[g + 1]->base(), SegmentKeys::kLetterGrams));
  }
  AddText(grams_.back().get(), text);
}

bool FieldGenerations::AddRecord(uint32_t record_number, const Variant& value) {
  if (record_number != RecordCount()) return false;  // records must come in order
  const std::u16string text = ValueText(value);
  if (kind_ == kWordIndex) {
    WordIndexSegment* last = word_.back().get();
    if (record_number == last->record_counter()) {
      if (last->records() > kGenerationRecordLimit ||
          (!last->HasRoomFor(text.size()) && last->records() > 0)) {
        // Roll over: the old generation is written finally by the next Flush.
        LUN_KILL_POINT("index.roll");
        StartGeneration(last->record_counter());
        last = word_.back().get();
      }
      AddText(last, text);
    }
    // RecordCount() is the lower count, so the grams always lack it.
    AddGramRecord(record_number, text);
  } else {
    ExactIndexSegment* last = exact_.back().get();
    if (last->records() > kGenerationRecordLimit) {
      LUN_KILL_POINT("index.roll");
      StartGeneration(last->record_counter());
      last = exact_.back().get();
    }
    last->AddValue(text);
  }
  return true;
}

bool FieldGenerations::WantsFlush() const {
  auto wants = [](const auto& generations, uint32_t every) {
    for (size_t g = 0; g < generations.size(); ++g) {
      const uint32_t unflushed = generations[g]->unflushed_records();
      if (g + 1 < generations.size() ? unflushed > 0 : unflushed >= every) return true;
    }
    return false;
  };
  return kind_ == kWordIndex ? wants(word_, word_index::kFlushEveryRecords) ||
                                   wants(grams_, word_index::kFlushEveryRecords)
                             : wants(exact_, exact_index::kFlushEveryRecords);
}

bool FieldGenerations::Flush() {
  bool ok = true;
  for (auto& g : word_) ok = g->Flush() && ok;
  for (auto& g : grams_) ok = g->Flush() && ok;
  for (auto& g : exact_) ok = g->Flush() && ok;
  return ok;
}

void FieldGenerations::Check(std::vector<std::string>* problems) const {
  for (const auto& g : word_) g->Check(problems);
  for (const auto& g : grams_) g->Check(problems);
  for (const auto& g : exact_) g->Check(problems);
}

namespace {

// The record boundaries of a word index against the records: each indexed
// record spans as many positions as its stored text has code units. Damage
// that keeps the boundary list decodable shows only here.
void CheckBoundaries(const DataTable& table, const TableField& field, const FieldGenerations& index,
                     std::vector<std::string>* problems) {
  for (const auto& g : index.word_generations()) {
    const std::vector<uint32_t>& b = g->boundaries();
    for (size_t i = 1; i < b.size(); ++i) {
      const uint32_t record = g->base() + uint32_t(i) - 1;
      if (record >= table.record_count()) return;  // reported as an index ahead
      const uint64_t length = ValueText(table.GetFieldValue(record, field.position)).size();
      if (uint64_t{b[i]} - b[i - 1] - 1 != length && length < 0xFFFFFFF0u) {
        problems->push_back(table.name() + "/" + field.name + ": record " + std::to_string(record) +
                            " spans other positions than its text in the index");
        return;
      }
    }
  }
}

}  // namespace

void CheckTableIndexes(const DataTable& table, std::vector<std::string>* problems,
                       std::vector<std::string>* notes) {
  if (PathExists(table.IndexMarkerPath())) return;
  FileSystem& fs = DefaultFileSystem();
  for (int i = 0; i < table.field_count(); ++i) {
    const TableField* field = table.FieldAt(i);
    if (field->index_kind != kWordIndex && field->index_kind != kExactIndex) continue;
    FieldIndexSpec stored;
    stored.index_folder = table.index_folder();
    stored.table_name = table.name();
    stored.definition_number = field->definition_number;
    stored.index_kind = field->index_kind;
    stored.field_type = field->type;
    stored.table_record_count = table.record_count();
    stored.file_system = &fs;
    // Opened as stored, without the reset that the table's open would do.
    // Checking reads no separators: the standard filter serves.
    std::unique_ptr<FieldGenerations> index(
        new FieldGenerations(stored, std::make_shared<CharFilter>()));
    std::string error;
    if (!index->OpenStored(&error)) {
      problems->push_back(table.name() + "/" + field->name + ": " + error);
      continue;
    }
    if (index->word_.empty() && index->exact_.empty()) index->StartGeneration(0);
    index->Check(problems);
    if (index->index_kind() == kWordIndex) CheckBoundaries(table, *field, *index, problems);
    if (index->RecordCount() != table.record_count()) {
      // Behind is what a crash after the last index write leaves (the open
      // catches it up); ahead cannot come from a crash, since records are
      // synced before the index that refers to them.
      const bool behind = index->RecordCount() < table.record_count();
      std::vector<std::string>* list = behind ? notes : problems;
      if (list) {
        list->push_back(table.name() + "/" + field->name + ": index holds " +
                        std::to_string(index->RecordCount()) + " records, the table " +
                        std::to_string(table.record_count()) +
                        (behind ? " (caught up at the next open)" : ""));
      }
    }
  }
}

std::shared_ptr<const CharFilter> ProjectCharFilter(FileSystem& fs,
                                                    const std::string& project_folder) {
  static std::mutex mutex;
  static std::map<std::string, std::weak_ptr<const CharFilter>> filters;
  std::lock_guard<std::mutex> lock(mutex);
  std::weak_ptr<const CharFilter>& slot = filters[project_folder];
  if (auto existing = slot.lock()) return existing;
  std::shared_ptr<const CharFilter> filter = CharFilter::ForProject(fs, project_folder);
  slot = filter;
  return filter;
}

FieldIndexFactory MakeFieldIndexFactory() {
  return [](const FieldIndexSpec& index_spec) -> std::unique_ptr<FieldIndex> {
    FileSystem& fs = index_spec.file_system ? *index_spec.file_system : DefaultFileSystem();
    return FieldGenerations::Open(index_spec, ProjectCharFilter(fs, index_spec.project_folder));
  };
}

}  // namespace lun
