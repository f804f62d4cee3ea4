// The request variables a page sees: server variables in the way of CGI, the
// query-string and form collections, and the request cookies.
//
// Pure functions over the parsed request; the page objects copy the results
// into their script collections.
#ifndef LUN_WEB_REQUEST_VARIABLES_H_
#define LUN_WEB_REQUEST_VARIABLES_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "web/http_request.h"

namespace lun {

// An ordered name/value collection. Names compare byte for byte (case
// counts), as the script dictionaries do by default.
class NameValueList {
 public:
  // Adds the pair unless `name` is present; returns whether it was added.
  // The first value given for a name wins.
  bool Add(std::string_view name, std::string_view value);
  // Sets `name`, replacing the value in place when present.
  void Set(std::string_view name, std::string_view value);
  const std::string* Find(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& entries() const { return entries_; }
  size_t size() const { return entries_.size(); }

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// One cookie of the "Cookie" header with the "$" attributes that followed it
// ("$Path=/" gives the attribute {"Path", "/"}). The value is raw: it may hold
// sub-keys (key1=value1&key2=value2) that the page objects split.
struct RequestCookie {
  std::string name;
  std::string value;
  std::vector<std::pair<std::string, std::string>> attributes;
};

// Who serves: the user the program runs as and the computer's name.
struct ServerIdentity {
  std::string user_name;
  std::string computer_name;
  // Reads both from the system; a name that cannot be read stays empty.
  static ServerIdentity FromSystem();
};

// The server variables of one request, in this order: LOGON_USER,
// SERVER_NAME, SERVER_SOFTWARE, SERVER_PROTOCOL, REQUEST_METHOD, LOCAL_ADDR,
// SERVER_PORT, REMOTE_ADDR, REMOTE_HOST (the Host header), HTTP_USER_AGENT,
// HTTP_ACCEPT (each of the three only when its header was sent, value as sent
// with its leading blank), QUERY_STRING, SCRIPT_NAME, PATH_INFO (both the
// decoded path), PATH_TRANSLATED. `method` is the upper-cased method;
// `query_string` the raw query with any path segments appended.
NameValueList FillServerVariables(const HttpRequest& request, std::string_view method,
                                  std::string_view query_string,
                                  std::string_view path_translated,
                                  const ConnectionInfo& connection,
                                  const ServerIdentity& identity);

// The query-string collection: "&amp;" survives inside values as "&", pieces
// are split at "&", pieces without "=" are ignored, values (not names) are
// decoded by Utf8QueryDecode, and the first value of a name wins.
NameValueList ParseQueryString(std::string_view query_string);

// Decoding of query-string values: "%XY" escapes form bytes, and an escaped
// UTF-8 sequence (lead byte and continuation escapes) becomes that character
// in the system code page. "+" stays "+". A "%" too near the end for its
// escape or its sequence ends the text. An escaped byte that cannot start a
// character (0x80-0xBF, 0xFE, 0xFF) and a malformed sequence become U+FFFD;
// decoding goes on after them.
std::string Utf8QueryDecode(std::string_view text);

// The form collection from the form data ("a=1&b=2&"): pieces with "=", the
// value percent-decoded with "+" as blank (PercentDecode), first value wins.
NameValueList ParseForm(std::string_view form_data);

// The request cookies of a "Cookie" header value: pieces at ";", name trimmed,
// "$Version" and empty names skipped, "$" names are attributes of the cookie
// before them. A name given twice keeps its first cookie.
std::vector<RequestCookie> ParseCookies(std::string_view header_value);

}  // namespace lun

#endif  // LUN_WEB_REQUEST_VARIABLES_H_
