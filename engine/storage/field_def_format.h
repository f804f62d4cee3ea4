// The field-definition file {T}.stu: one 2340-byte FieldDef per field, in
// field order, each zero-filled before its fields are written. Integers are
// little-endian; text is the system code page (UTF-8 here), NUL-terminated.
//
//   offset  size  content
//        0   260  field name
//      260     4  type word: bits 0-15 field type (FieldType), bits 16-31
//                 subtype (0 for every field this system creates)
//      264     4  index kind, signed: -1 none, 0 word index, 7 exact-value
//      268     4  -1 when created; kept unchanged
//      272     4  0 when created; a definition with a non-zero value here is
//                 skipped when the table's fields are built
//      276    12  subtype name, only for text and document fields with a
//                 non-zero subtype, else zero
//      288  2052  auxiliary text (every caller gives an empty one)
//
// Number of definitions = file size / 2340 (a trailing partial record is
// ignored and overwritten by the next AddField).
//
// Worked example: a text field "路径" with a word index is E8 B7 AF E5 BE 84 00
// at 0, then 01 00 00 00 at 260, 00 00 00 00 at 264, FF FF FF FF at 268 and
// zeros everywhere else.
#ifndef LUN_ENGINE_STORAGE_FIELD_DEF_FORMAT_H_
#define LUN_ENGINE_STORAGE_FIELD_DEF_FORMAT_H_

#include <cstddef>
#include <cstdint>

namespace lun::field_def_format {

inline constexpr size_t kRecordSize = 2340;

inline constexpr size_t kNameOffset = 0;
inline constexpr size_t kNameSize = 260;
inline constexpr size_t kTypeWordOffset = 260;
inline constexpr size_t kIndexKindOffset = 264;
inline constexpr size_t kReservedMinusOneOffset = 268;
inline constexpr size_t kDisabledOffset = 272;
inline constexpr size_t kSubtypeNameOffset = 276;
inline constexpr size_t kSubtypeNameSize = 12;
inline constexpr size_t kAuxTextOffset = 288;
inline constexpr size_t kAuxTextSize = 2052;

inline constexpr uint32_t kFieldTypeMask = 0xFFFF;

static_assert(kTypeWordOffset == kNameOffset + kNameSize);
static_assert(kSubtypeNameOffset + kSubtypeNameSize == kAuxTextOffset);
static_assert(kAuxTextOffset + kAuxTextSize == kRecordSize);

}  // namespace lun::field_def_format

#endif  // LUN_ENGINE_STORAGE_FIELD_DEF_FORMAT_H_
