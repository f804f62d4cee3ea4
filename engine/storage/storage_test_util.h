// Test helpers of the storage tests: a scratch project with its own settings
// store, and a small FieldIndex that records what it is fed and keeps its
// record count in one file, so that recovery at open can be observed.
// Test code only.
#ifndef LUN_ENGINE_STORAGE_STORAGE_TEST_UTIL_H_
#define LUN_ENGINE_STORAGE_STORAGE_TEST_UTIL_H_

#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "automation/variant.h"
#include "config/settings_store.h"
#include "engine/storage/field_index.h"
#include "engine/storage/search_project.h"
#include "platform/error_log.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"

namespace lun {

// Whole-file helpers of the tests (an unreadable file reads as empty).
inline std::string ReadTestFile(const std::string& path) {
  std::string data;
  (void)ReadWholeFile(DefaultFileSystem(), path, &data);
  return data;
}
inline void WriteTestFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Everything the fake indexes of one project were told, by definition number.
struct IndexJournal {
  std::mutex mutex;
  std::map<int, std::vector<std::pair<uint32_t, Variant>>> added;
  std::map<int, int> flushes;
  std::map<int, int> created;
  int flush_every = 2000;
  bool fail_flush = false;
};

// Keeps its count in "D{n}.Ha0" ("Fake" + count), written only by Flush.
class RecordingIndex final : public FieldIndex {
 public:
  RecordingIndex(const FieldIndexSpec& index_spec, IndexJournal* journal)
      : index_spec_(index_spec), journal_(journal), path_(JoinPath(index_spec.index_folder, "D" + std::to_string(index_spec.definition_number) + ".Ha0")) {
    std::string text;
    if (ReadWholeFile(*index_spec.file_system, path_, &text) == 0 && text.rfind("Fake", 0) == 0) {
      count_ = static_cast<uint32_t>(std::stoul(text.substr(4)));
    } else {
      (void)ReplaceFileAtomically(*index_spec.file_system, path_, "Fake0");
    }
    std::lock_guard<std::mutex> lock(journal_->mutex);
    ++journal_->created[index_spec.definition_number];
  }
  bool AddRecord(uint32_t record_number, const Variant& value) override {
    if (record_number != count_) return false;
    ++count_;
    ++pending_;
    std::lock_guard<std::mutex> lock(journal_->mutex);
    journal_->added[index_spec_.definition_number].emplace_back(record_number, value);
    return true;
  }
  bool WantsFlush() const override { return pending_ >= journal_->flush_every; }
  bool Flush() override {
    if (journal_->fail_flush) return false;
    pending_ = 0;
    {
      std::lock_guard<std::mutex> lock(journal_->mutex);
      ++journal_->flushes[index_spec_.definition_number];
    }
    return ReplaceFileAtomically(*index_spec_.file_system, path_, "Fake" + std::to_string(count_)) == 0;
  }
  uint32_t RecordCount() const override { return count_; }

 private:
  FieldIndexSpec index_spec_;
  IndexJournal* journal_;
  std::string path_;
  uint32_t count_ = 0;
  int pending_ = 0;
};

inline FieldIndexFactory RecordingFactory(IndexJournal* journal) {
  return [journal](const FieldIndexSpec& index_spec) -> std::unique_ptr<FieldIndex> {
    return std::make_unique<RecordingIndex>(index_spec, journal);
  };
}

// A scratch application home with a settings file and a project in Data/.
class ScratchProject {
 public:
  explicit ScratchProject(FileSystem* fs = nullptr) : fs_(fs) {
    SetApplicationHome(home_.path());
    (void)settings_.Load(home_.File("Setting"));
  }
  std::string project_path() const { return home_.File("Data/local.db"); }
  std::unique_ptr<SearchProject> Make(FieldIndexFactory factory = nullptr, uint32_t segment_limit = 1'000'000) {
    SearchProjectOptions o;
    o.file_system = fs_;
    o.settings = &settings_;
    o.index_factory = std::move(factory);
    o.segment_record_limit = segment_limit;
    return std::make_unique<SearchProject>(std::move(o));
  }
  std::string ErrorLog() const {
    std::string text;
    (void)ReadWholeFile(DefaultFileSystem(), home_.File(kEngineErrorLogName), &text);
    return text;
  }
  const ScratchDir& home() const { return home_; }
  SettingsStore& settings() { return settings_; }

 private:
  ScratchDir home_;
  FileSystem* fs_;
  SettingsStore settings_;
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_STORAGE_TEST_UTIL_H_
