#include "web/web_settings.h"

#include <gtest/gtest.h>

#include <array>

#include "config/settings_keys.h"

namespace lun {
namespace {

TEST(ConfiguredWebPortTest, Table) {
  const std::array<std::pair<const char*, uint16_t>, 8> cases = {{
      {nullptr, 8484},  // not set
      {"8080", 8080},
      {" 9000 ", 9000},
      {"0", 8484},
      {"65536", 8484},
      {"80x", 8484},
      {"-1", 8484},
      {"", 8484},
  }};
  for (const auto& [value, port] : cases) {
    SCOPED_TRACE(value ? value : "(unset)");
    SettingsStore settings;
    if (value != nullptr) settings.SetValue(kSearchSection, key::kPublishPort, value);
    EXPECT_EQ(ConfiguredWebPort(settings), port);
  }
}

}  // namespace
}  // namespace lun
