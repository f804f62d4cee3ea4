// The text of a path whose bytes are not UTF-8.
//
// A file name on disk is bytes; the index, the pages and the settings hold
// UTF-8 text. Names that are not valid UTF-8 are common on old disks, in
// archives and on shares written by other systems (GBK above all), and
// must be found, shown, opened and downloaded like any other.
//
// PathText gives each path a text form, component by component:
//   - a valid UTF-8 component is itself;
//   - else, when the bytes are valid GB18030, the decoded text (so that a
//     search for the Chinese name finds it);
//   - else every byte that is not part of a valid UTF-8 character becomes
//     the private-use character U+EF00 + byte (U+EF80..U+EFFF), which keeps
//     the bytes exactly and cannot be mistaken for a name a user typed.
// PathText is idempotent: its result is valid UTF-8 and maps to itself.
//
// PathOnDisk goes back: for each component it takes the first of these
// that exists in its folder: the text itself, the text with the escapes
// turned back into their bytes, the text encoded in GB18030. A path that
// exists as written, or holds only ASCII, is returned at once without a
// look-up. When nothing exists (a deleted file) the escapes are turned
// back and the result is returned as it is.
//
// Two names that differ on disk but share a text form (a UTF-8 "报告" and a
// GBK "报告" in one folder, or a name that really holds U+EF80..U+EFFF) are
// one path in the index; the one that exists as written wins. Both are rare
// enough that the index does not carry a second key for them.
#ifndef LUN_PLATFORM_PATH_TEXT_H_
#define LUN_PLATFORM_PATH_TEXT_H_

#include <string>
#include <string_view>

namespace lun {

std::string PathText(std::string_view bytes);
std::string PathOnDisk(std::string_view text);

}  // namespace lun

#endif  // LUN_PLATFORM_PATH_TEXT_H_
