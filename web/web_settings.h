// How the application configures its web server: the port from the settings
// and the fixed start-up values.
#ifndef LUN_WEB_WEB_SETTINGS_H_
#define LUN_WEB_WEB_SETTINGS_H_

#include <cstdint>
#include <string>

#include "config/settings_store.h"

namespace lun {

inline constexpr uint16_t kDefaultWebPort = 8484;
inline constexpr char kDefaultDocument[] = "index.shl";
inline constexpr int kClientIdleTimeoutMs = 30000;

// The port of setting "发布端口" in section "检索设置" (default 8484). A value
// that is not a whole number from 1 to 65535 gives 8484: read as a plain
// integer, garbage would become port 0 and the server would listen on a port
// nobody knows.
uint16_t ConfiguredWebPort(const SettingsStore& settings);

// The directory of the page archives: "res" beside the executable.
std::string PageArchiveDirectory();

}  // namespace lun

#endif  // LUN_WEB_WEB_SETTINGS_H_
