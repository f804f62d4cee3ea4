#include "crawler/extract/archive_member_file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "crawler/extract/archive_members.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace lun {
namespace {

// `path` as a directory that only we may use: made 0700 when missing;
// refused when it is a link, not a directory, another user's, or open to
// group or others.
bool EnsurePrivateDirectory(const std::string& path) {
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return st.st_uid == getuid() && (st.st_mode & 077) == 0;
}

// The member's file name: its last component, or "member" when that is no
// usable name.
std::string CopyName(const std::string& key) {
  const size_t at = key.rfind("::");
  const std::string name = BaseName(at == std::string::npos ? key : key.substr(at + 2));
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
    return "member";
  }
  return name;
}

}  // namespace

std::string PrivateOpenDirectory() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string base;
  if (runtime && runtime[0] == '/') {
    base = runtime;
  } else {
    // No runtime directory: one of our own in the temporary directory.
    base = JoinPath(TempDirectory(), "tamrix-lun-" + std::to_string(getuid()));
    if (!EnsurePrivateDirectory(base)) return {};
  }
  const std::string dir = JoinPath(base, "tamrix-lun");
  return EnsurePrivateDirectory(dir) ? dir : std::string();
}

int CopyArchiveMemberOut(const std::string& reader_program, const std::string& key,
                         std::string* file) {
  const size_t at = key.find("::");
  if (!IsArchiveMemberKey(key) || at == std::string::npos) return ENOENT;
  const CaptureResult run =
      RunAndCapture({reader_program, kArchiveMemberArgument, key.substr(0, at), key},
                    kArchiveMaxMemberBytes, kArchiveSilenceMs);
  if (run.error != 0) return run.error;
  if (run.timed_out || run.truncated || run.exit_code != 0) return ENOENT;
  const std::string dir = PrivateOpenDirectory();
  if (dir.empty()) return EPERM;
  // A directory of its own for each copy: two members of one name never
  // meet, and the name is the member's own.
  std::string own = JoinPath(dir, "open-XXXXXX");
  if (!mkdtemp(own.data())) return errno;
  const std::string path = JoinPath(own, CopyName(key));
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return errno;
  const bool written = WriteAllToFd(fd, run.output.data(), run.output.size());
  const int closed = close(fd);
  if (!written || closed != 0) {
    unlink(path.c_str());
    return EIO;
  }
  *file = path;
  return 0;
}

}  // namespace lun
