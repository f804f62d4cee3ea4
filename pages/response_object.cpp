#include "pages/response_object.h"

#include "pages/argument_text.h"
#include "pages/page_encoding.h"

namespace lun {
const ResponseObject::Table ResponseObject::kTable = {
    {{u"Cookies", kCookies, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_DISPATCH},
     &ResponseObject::GetCookies},
    // Response.Cookies("n") = "v" reaches the object as a put of Cookies
    // with the name and the value; it goes on to the collection's Item.
    {{u"Cookies", kCookies, DISPATCH_PROPERTYPUT, 2, 2, {VT_VARIANT, VT_VARIANT}, VT_EMPTY},
     &ResponseObject::PutCookies},
    {{u"Buffer", kBuffer, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BOOL}, &ResponseObject::GetBuffer},
    {{u"Buffer", kBuffer, DISPATCH_PROPERTYPUT, 1, 1, {VT_BOOL}, VT_EMPTY},
     &ResponseObject::PutBuffer},
    {{u"End", kEnd, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &ResponseObject::End},
    {{u"Clear", kClear, DISPATCH_METHOD, 0, 0, {}, VT_EMPTY}, &ResponseObject::Clear},
    {{u"Write", kWrite, DISPATCH_METHOD, 1, 1, {VT_VARIANT}, VT_EMPTY}, &ResponseObject::Write},
    {{u"BinaryWrite", kBinaryWrite, DISPATCH_METHOD, 1, 1, {static_cast<VarType>(VT_ARRAY | VT_UI1)}, VT_EMPTY},
     &ResponseObject::BinaryWrite},
    {{u"Redirect", kRedirect, DISPATCH_METHOD, 1, 1, {VT_VARIANT}, VT_EMPTY},
     &ResponseObject::Redirect},
    {{u"AddHeader", kAddHeader, DISPATCH_METHOD, 2, 2, {VT_VARIANT, VT_VARIANT}, VT_EMPTY},
     &ResponseObject::AddHeader},
};

ResponseObject::ResponseObject(std::shared_ptr<CookieCollection> cookies, size_t max_output)
    : TableDispatch(kTable), cookies_(std::move(cookies)), max_output_(max_output) {}

HResult ResponseObject::Append(std::string_view bytes, ExcepInfo* excep) {
  if (!writing_) return S_OK;  // after End: ignored without an error
  if (output_.size() > max_output_ || bytes.size() > max_output_ - output_.size()) {
    return RaiseException(excep, 7, u"Out of memory: the page output is too large");
  }
  output_.append(bytes);
  return S_OK;
}

HResult ResponseObject::GetCookies(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Object(cookies_);
  return S_OK;
}

HResult ResponseObject::PutCookies(std::span<Variant> args, Variant* result, ExcepInfo* excep) {
  return cookies_->Invoke(DISPID_VALUE, DISPATCH_PROPERTYPUT, args, result, excep);
}

HResult ResponseObject::GetBuffer(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(buffer_);
  return S_OK;
}

HResult ResponseObject::PutBuffer(std::span<Variant> args, Variant*, ExcepInfo*) {
  buffer_ = args[0].AsBool();
  return S_OK;
}

HResult ResponseObject::End(std::span<Variant>, Variant*, ExcepInfo*) {
  writing_ = false;
  return S_OK;
}

HResult ResponseObject::Clear(std::span<Variant>, Variant*, ExcepInfo*) {
  output_.clear();
  writing_ = true;
  return S_OK;
}

HResult ResponseObject::Write(std::span<Variant> args, Variant*, ExcepInfo* excep) {
  std::string text;
  if (ArgumentText(args[0], &text) != S_OK) return DISP_E_TYPEMISMATCH;
  return Append(text, excep);
}

HResult ResponseObject::BinaryWrite(std::span<Variant> args, Variant*, ExcepInfo* excep) {
  const auto& array = args[0].AsArray();
  if (!array || array->element_type() != VT_UI1) return DISP_E_TYPEMISMATCH;
  const std::span<const std::uint8_t> bytes = array->bytes();
  return Append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                excep);
}

HResult ResponseObject::Redirect(std::span<Variant> args, Variant*, ExcepInfo*) {
  return ArgumentText(args[0], &redirect_);
}

HResult ResponseObject::AddHeader(std::span<Variant> args, Variant*, ExcepInfo* excep) {
  std::string name;
  std::string value;
  if (ArgumentText(args[0], &name) != S_OK || ArgumentText(args[1], &value) != S_OK) {
    return DISP_E_TYPEMISMATCH;
  }
  if (!IsHttpToken(name)) {
    return RaiseException(excep, 5, u"Invalid procedure call or argument: a header name");
  }
  headers_[name] = std::move(value);
  return S_OK;
}

}  // namespace lun
