// Lines of tab-separated fields, the form of lun.socket's search answers
// and of the saved-search file: inside a field a backslash, tab, CR or LF
// is written "\\", "\t", "\r", "\n", so every record stays on one line.
#ifndef LUN_CONFIG_TAB_FIELDS_H_
#define LUN_CONFIG_TAB_FIELDS_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// `field` escaped, ready to stand between tabs.
std::string EscapeField(std::string_view field);

// One line's fields, unescaped (a line without tabs is one field; a lone
// trailing backslash stays as it is).
std::vector<std::string> SplitFields(std::string_view line);

}  // namespace lun

#endif  // LUN_CONFIG_TAB_FIELDS_H_
