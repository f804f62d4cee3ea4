#include "config/settings_store.h"

#include <cerrno>
#include <mutex>

#include "config/packed_text.h"
#include "platform/text.h"

namespace lun {
namespace {

// Cuts `value` to at most `max_bytes` without splitting a UTF-8 sequence.
std::string CutAtCharacter(std::string value, size_t max_bytes) {
  if (value.size() <= max_bytes) return value;
  size_t end = max_bytes;
  while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
  value.resize(end);
  return value;
}

}  // namespace

SettingsStore::SettingsStore(FileSystem& fs) : fs_(fs) {}

bool SettingsStore::Load(const std::string& path) {
  {
    std::unique_lock lock(mutex_);
    path_ = path;
  }
  if (TouchFile(fs_, path, 0600) != 0) return false;
  std::string file;
  if (ReadWholeFile(fs_, path, &file) != 0) return false;
  std::string text;
  // A damaged payload still yields the lines inflated before the damage.
  if (UnpackText(file, &text) == UnpackResult::kNotPacked) text = std::move(file);
  IniDocument doc = IniDocument::Parse(text);
  std::unique_lock lock(mutex_);
  doc_ = std::move(doc);
  return true;
}

bool SettingsStore::Save(const std::string& path) {
  const std::string packed = PackText(IniText());
  return ReplaceFileAtomically(fs_, path, packed, 0600) == 0;
}

bool SettingsStore::Save() { return Save(this->path()); }

std::string SettingsStore::GetValue(std::string_view section, std::string_view key,
                                    std::string_view default_value, size_t capacity) const {
  std::string value;
  {
    std::shared_lock lock(mutex_);
    const std::string* stored = doc_.Find(section, key);
    value = stored ? *stored : std::string(default_value);
  }
  return capacity == 0 ? value : CutAtCharacter(std::move(value), capacity - 1);
}

std::u16string SettingsStore::GetValueW(std::string_view section, std::string_view key,
                                        std::u16string_view default_value) const {
  const std::string value = GetValue(section, key);
  return value.empty() ? std::u16string(default_value) : ToWide(value);
}

void SettingsStore::SetValue(std::string_view section, std::string_view key,
                             std::string_view value) {
  std::unique_lock lock(mutex_);
  doc_.Set(section, key, value);
}

bool SettingsStore::ApplySetting(std::string_view key, std::string_view value) {
  Hook hook;
  {
    std::shared_lock lock(mutex_);
    const auto it = hooks_.find(key);
    if (it != hooks_.end()) hook = it->second;
  }
  if (hook) hook(std::string(value));
  SetValue(kSearchSection, key, value);
  return Save();
}

void SettingsStore::SetApplyHook(std::string_view key, Hook hook) {
  std::unique_lock lock(mutex_);
  hooks_.insert_or_assign(std::string(key), std::move(hook));
}

bool SettingsStore::IndexDamaged() const {
  return GetValue(kSearchSection, key::kIndexError, kFalse) == kTrue;
}

void SettingsStore::ClearIndexDamaged() {
  SetValue(kSearchSection, key::kIndexError, kFalse);
  (void)Save();
}

std::string SettingsStore::path() const {
  std::shared_lock lock(mutex_);
  return path_;
}

std::string SettingsStore::IniText() const {
  std::shared_lock lock(mutex_);
  return doc_.Serialize();
}

SettingsStore& Settings() {
  static SettingsStore* store = new SettingsStore;  // lives until exit: read by every thread
  return *store;
}

}  // namespace lun
