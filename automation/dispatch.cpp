#include "automation/dispatch.h"

namespace lun {

namespace {

char16_t FoldAscii(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

}  // namespace

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

HResult LookupMember(std::span<const MemberName> table,
                     std::u16string_view name, DispId* id) {
  for (const auto& m : table) {
    if (EqualsIgnoreAsciiCase(m.name, name)) {
      *id = m.id;
      return S_OK;
    }
  }
  return DISP_E_UNKNOWNNAME;
}

HResult RaiseException(ExcepInfo* excep, int number,
                       std::u16string_view description,
                       std::u16string_view source) {
  if (excep) {
    excep->wcode = 0;
    excep->scode = ScriptErrorCode(number);
    excep->description = std::u16string(description);
    excep->source = std::u16string(source);
  }
  return DISP_E_EXCEPTION;
}

HResult Dispatch::NewEnum(std::shared_ptr<Enumerator>* out) {
  Variant result;
  HResult hr = Invoke(DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                      {}, &result, nullptr);
  if (hr != S_OK) return hr;
  auto e = std::dynamic_pointer_cast<Enumerator>(result.AsObject());
  if (!e) return DISP_E_MEMBERNOTFOUND;
  *out = std::move(e);
  return S_OK;
}

HResult Enumerator::GetIdOfName(std::u16string_view, DispId*) {
  return DISP_E_UNKNOWNNAME;
}

HResult Enumerator::Invoke(DispId, std::uint16_t, std::span<const Variant>,
                           Variant*, ExcepInfo*) {
  return DISP_E_MEMBERNOTFOUND;
}

HResult VectorEnumerator::Next(Variant* item) {
  if (next_ >= items_.size()) return S_FALSE;
  *item = items_[next_++];
  return S_OK;
}

HResult VectorEnumerator::Reset() {
  next_ = 0;
  return S_OK;
}

}  // namespace lun
