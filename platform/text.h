// Conversion between the system code page and UTF-16.
//
// Narrow strings (paths, settings, names, queries, page sources) are in the
// system code page, which is UTF-8 on this platform. Wide strings (field
// values, index terms, script strings) are UTF-16. Every conversion in the
// program goes through these two functions.
//
// Both are total: a malformed sequence (a stray continuation byte, a
// truncated sequence, an overlong form, an encoded surrogate, an unpaired
// surrogate on the wide side) becomes U+FFFD and conversion goes on with the
// rest of the string. Embedded NULs are kept.
#ifndef LUN_PLATFORM_TEXT_H_
#define LUN_PLATFORM_TEXT_H_

#include <string>
#include <string_view>

namespace lun {

std::u16string ToWide(std::string_view narrow);
std::string ToNarrow(std::u16string_view wide);

// Replacement character that stands for an undecodable sequence.
inline constexpr char16_t kReplacementChar = u'\uFFFD';

}  // namespace lun

#endif  // LUN_PLATFORM_TEXT_H_
