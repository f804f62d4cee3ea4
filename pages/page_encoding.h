// The text encodings of the page objects: URL encoding (Server.URLEncode and
// cookie values) and HTML encoding (Server.HTMLEncode).
//
// Both work on the bytes of the system code page (UTF-8), so a character of
// several bytes is encoded byte by byte. Pure functions.
#ifndef LUN_PAGES_PAGE_ENCODING_H_
#define LUN_PAGES_PAGE_ENCODING_H_

#include <string>
#include <string_view>

namespace lun {

// A blank becomes "+"; every byte below 0x20 or above 0x7E and each of
// " # $ % & + , ; < = > ? @ [ \ ] ^ ` { | } becomes "%XX" (upper-case hex);
// every other byte is copied. "a b&c" gives "a+b%26c".
std::string UrlEncode(std::string_view text);

// Replaces " & ' < > by "&quot;", "&amp;", "&apos;", "&lt;", "&gt;"; every
// other byte is copied.
std::string HtmlEncode(std::string_view text);

// True for a token of HTTP: at least one visible ASCII character and none
// of the separators ()<>@,;:\"/[]?={}. Header and cookie names must be
// tokens, so that a name can neither add a line nor hide a second field.
bool IsHttpToken(std::string_view text);

}  // namespace lun

#endif  // LUN_PAGES_PAGE_ENCODING_H_
