#include "pages/cookie_object.h"

#include <cstdio>
#include <ctime>

#include "automation/date_time.h"
#include "pages/argument_text.h"
#include "pages/page_encoding.h"
#include "platform/text.h"
#include "web/http_request.h"

namespace lun {
namespace {

// An attribute value may not end the attribute or the line early.
std::string AttributeSafe(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u != 0x7F && c != ';') out.push_back(c);
  }
  return out;
}

// "Sun, 06-Nov-1994 08:49:37 GMT" for a local date serial; empty when the
// date has no such time.
std::string ExpiresText(double local_serial) {
  DateParts parts;
  if (!SerialToParts(local_serial, &parts)) return {};
  std::tm local{};
  local.tm_year = parts.year - 1900;
  local.tm_mon = parts.month - 1;
  local.tm_mday = parts.day;
  local.tm_hour = parts.hour;
  local.tm_min = parts.minute;
  local.tm_sec = parts.second;
  local.tm_isdst = -1;
  const std::time_t when = std::mktime(&local);
  std::tm utc{};
  if (when == static_cast<std::time_t>(-1) || gmtime_r(&when, &utc) == nullptr) return {};
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d-%s-%d %02d:%02d:%02d GMT", kDays[utc.tm_wday % 7],
                utc.tm_mday, kMonths[utc.tm_mon % 12], utc.tm_year + 1900, utc.tm_hour,
                utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace

// ---------------------------------------------------------------- cookie

const CookieObject::Table CookieObject::kTable = {
    {{u"Item", kItem, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 2, {VT_VARIANT, VT_VARIANT},
      VT_VARIANT},
     &CookieObject::GetItem},
    {{u"Item", kItem, DISPATCH_PROPERTYPUT, 1, 2, {VT_VARIANT, VT_VARIANT}, VT_EMPTY},
     &CookieObject::PutItem},
    {{u"Path", kPath, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BSTR}, &CookieObject::GetPath},
    {{u"Path", kPath, DISPATCH_PROPERTYPUT, 1, 1, {VT_VARIANT}, VT_EMPTY}, &CookieObject::PutPath},
    {{u"Domain", kDomain, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BSTR}, &CookieObject::GetDomain},
    {{u"Domain", kDomain, DISPATCH_PROPERTYPUT, 1, 1, {VT_VARIANT}, VT_EMPTY},
     &CookieObject::PutDomain},
    {{u"Secure", kSecure, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BOOL}, &CookieObject::GetSecure},
    {{u"Secure", kSecure, DISPATCH_PROPERTYPUT, 1, 1, {VT_BOOL}, VT_EMPTY},
     &CookieObject::PutSecure},
    {{u"Expires", kExpires, DISPATCH_PROPERTYGET, 0, 0, {}, VT_DATE}, &CookieObject::GetExpires},
    {{u"Expires", kExpires, DISPATCH_PROPERTYPUT, 1, 1, {VT_DATE}, VT_EMPTY},
     &CookieObject::PutExpires},
    {{u"HasKeys", kHasKeys, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BOOL}, &CookieObject::GetHasKeys},
    {{u"_NewEnum", DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 0, {}, VT_DISPATCH},
     &CookieObject::GetNewEnum},
};

CookieObject::CookieObject(std::string name, std::weak_ptr<CookieCollection> owner)
    : TableDispatch(kTable), name_(std::move(name)), owner_(std::move(owner)) {}

void CookieObject::Touch() {
  if (changed_) return;
  changed_ = true;
  if (auto owner = owner_.lock(); owner && owner->Find(name_).get() != this) {
    owner->Attach(std::static_pointer_cast<CookieObject>(shared_from_this()));
  }
}

void CookieObject::SetFromHeader(std::string_view raw_value) {
  value_.clear();
  sub_keys_.clear();
  if (raw_value.find('=') == std::string_view::npos) {
    value_ = PercentDecode(raw_value);
    return;
  }
  size_t pos = 0;
  while (pos <= raw_value.size()) {
    size_t end = raw_value.find('&', pos);
    if (end == std::string_view::npos) end = raw_value.size();
    const std::string_view piece = raw_value.substr(pos, end - pos);
    pos = end + 1;
    if (piece.empty()) continue;
    const size_t equals = piece.find('=');
    const std::string key = PercentDecode(piece.substr(0, equals));
    const std::string value =
        equals == std::string_view::npos ? std::string() : PercentDecode(piece.substr(equals + 1));
    sub_keys_.emplace(key, value);
  }
}

void CookieObject::SetHeaderAttribute(std::string_view name, std::string_view value) {
  const std::u16string wide = ToWide(name);
  if (EqualsIgnoreAsciiCase(wide, u"Path")) path_ = std::string(value);
  if (EqualsIgnoreAsciiCase(wide, u"Domain")) domain_ = std::string(value);
}

std::string CookieObject::Value() const {
  if (sub_keys_.empty()) return value_;
  std::string joined;
  for (const auto& [key, value] : sub_keys_) {
    if (!joined.empty()) joined.push_back('&');
    joined += key;
    if (!value.empty()) joined += "=" + value;
  }
  return joined;
}

std::string CookieObject::SetCookieText() const {
  if (!IsHttpToken(name_)) return {};
  bool has_value = !value_.empty();
  std::string text = name_ + "=";
  if (sub_keys_.empty()) {
    text += UrlEncode(value_);
  } else {
    bool first = true;
    for (const auto& [key, value] : sub_keys_) {
      if (!first) text.push_back('&');
      first = false;
      text += UrlEncode(key);
      if (!value.empty()) text += "=" + UrlEncode(value);
      has_value = has_value || !value.empty();
    }
  }
  std::map<std::string, std::string> attributes;  // by name; "" for "secure"
  if (domain_) attributes["domain"] = "=" + AttributeSafe(*domain_);
  if (expires_) {
    const std::string when = ExpiresText(*expires_);
    if (!when.empty()) attributes["expires"] = "=" + when;
  }
  if (path_) attributes["path"] = "=" + AttributeSafe(*path_);
  if (secure_) attributes["secure"] = "";
  // Only this server reads its cookies: no script of a page may (a login
  // cookie read by injected script would leave with it), and no page of
  // another site may send them along.
  attributes["httponly"] = "";
  attributes["samesite"] = "=Strict";
  if (!has_value) {  // nothing to keep: the browser is told to forget the cookie
    attributes["max-age"] = "=0";
    attributes["version"] = "=1";
  }
  for (const auto& [attribute, value] : attributes) text += "; " + attribute + value;
  if (text.size() > kMaxCookieTextBytes) return {};
  return text;
}

HResult CookieObject::SetValueText(const Variant& value) {
  std::string text;
  if (ArgumentText(value, &text) != S_OK) return DISP_E_TYPEMISMATCH;
  value_ = std::move(text);
  sub_keys_.clear();
  Touch();
  return S_OK;
}

HResult CookieObject::SetSubKey(const Variant& key, const Variant& value) {
  std::string key_text;
  std::string value_text;
  if (ArgumentText(key, &key_text) != S_OK || ArgumentText(value, &value_text) != S_OK) {
    return DISP_E_TYPEMISMATCH;
  }
  value_.clear();  // a cookie holds a value or sub-keys, never both
  sub_keys_[key_text] = std::move(value_text);
  Touch();
  return S_OK;
}

HResult CookieObject::GetItem(std::span<Variant> args, Variant* result, ExcepInfo*) {
  if (args.size() == 2) return SetSubKey(args[0], args[1]);
  if (args.empty() || IsMissingArgument(args[0])) {
    *result = Variant::Bstr(ToWide(Value()));
    return S_OK;
  }
  std::string key;
  if (ArgumentText(args[0], &key) != S_OK) return DISP_E_TYPEMISMATCH;
  const auto found = sub_keys_.find(key);
  *result = Variant::Bstr(found == sub_keys_.end() ? std::u16string() : ToWide(found->second));
  return S_OK;
}

HResult CookieObject::PutItem(std::span<Variant> args, Variant*, ExcepInfo*) {
  if (args.size() == 1 || IsMissingArgument(args[0])) return SetValueText(args.back());
  return SetSubKey(args[0], args[1]);
}

HResult CookieObject::GetPath(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bstr(ToWide(path_.value_or("")));
  return S_OK;
}

HResult CookieObject::PutPath(std::span<Variant> args, Variant*, ExcepInfo*) {
  std::string text;
  if (ArgumentText(args[0], &text) != S_OK) return DISP_E_TYPEMISMATCH;
  path_ = std::move(text);
  Touch();
  return S_OK;
}

HResult CookieObject::GetDomain(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bstr(ToWide(domain_.value_or("")));
  return S_OK;
}

HResult CookieObject::PutDomain(std::span<Variant> args, Variant*, ExcepInfo*) {
  std::string text;
  if (ArgumentText(args[0], &text) != S_OK) return DISP_E_TYPEMISMATCH;
  domain_ = std::move(text);
  Touch();
  return S_OK;
}

HResult CookieObject::GetSecure(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(secure_);
  return S_OK;
}

HResult CookieObject::PutSecure(std::span<Variant> args, Variant*, ExcepInfo*) {
  secure_ = args[0].AsBool();
  Touch();
  return S_OK;
}

HResult CookieObject::GetExpires(std::span<Variant>, Variant* result, ExcepInfo*) {
  if (expires_) *result = Variant::Date(*expires_);
  return S_OK;
}

HResult CookieObject::PutExpires(std::span<Variant> args, Variant*, ExcepInfo*) {
  expires_ = args[0].AsDouble();
  Touch();
  return S_OK;
}

HResult CookieObject::GetHasKeys(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::Bool(!sub_keys_.empty());
  return S_OK;
}

HResult CookieObject::GetNewEnum(std::span<Variant>, Variant* result, ExcepInfo*) {
  std::vector<Variant> keys;
  for (const auto& entry : sub_keys_) keys.push_back(Variant::Bstr(ToWide(entry.first)));
  *result = Variant::Object(std::make_shared<VectorEnumerator>(std::move(keys)));
  return S_OK;
}

// ---------------------------------------------------------------- collection

const CookieCollection::Table CookieCollection::kTable = {
    {{u"Item", kItem, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 1, 1, {VT_VARIANT}, VT_DISPATCH},
     &CookieCollection::GetItem},
    {{u"Item", kItem, DISPATCH_PROPERTYPUT, 2, 2, {VT_VARIANT, VT_VARIANT}, VT_EMPTY},
     &CookieCollection::PutItem},
    {{u"Count", kCount, DISPATCH_PROPERTYGET, 0, 0, {}, VT_I4}, &CookieCollection::GetCount},
    {{u"Key", kKey, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 1, 1, {VT_I4}, VT_BSTR},
     &CookieCollection::GetKey},
    {{u"_NewEnum", DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, 0, 0, {}, VT_DISPATCH},
     &CookieCollection::GetNewEnum},
};

std::shared_ptr<CookieObject> CookieCollection::NewCookie(std::string name) {
  return std::make_shared<CookieObject>(
      std::move(name), std::static_pointer_cast<CookieCollection>(shared_from_this()));
}

void CookieCollection::AddRequestCookies(const std::vector<RequestCookie>& cookies) {
  for (const RequestCookie& sent : cookies) {
    if (cookies_.count(sent.name) != 0) continue;
    auto cookie = NewCookie(sent.name);
    cookie->SetFromHeader(sent.value);
    for (const auto& [name, value] : sent.attributes) cookie->SetHeaderAttribute(name, value);
    cookies_.emplace(sent.name, std::move(cookie));
  }
}

std::shared_ptr<CookieObject> CookieCollection::Find(std::string_view name) const {
  const auto found = cookies_.find(name);
  return found == cookies_.end() ? nullptr : found->second;
}

void CookieCollection::Attach(std::shared_ptr<CookieObject> cookie) {
  std::string name = cookie->name();
  cookies_[std::move(name)] = std::move(cookie);
}

std::vector<std::string> CookieCollection::SetCookieTexts() const {
  std::vector<std::string> texts;
  for (const auto& entry : cookies_) {
    if (!entry.second->changed()) continue;
    std::string text = entry.second->SetCookieText();
    if (!text.empty()) texts.push_back(std::move(text));
  }
  return texts;
}

HResult CookieCollection::Lookup(const Variant& key, std::shared_ptr<CookieObject>* cookie,
                                 ExcepInfo* excep) {
  if (key.is_numeric()) {
    Variant index;
    if (ChangeType(key, VT_I4, &index) != S_OK) return DISP_E_TYPEMISMATCH;
    const std::int64_t position = index.AsInteger();
    if (position < 1 || position > static_cast<std::int64_t>(cookies_.size())) {
      return RaiseException(excep, 9, u"Subscript out of range");
    }
    *cookie = std::next(cookies_.begin(), static_cast<std::ptrdiff_t>(position - 1))->second;
    return S_OK;
  }
  std::string name;
  if (ArgumentText(key, &name) != S_OK) return DISP_E_TYPEMISMATCH;
  *cookie = Find(name);
  if (!*cookie) *cookie = NewCookie(std::move(name));
  return S_OK;
}

HResult CookieCollection::GetItem(std::span<Variant> args, Variant* result, ExcepInfo* excep) {
  std::shared_ptr<CookieObject> cookie;
  const HResult hr = Lookup(args[0], &cookie, excep);
  if (hr == S_OK) *result = Variant::Object(std::move(cookie));
  return hr;
}

HResult CookieCollection::PutItem(std::span<Variant> args, Variant* result, ExcepInfo* excep) {
  std::shared_ptr<CookieObject> cookie;
  const HResult hr = Lookup(args[0], &cookie, excep);
  if (hr != S_OK) return hr;
  return cookie->PutItem(args.subspan(1), result, excep);
}

HResult CookieCollection::GetCount(std::span<Variant>, Variant* result, ExcepInfo*) {
  *result = Variant::I4(static_cast<std::int32_t>(cookies_.size()));
  return S_OK;
}

HResult CookieCollection::GetKey(std::span<Variant> args, Variant* result, ExcepInfo* excep) {
  const std::int64_t position = args[0].AsInteger();
  if (position < 1 || position > static_cast<std::int64_t>(cookies_.size())) {
    return RaiseException(excep, 9, u"Subscript out of range");
  }
  *result = Variant::Bstr(
      ToWide(std::next(cookies_.begin(), static_cast<std::ptrdiff_t>(position - 1))->first));
  return S_OK;
}

HResult CookieCollection::GetNewEnum(std::span<Variant>, Variant* result, ExcepInfo*) {
  std::vector<Variant> names;
  for (const auto& entry : cookies_) names.push_back(Variant::Bstr(ToWide(entry.first)));
  *result = Variant::Object(std::make_shared<VectorEnumerator>(std::move(names)));
  return S_OK;
}

}  // namespace lun
