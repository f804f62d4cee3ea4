// Text of an HTML page: what a reader sees, without scripts and styles.
//
// Entities are decoded, white space runs become one blank, block elements
// (paragraphs, list items, rows, headings, <br>) start new lines, and the
// <title> comes first. The charset is the one the page declares in a meta
// element, else the one detected from its bytes (charset.h). Any markup,
// however broken, gives the text the HTML parser recovers; there is no
// failure status besides an empty page. Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_HTML_TEXT_H_
#define LUN_CRAWLER_EXTRACT_HTML_TEXT_H_

#include <string>
#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// Appends the text of the page in `bytes` to `sink`. `charset`, when given,
// overrides the page's own declaration (a MIME part's header says it).
void HtmlToText(std::string_view bytes, TextSink* sink, std::string_view charset = {});

// The charset named by a meta element or an XML declaration in the head of
// `bytes` ("gb2312" for <meta charset="gb2312">), or empty.
std::string DeclaredHtmlCharset(std::string_view bytes);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_HTML_TEXT_H_
