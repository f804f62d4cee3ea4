// libxml2 helpers shared by the HTML, Office Open XML, ODF and EPUB readers.
// Internal to the extraction library.
//
// Security: documents are parsed without network access, without loading
// external DTDs and without substituting entities (no XML_PARSE_NOENT), so a
// hostile document can neither reach out nor expand an entity bomb; libxml2's
// own depth limit (256 without XML_PARSE_HUGE) bounds nesting.
#ifndef LUN_CRAWLER_EXTRACT_XML_SUPPORT_H_
#define LUN_CRAWLER_EXTRACT_XML_SUPPORT_H_

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "crawler/extract/extract_result.h"

namespace lun {

// Initialises libxml2 once per process and silences its error printing.
// Safe to call from any thread, any number of times.
void InitXmlLibrary();

// How a document's elements turn into text, by local name (prefix ignored:
// "w:t" and "a:t" are both "t").
struct XmlTextRules {
  // Text is taken only inside these elements; empty: all text.
  std::vector<std::string_view> text_elements;
  // These end a line (paragraphs, headings, rows).
  std::vector<std::string_view> line_elements;
  // These (empty elements) stand for a line break, a tab or a blank.
  std::vector<std::string_view> break_elements;
  std::vector<std::string_view> tab_elements;
  std::vector<std::string_view> space_elements;
  // Subtrees that carry no reader-visible text (deleted runs, phonetics).
  std::vector<std::string_view> skip_elements;
};

// Streams `xml` and appends its text to `sink` following `rules`. False when
// the XML is malformed; the text before the fault stays in the sink.
bool XmlToText(std::string_view xml, const XmlTextRules& rules, TextSink* sink);

// One element of a streamed document, for readers that need attributes.
struct XmlElement {
  std::string_view local_name;
  int depth = 0;
  // The value of attribute `name` (local name), or empty.
  std::function<std::string(const char* name)> attribute;
};

// Streams `xml`, calling `on_element` for every start tag and `on_text` for
// every text node (with the depth of the text). Either callback returns
// false to stop. False when the XML is malformed.
bool XmlStream(std::string_view xml, const std::function<bool(const XmlElement&)>& on_element,
               const std::function<bool(std::string_view text, int depth)>& on_text,
               const std::function<void(std::string_view local_name, int depth)>& on_end = {});

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_XML_SUPPORT_H_
