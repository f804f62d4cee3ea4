// The cookie collection that Request.Cookies and Response.Cookies share, and
// its cookies.
//
// A cookie has a name and either a value or sub-keys (key/value pairs,
// "a=1&b=2" on the wire), and the attributes Path, Domain, Secure and
// Expires. The collection keeps its cookies by name in byte order.
//
// Script view:
//   Cookies.Count, Cookies.Key(i) (1-based), Cookies("name") or
//   Cookies(i) (the default member Item), Cookies("name") = "value",
//   For Each name In Cookies;
//   c("key") (sub-key), c() or c (the value), c("key") = v, c.Item "key", v,
//   c.HasKeys, c.Path, c.Domain, c.Secure, c.Expires, For Each key In c.
// Reading a cookie that does not exist gives an empty cookie that joins the
// collection only when the page writes to it, so that looking at a cookie
// never sends one.
//
// Output: only cookies the page wrote to become "Set-Cookie" lines. The
// cookies the browser sent are not echoed back: an echo would drop their
// expiry (the browser does not send it), turning every lasting cookie into
// one that ends with the browser session. A written cookie whose value is
// empty and that has no sub-key with a value is sent as a deletion
// ("max-age=0; version=1"). Every cookie is sent "httponly" and
// "samesite=Strict": only this server reads them. Values and sub-keys are URL-encoded on output
// and decoded on input, so "&", "=", ";" and line breaks inside them
// survive.
//
// Thread safety: none; objects of one page run on its thread.
#ifndef LUN_PAGES_COOKIE_OBJECT_H_
#define LUN_PAGES_COOKIE_OBJECT_H_

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/member_table.h"
#include "web/request_variables.h"

namespace lun {

class CookieCollection;

// Longest "Set-Cookie" text (without "Set-Cookie: ") that is sent; a longer
// cookie is left out.
inline constexpr size_t kMaxCookieTextBytes = 2047;

class CookieObject : public TableDispatch<CookieObject> {
 public:
  enum : DispId { kItem = DISPID_VALUE, kPath = 1, kDomain, kSecure, kExpires, kHasKeys };
  static const Table kTable;

  // A cookie of `owner` (may be expired) that joins it when first written.
  CookieObject(std::string name, std::weak_ptr<CookieCollection> owner);

  const std::string& name() const { return name_; }
  // Whether the page wrote to the cookie.
  bool changed() const { return changed_; }
  // Takes the value of a "Cookie" header: "k1=v1&k2=v2" gives sub-keys,
  // anything else the value; the parts are percent-decoded. Not a write.
  void SetFromHeader(std::string_view raw_value);
  // A "$Path" or "$Domain" attribute of the header (name without "$", case
  // ignored); other names are ignored. Not a write.
  void SetHeaderAttribute(std::string_view name, std::string_view value);
  // The value, or the sub-keys joined as "k1=v1&k2=v2" when it has keys.
  std::string Value() const;
  // The text of its "Set-Cookie" line without "Set-Cookie: ": name=value
  // then "; "-separated attributes in name order (domain, expires,
  // max-age, path, secure, version). Empty when the name cannot be a cookie
  // name or the text is longer than kMaxCookieTextBytes.
  std::string SetCookieText() const;

  HResult GetItem(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutItem(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetPath(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutPath(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetDomain(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutDomain(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetSecure(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutSecure(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetExpires(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutExpires(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetHasKeys(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetNewEnum(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  std::u16string TypeName() const override { return u"Cookie"; }

 private:
  // Marks the cookie written and makes it part of its collection.
  void Touch();
  HResult SetValueText(const Variant& value);
  HResult SetSubKey(const Variant& key, const Variant& value);

  const std::string name_;
  const std::weak_ptr<CookieCollection> owner_;
  bool changed_ = false;
  std::string value_;
  std::map<std::string, std::string> sub_keys_;
  std::optional<std::string> path_;
  std::optional<std::string> domain_;
  bool secure_ = false;
  std::optional<double> expires_;  // local time, as scripts give dates
};

class CookieCollection : public TableDispatch<CookieCollection> {
 public:
  enum : DispId { kItem = DISPID_VALUE, kCount = 1, kKey = 2 };
  static const Table kTable;

  CookieCollection() : TableDispatch(kTable) {}

  // Adds the cookies of the request's "Cookie" header (unchanged cookies;
  // a name already present keeps its cookie).
  void AddRequestCookies(const std::vector<RequestCookie>& cookies);
  // The cookie of that name, or null.
  std::shared_ptr<CookieObject> Find(std::string_view name) const;
  // Adds `cookie` under its name, replacing a cookie of the same name.
  void Attach(std::shared_ptr<CookieObject> cookie);
  // The texts of the "Set-Cookie" lines (without "Set-Cookie: "), in name
  // order, for the cookies the page wrote.
  std::vector<std::string> SetCookieTexts() const;

  HResult GetItem(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutItem(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetCount(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetKey(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetNewEnum(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  std::u16string TypeName() const override { return u"Cookies"; }

 private:
  // The cookie named or numbered (1-based) by `key`; a missing name gives a
  // new cookie that is not yet part of the collection.
  HResult Lookup(const Variant& key, std::shared_ptr<CookieObject>* cookie, ExcepInfo* excep);
  std::shared_ptr<CookieObject> NewCookie(std::string name);

  std::map<std::string, std::shared_ptr<CookieObject>, std::less<>> cookies_;
};

}  // namespace lun

#endif  // LUN_PAGES_COOKIE_OBJECT_H_
