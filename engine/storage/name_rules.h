// Rules for the names of tables and fields.
#ifndef LUN_ENGINE_STORAGE_NAME_RULES_H_
#define LUN_ENGINE_STORAGE_NAME_RULES_H_

#include <string_view>

namespace lun {

// Names are compared without regard to case, with Unicode simple case
// folding (so "Abc" equals "aBC", and "É" equals "é"); Chinese names compare
// as they are.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// True when `name` holds one of \ / : * ? " < > |.
bool HasForbiddenNameChar(std::string_view name);

// A field name must be usable as one component of a path: not empty, not "."
// and not "..". (Deciding by whether a file of that name happens to exist in
// the process's current folder, as the first design did, made AddField depend
// on where the program was started.)
bool IsUsableFieldName(std::string_view name);

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_NAME_RULES_H_
