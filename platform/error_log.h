// The two error logs of the application and the text of system error codes.
//
// Both logs are plain UTF-8 text files in the application home (paths.h), one
// line per entry, ending in CR LF, time in local time "%Y-%m-%d %H:%M:%S":
//   "TamrixError.Log"  engine failures: time, a tab, the message;
//   "LUNError.Log"     crash and failure records: time immediately followed by
//                      the text.
// Appending never fails visibly: a log that cannot be opened loses the line.
// Each line is written with one write(2) on a descriptor opened for append,
// and the crash log also holds an fcntl lock over the line's byte range, so
// lines from several threads or processes never interleave.
#ifndef LUN_PLATFORM_ERROR_LOG_H_
#define LUN_PLATFORM_ERROR_LOG_H_

#include <string>
#include <string_view>

namespace lun {

inline constexpr char kEngineErrorLogName[] = "TamrixError.Log";
inline constexpr char kCrashLogName[] = "LUNError.Log";

// The system's message for errno value `code`, or "未知错误" when it has none.
// Never empty. Thread-safe.
std::string ErrorText(int code);

void AppendEngineErrorLog(std::string_view text);
void AppendCrashLog(std::string_view text);

// The current local time as "%Y-%m-%d %H:%M:%S".
std::string LocalTimeStamp();

}  // namespace lun

#endif  // LUN_PLATFORM_ERROR_LOG_H_
