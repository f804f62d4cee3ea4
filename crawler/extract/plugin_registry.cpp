#include "crawler/extract/plugin_registry.h"

#include <dirent.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>

#include "config/bar_list.h"
#include "crawler/extract/charset.h"
#include "crawler/extract/text_filters.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace lun {
namespace {

// The 0-terminated UTF-16 text of a fixed field (no terminator: the whole field).
std::u16string FieldText(const char16_t* field, size_t units) {
  size_t n = 0;
  while (n < units && field[n] != 0) ++n;
  return std::u16string(field, n);
}

}  // namespace

PluginRegistry::~PluginRegistry() {
  for (const Plugin& p : plugins_) dlclose(p.handle);
}

int PluginRegistry::LoadPlugins(const std::string& directory) {
  DIR* dir = opendir(directory.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name.size() > 3 && name.substr(name.size() - 3) == ".so") names.emplace_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  int loaded = 0;
  for (const std::string& name : names) {
    if (LoadPlugin(JoinPath(directory, name))) ++loaded;
  }
  return loaded;
}

bool PluginRegistry::LoadPlugin(const std::string& path, std::string* error) {
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    if (error) {
      const char* why = dlerror();
      *error = why ? why : "cannot load the library";
    }
    return false;
  }
  auto fail = [&](const char* why) {
    dlclose(handle);
    if (error) *error = why;
    return false;
  };
  // Looked up in this order, as the plug-in contract has always done.
  void* get_text = dlsym(handle, "GetText");
  void* get_info = dlsym(handle, "GetInfo");
  if (!get_text || !get_info) return fail(kNotPluginError);
  Plugin plugin{path, handle, reinterpret_cast<PluginGetInfoFunction>(get_info),
                reinterpret_cast<PluginGetTextFunction>(get_text)};
  PluginInfoBlock block;
  std::memset(&block, 0, sizeof block);
  plugin.get_info(&block);
  const std::string types =
      ToNarrow(FieldText(block.types, sizeof block.types / sizeof block.types[0]));
  std::vector<std::string> pieces = SplitBarList(types);
  for (std::string& piece : pieces) piece = UpperAscii(piece);
  if (pieces.empty()) return fail(kNotPluginError);
  const int index = static_cast<int>(plugins_.size());
  plugins_.push_back(plugin);
  for (const std::string& type : pieces) types_[type] = index;  // a later plug-in wins
  return true;
}

bool PluginRegistry::GetPluginInfo(int index, PluginInfoBlock* block) const {
  if (index < 0 || index >= PluginCount()) return false;
  std::memset(block, 0, sizeof *block);
  plugins_[static_cast<size_t>(index)].get_info(block);
  return true;
}

int PluginRegistry::PluginForType(std::string_view type) const {
  const auto it = types_.find(UpperAscii(type));
  return it == types_.end() ? -1 : it->second;
}

std::string PluginRegistry::TypeList() const {
  std::vector<std::string> types;
  types.reserve(types_.size());
  for (const auto& [type, index] : types_) types.push_back(type);
  return JoinBarList(types);
}

ExtractResult PluginRegistry::PluginText(int index, const std::string& path, size_t limit) const {
  if (index < 0 || index >= PluginCount()) return {ExtractStatus::kUnsupported, {}, "no such plug-in"};
  const int capacity = static_cast<int>(std::min<size_t>(limit, 1u << 30));
  std::u16string buffer(static_cast<size_t>(capacity), u'\0');
  const int n = plugins_[static_cast<size_t>(index)].get_text(path.c_str(), buffer.data(), capacity);
  if (n < 0) return {ExtractStatus::kDamaged, {}, "the plug-in found no text"};
  buffer.resize(static_cast<size_t>(std::min(n, capacity)));
  while (!buffer.empty() && buffer.back() == 0) buffer.pop_back();
  ScrubControlCharacters(&buffer);
  return {ExtractStatus::kOk, std::move(buffer), {}};
}

PluginRegistry& Plugins() {
  static PluginRegistry* registry = new PluginRegistry();  // never unloaded: threads may use it at exit
  return *registry;
}

}  // namespace lun
