#include "web/web_settings.h"

#include "config/settings_keys.h"
#include "platform/paths.h"
#include "web/text_util.h"

namespace lun {

uint16_t ConfiguredWebPort(const SettingsStore& settings) {
  const std::string text = settings.GetValue(kSearchSection, key::kPublishPort, "8484");
  uint64_t value = 0;
  bool overflow = false;
  if (!ParseDigits(TrimSpace(text), &value, &overflow) || overflow) return kDefaultWebPort;
  return value >= 1 && value <= 65535 ? static_cast<uint16_t>(value) : kDefaultWebPort;
}

std::string PageArchiveDirectory() { return JoinPath(ProgramDirectory(), "res"); }

}  // namespace lun
