#include "web/page_archive.h"

#include <unzip.h>

#include <algorithm>
#include <cstring>

#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

constexpr size_t kBlockSize = 8192;

// minizip reads through these callbacks when the archive is in memory.
struct MemoryArchive {
  std::string_view data;
  uint64_t position = 0;
};

voidpf MemoryOpen(voidpf opaque, const void* /*name*/, int mode) {
  if ((mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
  auto* archive = static_cast<MemoryArchive*>(opaque);
  archive->position = 0;
  return archive;
}

uLong MemoryRead(voidpf /*opaque*/, voidpf stream, void* buffer, uLong size) {
  auto* archive = static_cast<MemoryArchive*>(stream);
  if (archive->position >= archive->data.size()) return 0;
  const uint64_t left = archive->data.size() - archive->position;
  const uLong n = static_cast<uLong>(std::min<uint64_t>(left, size));
  std::memcpy(buffer, archive->data.data() + archive->position, n);
  archive->position += n;
  return n;
}

uLong MemoryWrite(voidpf, voidpf, const void*, uLong) { return 0; }

ZPOS64_T MemoryTell(voidpf /*opaque*/, voidpf stream) {
  return static_cast<MemoryArchive*>(stream)->position;
}

long MemorySeek(voidpf /*opaque*/, voidpf stream, ZPOS64_T offset, int origin) {
  auto* archive = static_cast<MemoryArchive*>(stream);
  uint64_t base = 0;
  switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: base = 0; break;
    case ZLIB_FILEFUNC_SEEK_CUR: base = archive->position; break;
    case ZLIB_FILEFUNC_SEEK_END: base = archive->data.size(); break;
    default: return -1;
  }
  if (offset > archive->data.size() || base > archive->data.size() - offset) return -1;
  archive->position = base + offset;
  return 0;
}

int MemoryClose(voidpf, voidpf) { return 0; }
int MemoryError(voidpf, voidpf) { return 0; }

UnpackReport Unpack(unzFile zip, UnpackSink& sink, const UnpackLimits& limits) {
  UnpackReport report;
  if (zip == nullptr) {
    report.error = "not a ZIP archive";
    return report;
  }
  report.opened = true;
  std::vector<char> name(65536 + 1);
  std::vector<char> block(kBlockSize);
  uint64_t entries = 0;
  uint64_t total = 0;
  int status = unzGoToFirstFile(zip);
  while (status == UNZ_OK) {
    if (++entries > limits.max_entries) {
      report.error = "too many entries";
      break;
    }
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip, &info, name.data(), name.size() - 1, nullptr, 0, nullptr,
                                0) != UNZ_OK) {
      report.error = "unreadable entry header";
      break;
    }
    const std::string entry_name(name.data(), std::min<size_t>(info.size_filename, name.size() - 1));
    const std::optional<std::string> relative = SafeEntryPath(entry_name);
    if (!relative) {
      report.refused.push_back(entry_name);
    } else if (relative->back() == '/') {
      if (!sink.MakeDirectory(relative->substr(0, relative->size() - 1))) {
        report.error = "cannot create " + *relative;
        break;
      }
      ++report.directories;
    } else {
      if (unzOpenCurrentFile(zip) != UNZ_OK) {
        report.error = "cannot open entry " + entry_name;
        break;
      }
      if (!sink.BeginFile(*relative)) {
        unzCloseCurrentFile(zip);
        report.error = "cannot create " + *relative;
        break;
      }
      bool ok = true;
      for (;;) {
        const int n = unzReadCurrentFile(zip, block.data(), static_cast<unsigned>(block.size()));
        if (n == 0) break;
        if (n < 0) {
          report.error = "damaged data in " + entry_name;
          ok = false;
          break;
        }
        total += static_cast<uint64_t>(n);
        if (total > limits.max_total_bytes) {
          report.error = "archive unpacks to more than the limit";
          ok = false;
          break;
        }
        if (!sink.Write(std::string_view(block.data(), static_cast<size_t>(n)))) {
          report.error = "cannot write " + *relative;
          ok = false;
          break;
        }
      }
      // A CRC mismatch is reported when the entry is closed.
      const int closed = unzCloseCurrentFile(zip);
      if (!sink.EndFile() && ok) {
        report.error = "cannot write " + *relative;
        ok = false;
      }
      if (ok && closed != UNZ_OK) {
        report.error = "damaged data in " + entry_name;
        ok = false;
      }
      if (!ok) break;
      ++report.files;
    }
    status = unzGoToNextFile(zip);
  }
  if (report.error.empty()) {
    if (status == UNZ_END_OF_LIST_OF_FILE) {
      report.completed = true;
    } else {
      report.error = "damaged central directory";
    }
  }
  unzClose(zip);
  return report;
}

}  // namespace

std::optional<std::string> SafeEntryPath(std::string_view entry_name) {
  if (entry_name.empty() || entry_name.find('\0') != std::string_view::npos) return std::nullopt;
  std::string name(entry_name);
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.front() == '/') return std::nullopt;  // absolute
  const bool directory = name.back() == '/';
  std::string out;
  size_t pos = 0;
  while (pos < name.size()) {
    size_t end = name.find('/', pos);
    if (end == std::string::npos) end = name.size();
    const std::string_view component(name.data() + pos, end - pos);
    pos = end + 1;
    if (component.empty() || component == ".") continue;
    if (component == "..") return std::nullopt;
    // "C:" and the like: a drive, or a stream name on the system the archives
    // were first made for.
    if (component.find(':') != std::string_view::npos) return std::nullopt;
    if (!out.empty()) out.push_back('/');
    out.append(component);
  }
  if (out.empty()) return std::nullopt;
  if (directory) out.push_back('/');
  return out;
}

DirectorySink::DirectorySink(std::string target_directory) : target_(std::move(target_directory)) {}

DirectorySink::~DirectorySink() {
  if (fd_ >= 0) (void)DefaultFileSystem().Close(fd_);
}

bool DirectorySink::MakeDirectory(const std::string& relative) {
  return MakeDirectories(JoinPath(target_, relative));
}

bool DirectorySink::BeginFile(const std::string& relative) {
  const std::string path = JoinPath(target_, relative);
  if (!MakeDirectories(DirName(path))) return false;
  if (fd_ >= 0) (void)DefaultFileSystem().Close(fd_);
  fd_ = -1;
  offset_ = 0;
  return DefaultFileSystem().Open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW, 0644, &fd_) ==
         0;
}

bool DirectorySink::Write(std::string_view bytes) {
  if (fd_ < 0) return false;
  if (WriteFully(DefaultFileSystem(), fd_, bytes.data(), bytes.size(), offset_) != 0) return false;
  offset_ += bytes.size();
  return true;
}

bool DirectorySink::EndFile() {
  if (fd_ < 0) return false;
  const int fd = fd_;
  fd_ = -1;
  return DefaultFileSystem().Close(fd) == 0;
}

UnpackReport UnpackArchiveFile(const std::string& archive_path, UnpackSink& sink,
                               const UnpackLimits& limits) {
  return Unpack(unzOpen64(archive_path.c_str()), sink, limits);
}

UnpackReport UnpackArchiveMemory(std::string_view archive, UnpackSink& sink,
                                 const UnpackLimits& limits) {
  MemoryArchive memory{archive, 0};
  zlib_filefunc64_def functions{};
  functions.zopen64_file = MemoryOpen;
  functions.zread_file = MemoryRead;
  functions.zwrite_file = MemoryWrite;
  functions.ztell64_file = MemoryTell;
  functions.zseek64_file = MemorySeek;
  functions.zclose_file = MemoryClose;
  functions.zerror_file = MemoryError;
  functions.opaque = &memory;
  return Unpack(unzOpen2_64("memory", &functions), sink, limits);
}

}  // namespace lun
