#include "pages/request_object.h"

#include "platform/text.h"

namespace lun {
namespace {

void CopyInto(const NameValueList& list, Dictionary* dictionary) {
  for (const auto& [name, value] : list.entries()) {
    // Names are unique in the list, so Add cannot meet a duplicate.
    (void)dictionary->Add(Variant::Bstr(ToWide(name)), Variant::Bstr(ToWide(value)), nullptr);
  }
}

// The text a collection holds for `name`, without adding the name.
std::u16string_view FoundText(const Dictionary& dictionary, const Variant& name) {
  const Variant* found = dictionary.Find(name);
  return found != nullptr && found->is_string() ? found->AsString() : std::u16string_view();
}

}  // namespace

const RequestObject::Table RequestObject::kTable = {
    {{u"QueryString", kQueryString, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_DISPATCH},
     &RequestObject::GetQueryString},
    {{u"Form", kForm, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_DISPATCH},
     &RequestObject::GetForm},
    {{u"ServerVariables", kServerVariables, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {},
      VT_DISPATCH},
     &RequestObject::GetServerVariables},
    {{u"Cookies", kCookies, DISPATCH_PROPERTYGET | DISPATCH_METHOD, 0, 0, {}, VT_DISPATCH},
     &RequestObject::GetCookies},
    {{u"Item", kItem, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 1, 1, {VT_BSTR}, VT_BSTR},
     &RequestObject::GetItem},
};

RequestObject::RequestObject() : TableDispatch(kTable) {}

void RequestObject::Fill(const PageRequest& request) {
  CopyInto(request.server_variables, server_variables_.get());
  CopyInto(request.query, query_string_.get());
  CopyInto(request.form, form_.get());
  if (request.has_cookie_header) cookies_->AddRequestCookies(request.cookies);
}

HResult RequestObject::GetQueryString(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Object(query_string_);
  return S_OK;
}

HResult RequestObject::GetForm(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Object(form_);
  return S_OK;
}

HResult RequestObject::GetServerVariables(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Object(server_variables_);
  return S_OK;
}

HResult RequestObject::GetCookies(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Object(cookies_);
  return S_OK;
}

HResult RequestObject::GetItem(std::span<Variant> args, Variant* result, ExcepInfo*) {
  const std::u16string_view form = FoundText(*form_, args[0]);
  *result = Variant::Bstr(form.empty() ? FoundText(*query_string_, args[0]) : form);
  return S_OK;
}

}  // namespace lun
