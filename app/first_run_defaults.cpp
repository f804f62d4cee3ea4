#include "app/first_run_defaults.h"

#include "config/settings_keys.h"
#include "config/settings_store.h"

namespace lun {

void ApplyFirstRunDefaults(SettingsStore& settings) {
  const struct {
    const char* key;
    const char* value;
  } defaults[] = {{key::kDocumentTypes, kFirstRunDocumentTypes},
                  {key::kOtherTextTypes, kFirstRunOtherTextTypes}};
  for (const auto& d : defaults) {
    if (settings.GetValue(kSearchSection, d.key).empty()) {
      settings.SetValue(kSearchSection, d.key, d.value);
    }
  }
}

}  // namespace lun
