// The ANSI code page of the target systems, GBK: the code page in which
// script functions such as Asc and Chr see characters.
#ifndef LUN_PLATFORM_ANSI_CODE_PAGE_H_
#define LUN_PLATFORM_ANSI_CODE_PAGE_H_

#include <cstdint>

namespace lun {

// The code of `c`: one byte (0..255) or a two-byte code as a signed 16-bit
// value; '?' when the code page has no such character.
int AnsiCode(char16_t c);

// The character of a one- or two-byte code (taken modulo 65536); '?' when
// the code is not a character of the code page.
char16_t FromAnsi(std::int64_t code);

}  // namespace lun

#endif  // LUN_PLATFORM_ANSI_CODE_PAGE_H_
