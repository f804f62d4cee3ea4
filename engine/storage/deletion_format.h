// The deletion file {T}.Del: deleted record numbers, 4 bytes each,
// unsigned little-endian, in the order they were written (not sorted on
// disk; readers sort). The count is the file size / 4; a trailing partial
// entry is ignored. Numbers not below the table's record count are ignored
// when the file is loaded.
//
// Worked example: deleting records 7 and then 3 gives the 8 bytes
// 07 00 00 00 03 00 00 00.
#ifndef LUN_ENGINE_STORAGE_DELETION_FORMAT_H_
#define LUN_ENGINE_STORAGE_DELETION_FORMAT_H_

#include <cstddef>

namespace lun::deletion_format {

inline constexpr size_t kEntrySize = 4;

}  // namespace lun::deletion_format

#endif  // LUN_ENGINE_STORAGE_DELETION_FORMAT_H_
