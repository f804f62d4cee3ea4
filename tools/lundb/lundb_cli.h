// What the commands of lundb share: usage and failure reporting, argument
// parsing, the global options, and the session (settings plus the project
// opened on DB).
//
// The crawl command runs as a program of its own, lundb-crawl beside lundb,
// with lundb's arguments unchanged: it links the crawler, the crawl-service
// client and the extraction libraries, which the engine commands do without,
// so that `lundb query` starts with the engine's libraries alone.
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

// The program of the crawl command, in the directory of lundb.
inline constexpr char kCrawlProgram[] = "lundb-crawl";

// Prints `why` (when given) and the usage text; returns kUsage. Each program
// (lundb, lundb-crawl) defines its own.
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

// The command word of a command line: the first argument after the global
// options (--home DIR, --settings FILE); empty when there is none.
std::string CommandOf(const std::vector<std::string>& args);
// Takes the global options off the front of `args`, leaving the command and
// its arguments, and sets the application home (`home`, else the folder of
// the command's first argument, DB). 0, or the exit code of a failure that
// has been reported.
int TakeGlobalOptions(std::vector<std::string>* args, std::string* home,
                      std::string* settings_file);
// Replaces this process with lundb-crawl, handing on `args` (lundb's own
// arguments); returns only when it cannot be started, with the exit code.
int RunCrawlProgram(const std::vector<std::string>& args);

// Opens DB (with the settings of `settings_file` when given); 0 or the exit
// code of the failure, already reported.
int OpenSession(const std::string& db, const std::string& settings_file, Session* s,
                uint32_t segment_limit = 1'000'000);

// lundb query DB 'QUERY' | --stdin [--page N] [--size N] [--fields F,F...]
//                        [--snippet FIELD] [--json]
int CmdQuery(const std::vector<std::string>& args, const std::string& settings_file);

// lundb crawl DB ROOT [--port N], in lundb-crawl
int CmdCrawl(const std::vector<std::string>& args, const std::string& settings_file);

}  // namespace lun

#endif  // LUN_TOOLS_LUNDB_LUNDB_CLI_H_
