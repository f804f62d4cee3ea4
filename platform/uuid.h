// UUIDs in text form, for session codes, temporary names and buffer folders.
#ifndef LUN_PLATFORM_UUID_H_
#define LUN_PLATFORM_UUID_H_

#include <string>

namespace lun {

// A fresh random UUID as 36 upper-case characters,
// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX". Thread-safe.
std::string NewUuidText();

}  // namespace lun

#endif  // LUN_PLATFORM_UUID_H_
