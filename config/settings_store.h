// The settings of the application: one process-wide store of section -> key
// -> value, loaded from and saved to the settings file "Setting" in the
// application home (a packed text container holding an INI text, see
// packed_text_format.h and ini_text.h).
//
// The store never writes the file by itself when a value changes: callers
// call Save where the change must persist (ApplySetting does), and shutdown
// saves once more.
//
// Thread safety: every member may be called from any thread. Readers get
// copies of values. Sections and keys are never removed.
#ifndef LUN_CONFIG_SETTINGS_STORE_H_
#define LUN_CONFIG_SETTINGS_STORE_H_

#include <functional>
#include <map>
#include <shared_mutex>
#include <string>
#include <string_view>

#include "config/ini_text.h"
#include "config/settings_keys.h"
#include "platform/file_system.h"

namespace lun {

inline constexpr char kSettingsFileName[] = "Setting";

class SettingsStore {
 public:
  // `fs` must outlive the store.
  explicit SettingsStore(FileSystem& fs = DefaultFileSystem());
  SettingsStore(const SettingsStore&) = delete;
  SettingsStore& operator=(const SettingsStore&) = delete;

  // Remembers `path` and replaces the store's content with the file's. A
  // missing file is created empty and gives an empty store. A file without
  // the container header is read as plain INI text; a damaged compressed
  // payload gives what could be read of it (possibly nothing). False only
  // when the file cannot be created or read.
  bool Load(const std::string& path);

  // Writes the whole store to `path` (or to the loaded path), replacing the
  // file atomically: a crash leaves the old file or the new one, whole.
  // False when it could not be written; the old file is then untouched.
  bool Save(const std::string& path);
  bool Save();

  // The stored value of `key` in `section`, else `default_value`. With a
  // non-zero `capacity`, the result is cut to at most capacity - 1 bytes (at a
  // character boundary), as a caller's fixed buffer would hold it.
  std::string GetValue(std::string_view section, std::string_view key,
                       std::string_view default_value = {}, size_t capacity = 0) const;

  // The value as UTF-16; an empty stored value also gives the default.
  std::u16string GetValueW(std::string_view section, std::string_view key,
                           std::u16string_view default_value = {}) const;

  // Inserts or replaces a value in memory (see IniDocument::Set for the
  // characters that cannot be stored and become blanks).
  void SetValue(std::string_view section, std::string_view key, std::string_view value);

  // The setter of the settings pages: runs the side-effect hook registered
  // for `key` (if any) with the new value, then stores the value in section
  // "检索设置" and saves. Returns the result of the save.
  bool ApplySetting(std::string_view key, std::string_view value);

  // Side effects of ApplySetting are registered by the subsystems they touch
  // (the change monitor, the mail sources, the type lists). A later
  // registration for the same key replaces the earlier one. Hooks run on the
  // caller's thread, outside the store's lock.
  using Hook = std::function<void(const std::string& value)>;
  void SetApplyHook(std::string_view key, Hook hook);

  // The index-damage flag: "索引错误" equals "TRUE". Clearing it stores
  // "FALSE" and saves at once.
  bool IndexDamaged() const;
  void ClearIndexDamaged();

  std::string path() const;

  // The store as the INI text it would write.
  std::string IniText() const;

 private:
  FileSystem& fs_;
  mutable std::shared_mutex mutex_;
  IniDocument doc_;
  std::string path_;
  std::map<std::string, Hook, std::less<>> hooks_;
};

// The process-wide store.
SettingsStore& Settings();

}  // namespace lun

#endif  // LUN_CONFIG_SETTINGS_STORE_H_
