#include "platform/error_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/paths.h"

namespace lun {
namespace {

constexpr char kUnknownError[] = "未知错误";

int OpenLog(const char* name) {
  const std::string path = JoinPath(ApplicationHome(), name);
  return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
}

void WriteLine(int fd, const std::string& line) {
  // One write call per line: with O_APPEND the kernel places it whole at the
  // end of the file. A short write on a full disk loses the tail only.
  (void)!::write(fd, line.data(), line.size());
}

}  // namespace

std::string ErrorText(int code) {
  char buf[256];
  // The GNU strerror_r returns a pointer that may or may not be `buf`.
  const char* text = strerror_r(code, buf, sizeof(buf));
  if (!text || !*text || std::strncmp(text, "Unknown error", 13) == 0) return kUnknownError;
  return text;
}

std::string LocalTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof(buf), "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

void AppendEngineErrorLog(std::string_view text) {
  const int fd = OpenLog(kEngineErrorLogName);
  if (fd < 0) return;
  WriteLine(fd, LocalTimeStamp() + "\t" + std::string(text) + "\r\n");
  ::close(fd);
}

void AppendCrashLog(std::string_view text) {
  const int fd = OpenLog(kCrashLogName);
  if (fd < 0) return;
  const std::string line = LocalTimeStamp() + std::string(text) + "\r\n";
  // Lock from the current end over the line's length; the lock excludes
  // another process appending in the same moment (O_APPEND alone already
  // keeps one write whole, the lock keeps the end-of-file position stable).
  struct flock lock{};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_END;
  lock.l_start = 0;
  lock.l_len = static_cast<off_t>(line.size());
  const bool locked = ::fcntl(fd, F_SETLKW, &lock) == 0;
  WriteLine(fd, line);
  if (locked) {
    // The line now lies before the end: unlock the whole file of this
    // process's locks.
    struct flock unlock{};
    unlock.l_type = F_UNLCK;
    unlock.l_whence = SEEK_SET;
    unlock.l_start = 0;
    unlock.l_len = 0;
    ::fcntl(fd, F_SETLK, &unlock);
  }
  ::close(fd);
}

}  // namespace lun
