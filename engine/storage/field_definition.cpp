#include "engine/storage/field_definition.h"

#include <cstring>

#include "engine/storage/field_def_format.h"
#include "engine/storage/value_codec.h"

namespace lun {

namespace fd = field_def_format;

std::vector<FieldDefinition> ParseFieldDefinitions(std::string_view stu) {
  std::vector<FieldDefinition> out;
  for (size_t at = 0; at + fd::kRecordSize <= stu.size(); at += fd::kRecordSize) {
    const char* rec = stu.data() + at;
    FieldDefinition d;
    d.name.assign(rec + fd::kNameOffset, strnlen(rec + fd::kNameOffset, fd::kNameSize));
    d.type_word = DecodeFixed32(rec + fd::kTypeWordOffset);
    d.index_kind = static_cast<IndexKind>(static_cast<int32_t>(DecodeFixed32(rec + fd::kIndexKindOffset)));
    d.disabled = DecodeFixed32(rec + fd::kDisabledOffset);
    out.push_back(std::move(d));
  }
  return out;
}

std::string BuildFieldDefinition(std::string_view name, uint32_t type_word, IndexKind index_kind,
                                 std::string_view aux_text) {
  std::string rec(fd::kRecordSize, '\0');
  rec.replace(fd::kNameOffset, std::min(name.size(), fd::kNameSize - 1),
              name.substr(0, fd::kNameSize - 1));
  EncodeFixed32(rec.data() + fd::kTypeWordOffset, type_word);
  EncodeFixed32(rec.data() + fd::kIndexKindOffset, static_cast<uint32_t>(index_kind));
  EncodeFixed32(rec.data() + fd::kReservedMinusOneOffset, 0xFFFFFFFFu);
  // Subtype names come from a table that is empty in this system, so the
  // name at kSubtypeNameOffset stays zero for every subtype.
  const size_t aux = std::min(aux_text.size(), fd::kAuxTextSize - 1);
  rec.replace(fd::kAuxTextOffset, aux, aux_text.substr(0, aux));
  return rec;
}

}  // namespace lun
