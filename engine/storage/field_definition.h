// Reading and writing FieldDef records of a {T}.stu file
// (field_def_format.h).
#ifndef LUN_ENGINE_STORAGE_FIELD_DEFINITION_H_
#define LUN_ENGINE_STORAGE_FIELD_DEFINITION_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/storage/record_format.h"

namespace lun {

struct FieldDefinition {
  std::string name;
  uint32_t type_word = 0;  // bits 0-15 type, 16-31 subtype
  IndexKind index_kind = kNoIndex;
  uint32_t disabled = 0;   // non-zero: skipped when fields are built
  int type() const { return static_cast<int>(type_word & 0xFFFF); }
};

// Every whole record of `stu` (a trailing partial record is ignored).
std::vector<FieldDefinition> ParseFieldDefinitions(std::string_view stu);

// One 2340-byte record for a new field. `aux_text` is cut to fit.
std::string BuildFieldDefinition(std::string_view name, uint32_t type_word, IndexKind index_kind,
                                 std::string_view aux_text);

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_FIELD_DEFINITION_H_
