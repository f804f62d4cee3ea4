// Where the program keeps its files.
//
// The application home holds everything the program writes: the settings file
// "Setting", the database under "Data/", plug-ins under "Plug/", pending
// updates under "Update/" and the logs. It is chosen once at start-up:
// `--home DIR`, else $LUN_HOME, else $XDG_DATA_HOME/tamrix-lun, else
// ~/.local/share/tamrix-lun. The program directory is the directory of the
// running executable; it holds `luncrawl` and the page archives `res/*.WR`.
//
// All paths use "/" and carry no trailing slash.
#ifndef LUN_PLATFORM_PATHS_H_
#define LUN_PLATFORM_PATHS_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// Resolves the application home from an explicit `--home` value (empty when
// not given) and the environment. Does not touch the file system.
std::string ResolveApplicationHome(std::string_view home_flag);

// Sets the process-wide application home and creates it (mode 0700, parents
// as needed). Returns false when it cannot be created. Call once at start-up,
// before other threads run; tests call it to point the program at a scratch
// directory.
bool SetApplicationHome(const std::string& path);

// The application home set above; until then, ResolveApplicationHome("").
std::string ApplicationHome();

// The directory of the running executable.
std::string ProgramDirectory();

// The user's home directory: $HOME, else the password database's entry.
std::string UserHomeDirectory();

// The user's desktop folder: $XDG_DESKTOP_DIR, else the XDG_DESKTOP_DIR line
// of ~/.config/user-dirs.dirs (with "$HOME" expanded), else ~/Desktop. The
// folder need not exist.
std::string DesktopDirectory();

// $TMPDIR when set and not empty, else "/tmp".
std::string TempDirectory();

// Joins two path pieces with one "/".
std::string JoinPath(std::string_view dir, std::string_view name);

// The directory part of `path` ("." when it has none), and the last component.
std::string DirName(std::string_view path);
std::string BaseName(std::string_view path);

// A fresh name "$" + UUID text inside `dir`; nothing is created.
std::string TemporaryName(std::string_view dir);

// The full paths of the entries of `dir` ("." and ".." left out), in the
// order the directory gives them; empty when it cannot be read.
std::vector<std::string> ListDirectory(const std::string& dir);

// True when `path` names a regular file, a directory (symbolic links
// followed).
bool IsRegularFile(const std::string& path);
bool IsDirectory(const std::string& path);

// Creates `path` and its missing parents with `mode`. True when it exists as
// a directory afterwards.
bool MakeDirectories(const std::string& path, unsigned mode = 0755);

}  // namespace lun

#endif  // LUN_PLATFORM_PATHS_H_
