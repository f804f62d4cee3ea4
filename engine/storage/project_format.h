// The project file: the list of a project's tables.
//
// A sequence of 1804-byte records, each zero-filled before its fields are
// written. All text is the system code page (UTF-8 here), NUL-terminated.
//
// Record 0, the header:
//   offset  size  content
//        0    24  banner "Tamrix Local Search 1.0" and its NUL
//       24  1780  zero
//
// Records 1..n, one per table, in table order:
//   offset  size  content
//        0   260  table name
//      260   260  index folder: relative to the project file's folder
//                 when the folder lies inside it, else absolute
//      520   260  data folder: as above
//      780  1024  description
//
// Number of tables = file size / 1804 - 1 (a trailing partial record is
// ignored). A table's own folders are {index folder}/{name} and
// {data folder}/{name}.
//
// Worked example: a project with one table "文档" in the project folder is
// 3608 bytes; bytes 1804.. hold E6 96 87 E6 A1 A3 00 (the name), bytes
// 2064.. hold "." 00 (index folder) and bytes 2324.. hold "." 00 (data folder).
#ifndef LUN_ENGINE_STORAGE_PROJECT_FORMAT_H_
#define LUN_ENGINE_STORAGE_PROJECT_FORMAT_H_

#include <cstddef>

namespace lun::project_format {

inline constexpr size_t kRecordSize = 1804;
inline constexpr char kBanner[] = "Tamrix Local Search 1.0";

inline constexpr size_t kNameOffset = 0;
inline constexpr size_t kNameSize = 260;
inline constexpr size_t kIndexFolderOffset = 260;
inline constexpr size_t kIndexFolderSize = 260;
inline constexpr size_t kDataFolderOffset = 520;
inline constexpr size_t kDataFolderSize = 260;
inline constexpr size_t kDescriptionOffset = 780;
inline constexpr size_t kDescriptionSize = 1024;

static_assert(kDescriptionOffset + kDescriptionSize == kRecordSize);
static_assert(kIndexFolderOffset == kNameOffset + kNameSize);
static_assert(kDataFolderOffset == kIndexFolderOffset + kIndexFolderSize);
static_assert(kDescriptionOffset == kDataFolderOffset + kDataFolderSize);
static_assert(sizeof(kBanner) <= kRecordSize);

}  // namespace lun::project_format

#endif  // LUN_ENGINE_STORAGE_PROJECT_FORMAT_H_
