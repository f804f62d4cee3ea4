#include "pages/script/err_object.h"

#include "pages/script/script_errors.h"

namespace lun::script {

void ErrorObject::Set(int number, std::u16string description, std::u16string source) {
  number_ = number;
  description_ = std::move(description);
  source_ = std::move(source);
}

void ErrorObject::Clear() {
  number_ = 0;
  description_.clear();
  source_.clear();
  help_file_.clear();
  help_context_ = 0;
}

HResult ErrorObject::GetIdOfName(std::u16string_view name, DispId* id) {
  static constexpr MemberName kMembers[] = {
      {u"Number", kNumber},     {u"Description", kDescription}, {u"Source", kSource},
      {u"HelpFile", kHelpFile}, {u"HelpContext", kHelpContext}, {u"Clear", kClear},
      {u"Raise", kRaise},
  };
  return LookupMember(kMembers, name, id);
}

HResult ErrorObject::Invoke(DispId id, std::uint16_t flags, std::span<const Variant> args,
                            Variant* result, ExcepInfo* excep) {
  Variant ignored;
  if (!result) result = &ignored;
  const bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
  auto text_arg = [&](std::u16string* field) -> HResult {
    if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
    Variant v;
    if (ChangeType(args[0], VT_BSTR, &v) != S_OK) return DISP_E_TYPEMISMATCH;
    *field = std::u16string(v.AsString());
    return S_OK;
  };
  switch (id) {
    case kNumber:
      if (put) {
        if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
        Variant v;
        if (ChangeType(args[0], VT_I4, &v) != S_OK) return DISP_E_TYPEMISMATCH;
        number_ = static_cast<int>(v.AsInteger());
        return S_OK;
      }
      if (!args.empty()) return DISP_E_BADPARAMCOUNT;
      *result = Variant::I4(number_);
      return S_OK;
    case kDescription:
      if (put) return text_arg(&description_);
      *result = Variant::Bstr(description_);
      return S_OK;
    case kSource:
      if (put) return text_arg(&source_);
      *result = Variant::Bstr(source_);
      return S_OK;
    case kHelpFile:
      if (put) return text_arg(&help_file_);
      *result = Variant::Bstr(help_file_);
      return S_OK;
    case kHelpContext:
      if (put) {
        Variant v;
        if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
        if (ChangeType(args[0], VT_I4, &v) != S_OK) return DISP_E_TYPEMISMATCH;
        help_context_ = static_cast<int>(v.AsInteger());
        return S_OK;
      }
      *result = Variant::I4(help_context_);
      return S_OK;
    case kClear:
      if (!args.empty()) return DISP_E_BADPARAMCOUNT;
      Clear();
      return S_OK;
    case kRaise:
      return Raise(args, excep);
    default:
      return DISP_E_MEMBERNOTFOUND;
  }
}

bool ErrorObject::Given(std::span<const Variant> args, std::size_t i) {
  return i < args.size() &&
         !(args[i].type() == VT_ERROR && args[i].AsError() == DISP_E_PARAMNOTFOUND);
}

HResult ErrorObject::Raise(std::span<const Variant> args, ExcepInfo* excep) {
  if (args.empty() || args.size() > 5) return DISP_E_BADPARAMCOUNT;
  Variant n;
  if (ChangeType(args[0], VT_I4, &n) != S_OK) return DISP_E_TYPEMISMATCH;
  std::int64_t number = n.AsInteger();
  if (number == 0) {
    return RaiseException(excep, kErrInvalidCall, ErrorDescription(kErrInvalidCall),
                          kRuntimeSource);
  }
  std::u16string source(kRuntimeSource), description;
  Variant v;
  if (Given(args, 1) && ChangeType(args[1], VT_BSTR, &v) == S_OK) {
    source = std::u16string(v.AsString());
  }
  int small = number > 0 && number <= 0xFFFF ? static_cast<int>(number) : 0;
  if ((static_cast<std::uint32_t>(number) & 0xFFFF0000u) == 0x800A0000u) {
    small = static_cast<int>(number & 0xFFFF);
  }
  if (Given(args, 2) && ChangeType(args[2], VT_BSTR, &v) == S_OK) {
    description = std::u16string(v.AsString());
  } else {
    description = std::u16string(small ? ErrorDescription(small)
                                       : std::u16string_view(u"Unknown runtime error"));
  }
  if (Given(args, 3) && ChangeType(args[3], VT_BSTR, &v) == S_OK) {
    help_file_ = std::u16string(v.AsString());
  }
  if (Given(args, 4) && ChangeType(args[4], VT_I4, &v) == S_OK) {
    help_context_ = static_cast<int>(v.AsInteger());
  }
  if (excep) {
    excep->wcode = 0;
    excep->scode = small ? ScriptErrorCode(small) : static_cast<HResult>(number);
    excep->description = std::move(description);
    excep->source = std::move(source);
  }
  return DISP_E_EXCEPTION;
}

}  // namespace lun::script
