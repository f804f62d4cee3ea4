#include "engine/storage/name_rules.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include "platform/text.h"

namespace lun {

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a == b) return true;
  const std::u16string wa = ToWide(a), wb = ToWide(b);
  UErrorCode status = U_ZERO_ERROR;
  const int32_t order =
      u_strCaseCompare(reinterpret_cast<const UChar*>(wa.data()), static_cast<int32_t>(wa.size()),
                       reinterpret_cast<const UChar*>(wb.data()), static_cast<int32_t>(wb.size()),
                       U_FOLD_CASE_DEFAULT, &status);
  return U_SUCCESS(status) && order == 0;
}

bool HasForbiddenNameChar(std::string_view name) {
  return name.find_first_of("\\/:*?\"<>|") != std::string_view::npos;
}

bool IsUsableFieldName(std::string_view name) {
  return !name.empty() && name != "." && name != "..";
}

}  // namespace lun
