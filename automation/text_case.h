// Case operations on UTF-16 text for script semantics: text-mode
// comparison (Dictionary CompareMode 1, InStr/StrComp/Replace with
// vbTextCompare) and UCase/LCase. Each code unit is mapped on its own with
// Unicode simple (one-to-one) mappings, so lengths and positions never
// change; surrogate halves are left alone.
#ifndef LUN_AUTOMATION_TEXT_CASE_H_
#define LUN_AUTOMATION_TEXT_CASE_H_

#include <string>
#include <string_view>

namespace lun {

// Simple case folding of one code unit.
char16_t FoldCaseUnit(char16_t c);
std::u16string FoldCase(std::u16string_view s);
std::u16string ToUpperText(std::u16string_view s);
std::u16string ToLowerText(std::u16string_view s);

// -1, 0 or 1 comparing code units, after folding when `text_mode`.
int CompareText(std::u16string_view a, std::u16string_view b, bool text_mode);

}  // namespace lun

#endif  // LUN_AUTOMATION_TEXT_CASE_H_
