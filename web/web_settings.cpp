#include "web/web_settings.h"

#include "config/settings_keys.h"
#include "platform/paths.h"
#include "web/text_util.h"

namespace lun {

uint16_t ConfiguredWebPort(const SettingsStore& settings) {
  const std::string text = settings.GetValue(kSearchSection, key::kPublishPort, "8484");
  const std::string_view digits = TrimSpace(text);
  if (digits.empty() || digits.size() > 5) return kDefaultWebPort;
  unsigned value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return kDefaultWebPort;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : kDefaultWebPort;
}

std::string PageArchiveDirectory() { return JoinPath(ProgramDirectory(), "res"); }

}  // namespace lun
