// A time-stamped log file of the web server ("UMServer.log").
//
// Each line is one of two forms (local time, English day and month names):
//   "Thu, 10 Dec 2026 03:32:17 - <message>.\t[<context>]\t[<code>]\n"
//   "Thu, 10 Dec 2026 03:32:17 - <message>.\t[<code>]\n"   (no context)
// The file lives in a log directory: the one given to the constructor, or the
// application home (platform/paths.h) when that is empty. It is opened for
// appending only while a line is written. Thread-safe: lines are written
// under one lock and never interleave.
#ifndef LUN_WEB_FILE_LOGGER_H_
#define LUN_WEB_FILE_LOGGER_H_

#include <ctime>
#include <mutex>
#include <string>
#include <string_view>

namespace lun {

inline constexpr char kServerLogName[] = "UMServer.log";

class FileLogger {
 public:
  explicit FileLogger(std::string log_directory = {});
  virtual ~FileLogger() = default;
  FileLogger(const FileLogger&) = delete;
  FileLogger& operator=(const FileLogger&) = delete;

  // Appends one line to `file_name` in the log directory. An empty file name
  // or message writes nothing. Returns true when the whole line was written.
  // Lines are not cut to any length.
  bool Log(std::string_view file_name, std::string_view message, std::string_view context,
           int code);

  // The directory lines go to.
  std::string LogDirectory() const;

 private:
  const std::string log_directory_;
  std::mutex lock_;
};

// The time text of a log line: "%a, %d %b %Y %H:%M:%S" in local time with
// English names, whatever the process locale.
std::string LogTimeText(std::time_t when);

}  // namespace lun

#endif  // LUN_WEB_FILE_LOGGER_H_
