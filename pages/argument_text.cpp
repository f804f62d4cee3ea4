#include "pages/argument_text.h"

#include "platform/text.h"

namespace lun {

bool IsMissingArgument(const Variant& value) {
  return value.type() == VT_ERROR && value.AsError() == DISP_E_PARAMNOTFOUND;
}

HResult ArgumentText(const Variant& value, std::string* text) {
  // A field object is read through its default member first, so that a
  // field holding Null writes nothing like a Null variable does.
  Variant plain;
  if (value.is_object()) {
    if (DefaultValue(value, &plain) != S_OK) return DISP_E_TYPEMISMATCH;
  } else {
    plain = value;
  }
  if (plain.is_empty() || plain.is_null() || IsMissingArgument(plain)) {
    text->clear();
    return S_OK;
  }
  Variant converted;
  if (ChangeType(plain, VT_BSTR, &converted) != S_OK) return DISP_E_TYPEMISMATCH;
  *text = ToNarrow(converted.AsString());
  return S_OK;
}

}  // namespace lun
