// What the commands of lundb share: usage and failure reporting, argument
// parsing, and the session (settings plus the project opened on DB).
#ifndef LUN_TOOLS_LUNDB_LUNDB_CLI_H_
#define LUN_TOOLS_LUNDB_LUNDB_CLI_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/settings_store.h"
#include "engine/storage/search_project.h"

namespace lun {

inline constexpr int kUsage = 2;

// Prints `why` (when given) and the usage text; returns kUsage.
int Usage(const char* why = nullptr);
// Prints an engine failure; returns 1.
int Fail(const std::string& message);
bool ParseUnsigned(const std::string& text, uint64_t* value);
std::string AbsolutePath(const std::string& path);

// Everything a command needs: the settings store and the project, opened on
// the project file DB.
struct Session {
  SettingsStore settings;
  std::unique_ptr<SearchProject> project;
};

// Opens DB (with the settings of `settings_file` when given); 0 or the exit
// code of the failure, already reported.
int OpenSession(const std::string& db, const std::string& settings_file, Session* s,
                uint32_t segment_limit = 1'000'000);

// lundb query DB 'QUERY' | --stdin [--page N] [--size N] [--fields F,F...]
//                        [--snippet FIELD] [--json]
int CmdQuery(const std::vector<std::string>& args, const std::string& settings_file);

// lundb crawl DB ROOT [--port N]
int CmdCrawl(const std::vector<std::string>& args, const std::string& settings_file);

}  // namespace lun

#endif  // LUN_TOOLS_LUNDB_LUNDB_CLI_H_
