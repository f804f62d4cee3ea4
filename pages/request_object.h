// Request: what the browser sent, as a page sees it.
//
// Script view (published with global members, so QueryString("q"),
// Form("x") and Item("q") work without the prefix):
//   QueryString, Form, ServerVariables: Scripting.Dictionary objects
//     (names compared byte for byte; reading a missing name gives Empty);
//   Cookies: the cookie collection shared with Response (cookie_object.h);
//   Item(name): the form value when it is a non-empty string, otherwise the
//     query-string value ("" when neither has the name). It is the default
//     member, so Request("q") means Request.Item("q").
//
// Thread safety: none; one Request per page run, used on its thread.
#ifndef LUN_PAGES_REQUEST_OBJECT_H_
#define LUN_PAGES_REQUEST_OBJECT_H_

#include <memory>

#include "automation/dictionary.h"
#include "automation/member_table.h"
#include "pages/cookie_object.h"
#include "web/page_runner.h"

namespace lun {

class RequestObject : public TableDispatch<RequestObject> {
 public:
  enum : DispId { kItem = DISPID_VALUE, kQueryString = 1, kForm, kServerVariables, kCookies };
  static const Table kTable;

  // Builds the object with empty collections.
  RequestObject();

  // Fills the collections from the parsed request: server variables, query
  // string, form, and the cookies when a "Cookie" header was sent. Call once.
  void Fill(const PageRequest& request);

  // The collection shared with the Response object.
  const std::shared_ptr<CookieCollection>& cookies() const { return cookies_; }

  HResult GetQueryString(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetForm(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetServerVariables(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetCookies(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetItem(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  std::u16string TypeName() const override { return u"Request"; }

 private:
  const std::shared_ptr<Dictionary> query_string_ = std::make_shared<Dictionary>();
  const std::shared_ptr<Dictionary> form_ = std::make_shared<Dictionary>();
  const std::shared_ptr<Dictionary> server_variables_ = std::make_shared<Dictionary>();
  const std::shared_ptr<CookieCollection> cookies_ = std::make_shared<CookieCollection>();
};

}  // namespace lun

#endif  // LUN_PAGES_REQUEST_OBJECT_H_
