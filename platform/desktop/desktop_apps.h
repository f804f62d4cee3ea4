// The applications of the desktop that can open a file, from the
// freedesktop.org desktop files ("applications/*.desktop" in the XDG data
// directories), and starting programs for the pages without a shell.
//
// An application offers itself for a MIME type by listing it in the
// MimeType= line of its desktop file. The desktop files at the top of each
// "applications/" folder are read directly, so a stale mimeinfo.cache
// cannot hide or invent an application; the cache is read for the ids it
// names in sub-folders ("kde4-okular.desktop" for "kde4/okular.desktop"),
// whose MimeType= line must then list the type as well. A desktop file id
// found in an earlier data directory hides the same id in later ones (the
// user's own files first).
//
// Thread-safe: every function reads the files afresh.
#ifndef LUN_PLATFORM_DESKTOP_DESKTOP_APPS_H_
#define LUN_PLATFORM_DESKTOP_DESKTOP_APPS_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

struct DesktopApp {
  std::string id;    // the desktop file's name, "vim.desktop"
  std::string name;  // Name[zh_CN]= when present, else Name=
  std::string exec;  // Exec=, unescaped
  std::string icon;  // Icon=: a theme icon name or an absolute path
};

// The applications whose MimeType= lists `mime_type`, ordered by desktop
// file id. Entries that are not of Type=Application, are NoDisplay=true or
// Hidden=true, or have no Exec= are left out.
std::vector<DesktopApp> AppsForMimeType(std::string_view mime_type,
                                        const std::vector<std::string>& data_dirs);

// The argument vector of an Exec= line for opening `path`: the line is split
// at blanks outside double quotes (inside them "\" escapes '"', '`', '$' and
// '\'); %f %F %u %U become `path`, %c the application's `name`, %% a "%",
// and the other field codes (%i %k and the deprecated ones) are dropped.
// When the line names no file code, `path` is appended. Empty for an
// unbalanced quote or an empty line.
std::vector<std::string> ExecArguments(std::string_view exec, std::string_view name,
                                       const std::string& path);

// Starts `argv` (argv[0] looked up in $PATH unless it holds a "/") in a
// process group of its own and returns at once; a thread of its own reaps
// the program when it ends. False when the program cannot be started.
bool LaunchDetached(const std::vector<std::string>& argv);

}  // namespace lun

#endif  // LUN_PLATFORM_DESKTOP_DESKTOP_APPS_H_
