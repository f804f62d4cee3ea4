// Extraction plug-ins: shared libraries dropped into "Plug/" of the
// application home that add file types.
//
// A plug-in exports two functions with C linkage:
//
//   void GetInfo(PluginInfoBlock* block);
//     Fills a zero-filled 764-byte block: its display text and the types it
//     handles ("PAX|PAD"), both UTF-16 and 0-terminated.
//
//   int GetText(const char* path, char16_t* buffer, int capacity);
//     Writes the text of the file at `path` (UTF-8) into `buffer` as UTF-16
//     (at most `capacity` code units, no terminator needed) and returns the
//     number of units written; a negative result means "no text". It may be
//     called from several processes, but within one process from one thread
//     at a time.
//
// The application only loads plug-ins and lists their types; the crawl
// service calls GetText, inside a worker process, so a plug-in that crashes
// or hangs costs that file's text only.
//
// Thread safety: load on one thread at start-up; afterwards every const
// member may be called from any thread. Loaded libraries stay loaded until
// the registry is destroyed.
#ifndef LUN_CRAWLER_EXTRACT_PLUGIN_REGISTRY_H_
#define LUN_CRAWLER_EXTRACT_PLUGIN_REGISTRY_H_

#include <cstddef>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/extract/extract_result.h"

namespace lun {

// The information block, 764 bytes:
//   offset   0, 244 bytes: display text, UTF-16, 0-terminated (<= 121 units)
//   offset 244, 520 bytes: handled types, UTF-16, 0-terminated, "|"-separated
struct PluginInfoBlock {
  char16_t display[122];
  char16_t types[260];
};
static_assert(sizeof(PluginInfoBlock) == 764);
static_assert(offsetof(PluginInfoBlock, types) == 244);

extern "C" {
typedef void (*PluginGetInfoFunction)(PluginInfoBlock* block);
typedef int (*PluginGetTextFunction)(const char* path, char16_t* buffer, int capacity);
}

inline constexpr char kPluginDirectoryName[] = "Plug";
inline constexpr char kNotPluginError[] = "Not plugin dll.";

class PluginRegistry {
 public:
  PluginRegistry() = default;
  ~PluginRegistry();
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  // Loads every "*.so" of `directory` in name order; a missing directory
  // loads nothing. Returns the number of plug-ins loaded by this call.
  int LoadPlugins(const std::string& directory);

  // Loads one library. On failure (not loadable, an entry point missing, an
  // empty type list: `*error` then says kNotPluginError or the loader's
  // message) the library is unloaded and false returned.
  bool LoadPlugin(const std::string& path, std::string* error = nullptr);

  int PluginCount() const { return static_cast<int>(plugins_.size()); }

  // Calls plug-in `index`'s GetInfo with `block` (zero-filled first). False
  // for an index out of range.
  bool GetPluginInfo(int index, PluginInfoBlock* block) const;

  // The plug-in that handles `type` (an extension without dots, any case:
  // "pax"), the last loaded one when several list it; -1 when none.
  int PluginForType(std::string_view type) const;

  // Every type handled, as a type list ("|PAX|PAD|"), empty when none.
  std::string TypeList() const;

  // The text of `path` through plug-in `index`, at most `limit` units.
  // kDamaged when the plug-in reports no text.
  ExtractResult PluginText(int index, const std::string& path, size_t limit) const;

 private:
  struct Plugin {
    std::string path;
    void* handle;
    PluginGetInfoFunction get_info;
    PluginGetTextFunction get_text;
  };
  std::vector<Plugin> plugins_;
  std::map<std::string, int> types_;  // upper-case type -> plug-in index
};

// The process-wide registry used by the application and the crawl service.
PluginRegistry& Plugins();

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_PLUGIN_REGISTRY_H_
