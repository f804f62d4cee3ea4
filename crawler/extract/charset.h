// Turning the bytes of a text document into UTF-16, whatever its charset.
//
// Thread-safe; no state survives a call.
#ifndef LUN_CRAWLER_EXTRACT_CHARSET_H_
#define LUN_CRAWLER_EXTRACT_CHARSET_H_

#include <string>
#include <string_view>

namespace lun {

// Decodes `bytes` with `charset` (an ICU or IANA name such as "GBK",
// "windows-1252", "UTF-8"). False when the charset is unknown to ICU; `*out`
// is then untouched. Undecodable sequences become U+FFFD.
bool DecodeWithCharset(std::string_view bytes, std::string_view charset, std::u16string* out);

// Decodes text of unknown charset, in this order: a UTF-8 or UTF-16 byte
// order mark; the `declared` charset (from an HTML meta element or a MIME
// header) when ICU knows it; valid UTF-8; BOM-less UTF-16 recognised by its
// zero bytes; the charset uchardet detects; else GB18030, the superset of the
// code page (GBK) in which the system's text was first written.
std::u16string DecodeText(std::string_view bytes, std::string_view declared = {});

// Text whose charset nothing declares and which is too short to detect one
// in (mail headers written raw in 8 bits, member names of archives): UTF-8
// when the bytes are valid UTF-8, else GB18030 (which takes GB2312 and GBK),
// the charset such text comes in from Chinese mail services and tools.
std::u16string DecodeUtf8OrGb18030(std::string_view bytes);

// True when every byte above 0x7F of `bytes` is one of a GBK pair (lead
// 0x81-0xFE, trail 0x40-0xFE but 0x7F) and at least `min_gb2312_pairs` of
// the pairs lie in the GB2312 area (both bytes 0xA1 or above), where
// Chinese text lives and Latin-1 words seldom do.
bool LooksLikeGbk(std::string_view bytes, int min_gb2312_pairs);

// A short field written in a legacy 8-bit charset (music tags, photo
// metadata), too short for charset detection: UTF-8 when valid, GB18030
// when it looks like GBK (one GB2312 pair at least), else Windows-1252.
std::u16string DecodeShortField(std::string_view bytes);

// True when `bytes` look like binary data rather than text: 0 bytes that are
// not the high halves of UTF-16 text.
bool LooksBinary(std::string_view bytes);

// Replaces C0 control characters other than tab, line feed, carriage return
// and form feed by blanks, in place: a stray control byte must not reach the
// index or a result page.
void ScrubControlCharacters(std::u16string* text);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_CHARSET_H_
