// Response: what goes back to the browser.
//
// Script view:
//   Write text        appends the text (UTF-8) while writing is on; Null and
//                     Empty write nothing
//   BinaryWrite bytes appends a byte array unchanged while writing is on
//   End               turns writing off (the script itself goes on)
//   Clear             empties the output and turns writing on again
//   Redirect url      the answer becomes "302 Object Moved" to `url`
//   AddHeader n, v    sets a response header (a later value replaces)
//   Buffer            a stored flag; output is always gathered until the
//                     page ends
//   Cookies           the cookie collection shared with Request;
//                     Cookies("n") = "v" sets a cookie
//
// Bounds: the output is at most kMaxPageOutputBytes (64 MiB); a Write or
// BinaryWrite past it is the script error 7 "Out of memory" and adds
// nothing, so a page that writes without end fails instead of exhausting the
// process's memory. A header name must be a
// token (no blanks, control characters or ":"), else error 5.
//
// Thread safety: none; one Response per page run, used on its thread.
#ifndef LUN_PAGES_RESPONSE_OBJECT_H_
#define LUN_PAGES_RESPONSE_OBJECT_H_

#include <map>
#include <memory>
#include <string>

#include "automation/member_table.h"
#include "pages/cookie_object.h"

namespace lun {

inline constexpr size_t kMaxPageOutputBytes = size_t{64} << 20;

class ResponseObject : public TableDispatch<ResponseObject> {
 public:
  enum : DispId { kCookies = 1, kBuffer, kEnd, kClear, kWrite, kBinaryWrite, kRedirect, kAddHeader };
  static const Table kTable;

  // `cookies` is the collection of the page's Request object; the output
  // holds at most `max_output` bytes.
  explicit ResponseObject(std::shared_ptr<CookieCollection> cookies,
                          size_t max_output = kMaxPageOutputBytes);

  const std::string& output() const { return output_; }
  // Empties the output (the start of a run); writing stays as it is.
  void ClearOutput() { output_.clear(); }
  // Whether Write still writes: true at the start, false after End, true
  // again after Clear. The page counts as active while it is set.
  bool writing() const { return writing_; }
  // Empty unless Redirect was called.
  const std::string& redirect() const { return redirect_; }
  // The headers by name in byte order. The host sets the default ones
  // before the page runs; the page may replace them.
  std::map<std::string, std::string>& headers() { return headers_; }
  const std::shared_ptr<CookieCollection>& cookies() const { return cookies_; }

  HResult GetCookies(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutCookies(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult GetBuffer(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult PutBuffer(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult End(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Clear(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Write(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult BinaryWrite(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult Redirect(std::span<Variant> args, Variant* result, ExcepInfo* excep);
  HResult AddHeader(std::span<Variant> args, Variant* result, ExcepInfo* excep);

  std::u16string TypeName() const override { return u"Response"; }

 private:
  HResult Append(std::string_view bytes, ExcepInfo* excep);

  const std::shared_ptr<CookieCollection> cookies_;
  const size_t max_output_;
  std::string output_;
  std::string redirect_;
  bool writing_ = true;
  bool buffer_ = true;
  std::map<std::string, std::string> headers_;
};

}  // namespace lun

#endif  // LUN_PAGES_RESPONSE_OBJECT_H_
