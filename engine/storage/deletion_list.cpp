#include "engine/storage/deletion_list.h"

#include <algorithm>
#include <cerrno>

#include "engine/storage/allocation.h"
#include "engine/storage/deletion_format.h"
#include "platform/coding.h"
#include "platform/error_log.h"
#include "platform/kill_point.h"

namespace lun {

namespace df = deletion_format;

EngineStatus DeletionList::Load(const std::string& path, uint32_t record_count) {
  Close();
  path_ = path;
  std::string data;
  const int rc = ReadWholeFile(fs_, path_, &data);
  if (rc == ENOENT) return EngineStatus::Ok();
  if (rc != 0) AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, path_, rc));
  const size_t count = data.size() / df::kEntrySize;
  bool out_of_range = false;
  if (!ReserveWithRetry(deleted_, count + 1000)) return EngineStatus::Fail(msg::kOutOfMemory);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t n = DecodeFixed32(data.data() + i * df::kEntrySize);
    if (n < record_count) {
      deleted_.push_back(n);
    } else {
      out_of_range = true;
    }
  }
  std::sort(deleted_.begin(), deleted_.end());
  deleted_.erase(std::unique(deleted_.begin(), deleted_.end()), deleted_.end());
  file_size_ = count * df::kEntrySize;
  if (out_of_range) {
    (void)Rewrite();
  } else if (data.size() % df::kEntrySize != 0) {
    ScopedFd file;
    if (file.Open(fs_, path_, O_RDWR, 0) == 0) (void)fs_.Truncate(file.get(), file_size_);
  }
  return EngineStatus::Ok();
}

void DeletionList::Close() {
  file_.Close();
  deleted_.clear();
  file_size_ = 0;
}

bool DeletionList::Write(uint32_t record) {
  if (!file_.is_open()) {
    if (const int rc = file_.Open(fs_, path_, O_RDWR | O_CREAT, 0644)) {
      AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, path_, rc));
      return false;
    }
    uint64_t size = 0;
    if (fs_.Size(file_.get(), &size) == 0) file_size_ = size - size % df::kEntrySize;
  }
  char entry[df::kEntrySize];
  EncodeFixed32(entry, record);
  if (const int rc = WriteFully(fs_, file_.get(), entry, sizeof(entry), file_size_)) {
    (void)fs_.Truncate(file_.get(), file_size_);
    AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, path_, rc));
    return false;
  }
  file_size_ += sizeof(entry);
  return true;
}

DeletionList::Outcome DeletionList::Delete(uint32_t record) {
  const auto at = std::lower_bound(deleted_.begin(), deleted_.end(), record);
  if (at != deleted_.end() && *at == record) return Outcome::kAlreadyDeleted;
  if (deleted_.size() == deleted_.capacity() &&
      !ReserveWithRetry(deleted_, deleted_.size() + 1000)) {
    return Outcome::kRefused;
  }
  if (!Write(record)) return Outcome::kRefused;
  deleted_.insert(std::lower_bound(deleted_.begin(), deleted_.end(), record), record);
  return Outcome::kDeleted;
}

bool DeletionList::Contains(uint32_t record) const {
  return std::binary_search(deleted_.begin(), deleted_.end(), record);
}

bool DeletionList::RemoveRange(uint32_t first, uint32_t count) {
  std::vector<uint32_t> renumbered;
  for (uint32_t n : deleted_) {
    if (n < first) {
      renumbered.push_back(n);
    } else if (n >= first + count) {
      renumbered.push_back(n - count);
    }
  }
  const bool changed = renumbered != deleted_;
  deleted_ = std::move(renumbered);
  return changed;
}

void DeletionList::ForgetFrom(uint32_t record_count) {
  deleted_.erase(std::lower_bound(deleted_.begin(), deleted_.end(), record_count), deleted_.end());
}

bool DeletionList::Rewrite() {
  std::string data;
  for (uint32_t n : deleted_) PutFixed32(&data, n);
  file_.Close();
  LUN_KILL_POINT("deletion-rewrite-start");
  if (const int rc = ReplaceFileAtomically(fs_, path_, data)) {
    AppendEngineErrorLog(IoMessage(msg::kCannotOpenFile, path_, rc));
    return false;
  }
  LUN_KILL_POINT("deletion-rewrite-done");
  file_size_ = data.size();
  return true;
}

int DeletionList::Clear() {
  file_.Close();
  deleted_.clear();
  file_size_ = 0;
  const int rc = fs_.Unlink(path_);
  return rc == ENOENT ? 0 : rc;
}

int DeletionList::Sync() { return file_.is_open() ? fs_.Sync(file_.get()) : 0; }

}  // namespace lun
