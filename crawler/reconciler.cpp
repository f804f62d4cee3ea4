#include "crawler/reconciler.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <unordered_map>
#include <unordered_set>

#include "crawler/document_table.h"
#include "crawler/extract/archive_members.h"
#include "crawler/extract/ocr_text.h"
#include "crawler/extract/pst_messages.h"
#include "crawler/extract/text_filters.h"
#include "crawler/scan_scope.h"
#include "platform/paths.h"

namespace lun {

void ReconcileRequest::Merge(const ReconcileRequest& other) {
  everything = everything || other.everything;
  prune = prune || other.prune;
  reread_pictures = reread_pictures || other.reread_pictures;
  if (everything) {
    trees.clear();
    return;
  }
  for (const std::string& tree : other.trees) {
    bool known = false;
    for (const std::string& t : trees) known = known || IsPathUnder(tree, t);
    if (!known) trees.push_back(tree);
  }
}

// The state of one pass: the records by path, what the walk saw.
struct Reconciler::Pass {
  std::unordered_map<std::string, StoredFile> records;
  std::unordered_set<std::string> seen;        // paths met by the walk
  std::unordered_set<std::string> queued_ids;  // identities of the files queued
  std::vector<std::string> walked;             // trees walked to their end
  uint64_t tree_files = 0;                     // admitted files of the tree in hand
  bool directories = false;                    // "|DIRECTORY|" is a document type
};

Reconciler::Reconciler(ScanScope& scope, DocumentWriter& writer, ReconcileHooks hooks)
    : scope_(scope), writer_(writer), hooks_(std::move(hooks)) {}

ReconcileStats Reconciler::stats() const { return {checked_, queued_, removed_}; }

std::map<std::string, RootSummary> Reconciler::roots() const {
  std::lock_guard lock(roots_mutex_);
  return roots_;
}

bool Reconciler::RecordInScope(const std::string& path, const std::string& type) const {
  if (!scope_.IsInPermittedRoot(path)) return false;
  if (type == "DIR") {
    return !scope_.IsDirectoryExcluded(path) &&
           ListContainsToken(scope_.TypeList(TypeListKind::kDocument), "|DIRECTORY|");
  }
  if (scope_.IsFileExcluded(path)) return false;
  // A record of a type no list names came from the unknown-type detector:
  // it stays as long as that detector is on.
  return scope_.IsTypeAdmitted(TypeTokenOf(path)) || (hooks_.detects_text && hooks_.detects_text());
}

bool Reconciler::RecognitionMayAdd(const StoredFile& f) const {
  // Recognition adds to what pictures had (JPEG photos their metadata)
  // and to PDFs whose pages were only pictures; a PDF with text keeps it.
  const std::string type = UpperAscii(f.type);
  if (IsOcrImageType(type)) return true;
  // A mail store's record lists its messages, not their attachments: any
  // message may carry a picture, so a store is read again whole (it is
  // quick), its message records marked with it.
  if (IsMailStoreType(UpperExtension(f.path.substr(0, f.path.find("::"))))) return true;
  const bool archive = HoldsMembers(type) && !IsArchiveMemberKey(f.path);
  // A mail store's record lists its messages, not their attachments: any
  // message may carry a picture, and a store is quick to read again.
  if (archive && IsMailStoreType(type)) return true;
  if (type != "PDF" && !archive) return false;
  StoredFile state;
  std::u16string text;
  if (!writer_.ReadFileState(f.record, &state, &text)) return false;
  if (!archive) return text.empty();
  // An archive that holds pictures or PDFs is read again with them (their
  // member records are marked too: written again, they take the new text).
  for (const std::string& key : ListedMemberKeys(f.path, text)) {
    const std::string member_type = UpperExtension(key);
    if (IsOcrImageType(member_type) || member_type == "PDF") return true;
  }
  return false;
}

bool Reconciler::Run(const ReconcileRequest& request, const std::atomic<bool>& stop) {
  checked_ = queued_ = removed_ = 0;
  if (request.reread_pictures)
    writer_.MarkChanged([this](const StoredFile& f) { return RecognitionMayAdd(f); });
  Pass pass;
  pass.directories = ListContainsToken(scope_.TypeList(TypeListKind::kDocument), "|DIRECTORY|");
  writer_.ForEachFileRecord([&pass](const StoredFile& f) { pass.records.emplace(f.path, f); });

  std::vector<std::string> trees = request.everything ? scope_.PermittedRoots() : request.trees;
  for (const std::string& tree : trees) {
    // Nested roots: a tree inside one walked already is not walked twice.
    bool inside = false;
    for (const std::string& done : pass.walked) inside = inside || IsPathUnder(tree, done);
    if (inside) continue;
    pass.tree_files = 0;
    if (!WalkTree(pass, tree, stop)) return false;
    pass.walked.push_back(tree);
    const std::vector<std::string> permitted = scope_.PermittedRoots();
    if (std::find(permitted.begin(), permitted.end(), tree) != permitted.end()) {
      std::lock_guard lock(roots_mutex_);
      roots_[tree] = {pass.tree_files, static_cast<int64_t>(time(nullptr))};
    }
  }

  const bool realtime_delete = hooks_.realtime_delete && hooks_.realtime_delete();
  for (const auto& [path, record] : pass.records) {
    if (stop) return false;
    bool remove = !RecordInScope(path, record.type);
    if (!remove && !pass.seen.count(path)) {
      bool walked = false;
      for (const std::string& tree : pass.walked) walked = walked || IsPathUnder(path, tree);
      struct stat st;
      // Gone from a walked tree (a path the walk did not meet but that
      // exists was created after the walk passed: the monitor has it).
      if (walked && lstat(path.c_str(), &st) != 0) {
        remove = realtime_delete ||
                 (!record.file_id.empty() && pass.queued_ids.count(record.file_id) > 0);
      }
    }
    if (remove) {
      writer_.RemoveRecord(record.record);
      ++removed_;
    }
  }
  if (hooks_.position) hooks_.position("已完成");
  return true;
}

bool Reconciler::WalkTree(Pass& pass, const std::string& directory, const std::atomic<bool>& stop) {
  if (scope_.IsDirectoryExcluded(directory)) return true;
  if (hooks_.position) hooks_.position("核对: " + directory);
  for (const std::string& path : ListDirectory(directory)) {
    if (hooks_.throttle) hooks_.throttle();
    if (stop) return false;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;
    if (S_ISDIR(st.st_mode)) {
      if (scope_.IsDirectoryExcluded(path)) continue;
      if (pass.directories) {
        ++checked_;
        pass.seen.insert(path);
        if (!pass.records.count(path) && hooks_.queue(path, true)) ++queued_;
      }
      if (!WalkTree(pass, path, stop)) return false;
      continue;
    }
    if (!S_ISREG(st.st_mode) || scope_.IsFileExcluded(path)) continue;
    const auto it = pass.records.find(path);
    const bool admitted = scope_.IsTypeAdmitted(TypeTokenOf(path)) || it != pass.records.end() ||
                          (hooks_.admit_unknown && hooks_.admit_unknown(path));
    if (!admitted) continue;
    ++checked_;
    ++pass.tree_files;
    pass.seen.insert(path);
    const std::string id = FileIdOf(st.st_dev, st.st_ino);
    const bool unchanged = it != pass.records.end() &&
                           it->second.size == static_cast<uint32_t>(st.st_size) &&
                           it->second.modified == FileTimeToDate(st.st_mtime) &&
                           (it->second.file_id.empty() || it->second.file_id == id);
    if (unchanged) continue;
    pass.queued_ids.insert(id);
    if (hooks_.queue(path, false)) ++queued_;
  }
  return true;
}

}  // namespace lun
