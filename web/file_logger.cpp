#include "web/file_logger.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "platform/file_system.h"
#include "platform/paths.h"
#include "web/text_util.h"

namespace lun {

std::string LogTimeText(std::time_t when) {
  std::tm tm{};
  localtime_r(&when, &tm);
  return DayDateTimeText(tm);
}

FileLogger::FileLogger(std::string log_directory) : log_directory_(std::move(log_directory)) {}

std::string FileLogger::LogDirectory() const {
  return log_directory_.empty() ? ApplicationHome() : log_directory_;
}

bool FileLogger::Log(std::string_view file_name, std::string_view message,
                     std::string_view context, int code) {
  std::lock_guard<std::mutex> hold(lock_);
  const std::time_t now = std::time(nullptr);
  if (file_name.empty() || message.empty()) return false;
  const std::string directory = LogDirectory();
  if (directory.empty()) return false;
  std::string line = LogTimeText(now);
  line.append(" - ").append(message).append(".\t");
  if (!context.empty()) line.append("[").append(context).append("]\t");
  line.append("[").append(std::to_string(code)).append("]\n");

  FileSystem& fs = DefaultFileSystem();
  int fd = -1;
  if (fs.Open(JoinPath(directory, file_name), O_WRONLY | O_CREAT | O_APPEND, 0600, &fd) != 0) {
    return false;
  }
  ScopedFd file(fs, fd);
  // O_APPEND: the offset is ignored and every write lands at the end.
  const bool written = WriteFully(fs, fd, line.data(), line.size(), 0) == 0;
  return file.Close() == 0 && written;
}

}  // namespace lun
