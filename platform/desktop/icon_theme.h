// File types and icons of the desktop, read from the freedesktop.org data
// files: the shared MIME database ("mime/globs2", "mime/icons",
// "mime/generic-icons") and the icon themes under "icons/". This is what the
// page object FTS shows as a file's icon.
//
// Kept simple on purpose: a file's type comes from its name alone (no
// content sniffing); icons are PNG files looked up by name in the themes
// "Adwaita" and then "hicolor" (the fallback theme every desktop has), at
// the first size found of 32, 48, 24, 16, 64, 22, 96, 128, 256 pixels, and
// in "pixmaps/"; index.theme and SVG icons are not read. When nothing is
// found the caller uses FallbackIconPng().
//
// Every function reads the files afresh; all are thread-safe.
#ifndef LUN_PLATFORM_DESKTOP_ICON_THEME_H_
#define LUN_PLATFORM_DESKTOP_ICON_THEME_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The XDG data directories, most important first: $XDG_DATA_HOME (else
// ~/.local/share), then $XDG_DATA_DIRS (else /usr/local/share:/usr/share).
std::vector<std::string> XdgDataDirs();

inline constexpr char kUnknownMimeType[] = "application/octet-stream";
inline constexpr char kDirectoryMimeType[] = "inode/directory";

// The MIME type of `path`: "inode/directory" for an existing directory,
// else the type of the best glob of "mime/globs2" (highest weight, then
// longest pattern; case ignored unless the glob says "cs") in the first data
// directory that has the file; kUnknownMimeType when none matches.
std::string MimeTypeOf(const std::string& path, const std::vector<std::string>& data_dirs);

// The icon names of a MIME type, best first: the name "mime/icons" gives,
// the type with "/" made "-" ("application-pdf"), the generic icon of
// "mime/generic-icons", and the media type's "-x-generic" ("text-x-generic").
std::vector<std::string> MimeIconNames(std::string_view mime_type,
                                       const std::vector<std::string>& data_dirs);

// The path of a PNG icon for the first of `names` that a theme has in its
// `context` folders ("mimetypes", "apps", "places"), or in "pixmaps/"; a
// name that is an absolute path to a ".png" file is taken as it is. Empty
// when none is found.
std::string FindThemeIcon(const std::vector<std::string>& names, std::string_view context,
                          const std::vector<std::string>& data_dirs);

// A 16x16 PNG of a blank page, shown when the theme has no icon.
std::string_view FallbackIconPng();

// The PNG bytes of `icon_path`, or the fallback icon when it is empty or
// cannot be read.
std::string IconPngOrFallback(const std::string& icon_path);

}  // namespace lun

#endif  // LUN_PLATFORM_DESKTOP_ICON_THEME_H_
