#include "crawler/extract/zip_archive.h"

#include <minizip/unzip.h>

#include <algorithm>
#include <cstring>

namespace lun {

namespace {

// minizip reads through these callbacks, so the archive never touches disk.
struct MemoryView {
  const char* data;
  uint64_t size;
  uint64_t pos;
};

voidpf OpenMemory(voidpf opaque, const void*, int) { return opaque; }
uLong WriteMemory(voidpf, voidpf, const void*, uLong) { return 0; }
int CloseMemory(voidpf, voidpf) { return 0; }
int ErrorMemory(voidpf, voidpf) { return 0; }

uLong ReadMemory(voidpf, voidpf stream, void* buf, uLong size) {
  auto* s = static_cast<MemoryView*>(stream);
  const uint64_t left = s->pos < s->size ? s->size - s->pos : 0;
  const uLong n = static_cast<uLong>(std::min<uint64_t>(left, size));
  if (n > 0) std::memcpy(buf, s->data + s->pos, n);
  s->pos += n;
  return n;
}

ZPOS64_T TellMemory(voidpf, voidpf stream) { return static_cast<MemoryView*>(stream)->pos; }

long SeekMemory(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
  auto* s = static_cast<MemoryView*>(stream);
  uint64_t base;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = s->pos; break;
    case ZLIB_FILEFUNC_SEEK_END: base = s->size; break;
    default: return -1;
  }
  if (offset > s->size || base > s->size - offset) return -1;
  s->pos = base + offset;
  return 0;
}

}  // namespace

struct ZipArchive::Stream {
  MemoryView view;
};

std::unique_ptr<ZipArchive> ZipArchive::Open(std::string_view bytes) {
  std::unique_ptr<ZipArchive> archive(new ZipArchive());
  archive->stream_ = std::make_unique<Stream>();
  MemoryView* view = &archive->stream_->view;
  view->data = bytes.data();
  view->size = bytes.size();
  view->pos = 0;
  zlib_filefunc64_def funcs{};
  funcs.zopen64_file = &OpenMemory;
  funcs.zread_file = &ReadMemory;
  funcs.zwrite_file = &WriteMemory;
  funcs.ztell64_file = &TellMemory;
  funcs.zseek64_file = &SeekMemory;
  funcs.zclose_file = &CloseMemory;
  funcs.zerror_file = &ErrorMemory;
  funcs.opaque = view;
  unzFile zip = unzOpen2_64("memory", &funcs);
  if (!zip) return nullptr;
  archive->zip_ = zip;
  int rc = unzGoToFirstFile(zip);
  while (rc == UNZ_OK) {
    if (archive->names_.size() >= kZipMaxEntries) return nullptr;
    char name[1024];
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) !=
        UNZ_OK) {
      return nullptr;
    }
    unz64_file_pos pos;
    if (unzGetFilePos64(zip, &pos) != UNZ_OK) return nullptr;
    name[sizeof name - 1] = '\0';
    archive->names_.emplace_back(name);
    archive->positions_[0].push_back(pos.pos_in_zip_directory);
    archive->positions_[1].push_back(pos.num_of_file);
    rc = unzGoToNextFile(zip);
  }
  if (rc != UNZ_END_OF_LIST_OF_FILE) return nullptr;
  return archive;
}

ZipArchive::~ZipArchive() {
  if (zip_) unzClose(static_cast<unzFile>(zip_));
}

bool ZipArchive::Has(std::string_view name) const {
  return std::find(names_.begin(), names_.end(), name) != names_.end();
}

ZipRead ZipArchive::Read(std::string_view name, size_t max_bytes, std::string* out) {
  out->clear();
  const auto it = std::find(names_.begin(), names_.end(), name);
  if (it == names_.end()) return ZipRead::kMissing;
  const size_t index = static_cast<size_t>(it - names_.begin());
  unzFile zip = static_cast<unzFile>(zip_);
  unz64_file_pos pos{positions_[0][index], positions_[1][index]};
  if (unzGoToFilePos64(zip, &pos) != UNZ_OK) return ZipRead::kDamaged;
  if (unzOpenCurrentFile(zip) != UNZ_OK) return ZipRead::kDamaged;
  const uint64_t budget_left = spent_ < kZipTotalBudget ? kZipTotalBudget - spent_ : 0;
  const uint64_t limit = std::min<uint64_t>(max_bytes, budget_left);
  ZipRead result = ZipRead::kOk;
  char buf[65536];
  for (;;) {
    const int n = unzReadCurrentFile(zip, buf, sizeof buf);
    if (n < 0) {
      result = ZipRead::kDamaged;
      break;
    }
    if (n == 0) break;
    spent_ += static_cast<uint64_t>(n);
    if (out->size() + static_cast<size_t>(n) > limit) {
      result = ZipRead::kTooLarge;
      break;
    }
    out->append(buf, static_cast<size_t>(n));
  }
  // unzCloseCurrentFile checks the CRC once the whole entry was read.
  const int close_rc = unzCloseCurrentFile(zip);
  if (result == ZipRead::kOk && close_rc != UNZ_OK) result = ZipRead::kDamaged;
  if (result == ZipRead::kTooLarge) out->clear();
  return result;
}

}  // namespace lun
