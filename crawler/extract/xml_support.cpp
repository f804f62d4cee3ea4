#include "crawler/extract/xml_support.h"

#include <libxml/parser.h>
#include <libxml/xmlreader.h>

#include <algorithm>
#include <climits>
#include <memory>
#include <mutex>

namespace lun {
namespace {

void IgnoreXmlError(void*, const char*, ...) {}
void IgnoreStructuredError(void*, xmlErrorPtr) {}

bool Contains(const std::vector<std::string_view>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

std::string_view Str(const xmlChar* s) {
  return s ? std::string_view(reinterpret_cast<const char*>(s)) : std::string_view();
}

// The local name of an element or attribute. With an undeclared prefix
// libxml2 reports the whole "a:t"; the part after the colon is still meant.
std::string_view LocalName(const xmlChar* s) {
  std::string_view name = Str(s);
  const size_t colon = name.rfind(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

constexpr int kParseOptions =
    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA;

}  // namespace

void InitXmlLibrary() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    // Error handlers are per thread in libxml2; the parse options above keep
    // the parsers quiet on every thread, these cover the calling one.
    xmlSetGenericErrorFunc(nullptr, &IgnoreXmlError);
    xmlSetStructuredErrorFunc(nullptr, &IgnoreStructuredError);
  });
}

bool XmlStream(std::string_view xml, const std::function<bool(const XmlElement&)>& on_element,
               const std::function<bool(std::string_view text, int depth)>& on_text,
               const std::function<void(std::string_view local_name, int depth)>& on_end) {
  if (xml.size() > static_cast<size_t>(INT_MAX)) return false;
  InitXmlLibrary();
  std::unique_ptr<xmlTextReader, decltype(&xmlFreeTextReader)> reader(
      xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                         kParseOptions),
      &xmlFreeTextReader);
  if (!reader) return false;
  xmlTextReaderSetErrorHandler(reader.get(), nullptr, nullptr);
  xmlTextReaderSetStructuredErrorHandler(reader.get(), nullptr, nullptr);
  xmlTextReaderPtr r = reader.get();
  int rc;
  while ((rc = xmlTextReaderRead(r)) == 1) {
    const int type = xmlTextReaderNodeType(r);
    const int depth = xmlTextReaderDepth(r);
    if (type == XML_READER_TYPE_ELEMENT) {
      XmlElement element;
      element.local_name = LocalName(xmlTextReaderConstLocalName(r));
      element.depth = depth;
      element.attribute = [r](const char* name) {
        std::string value;
        if (xmlTextReaderMoveToFirstAttribute(r) == 1) {
          do {
            if (LocalName(xmlTextReaderConstLocalName(r)) == name) {
              value = std::string(Str(xmlTextReaderConstValue(r)));
              break;
            }
          } while (xmlTextReaderMoveToNextAttribute(r) == 1);
          xmlTextReaderMoveToElement(r);
        }
        return value;
      };
      if (on_element && !on_element(element)) return true;
      if (xmlTextReaderIsEmptyElement(r) == 1 && on_end) on_end(element.local_name, depth);
    } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
               type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE) {
      if (on_text && !on_text(Str(xmlTextReaderConstValue(r)), depth)) return true;
    } else if (type == XML_READER_TYPE_END_ELEMENT) {
      if (on_end) on_end(LocalName(xmlTextReaderConstLocalName(r)), depth);
    }
  }
  return rc == 0;
}

bool XmlToText(std::string_view xml, const XmlTextRules& rules, TextSink* sink) {
  int skip_depth = -1;   // depth of the skipped subtree's root, or -1
  int text_open = 0;     // open text elements
  const bool all_text = rules.text_elements.empty();
  auto on_element = [&](const XmlElement& e) {
    if (skip_depth >= 0) return true;
    if (Contains(rules.skip_elements, e.local_name)) {
      skip_depth = e.depth;
      return true;
    }
    if (Contains(rules.text_elements, e.local_name)) ++text_open;
    if (Contains(rules.break_elements, e.local_name)) sink->Append(u'\n');
    if (Contains(rules.tab_elements, e.local_name)) sink->Append(u'\t');
    if (Contains(rules.space_elements, e.local_name)) sink->Append(u' ');
    return !sink->full();
  };
  auto on_text = [&](std::string_view text, int) {
    if (skip_depth >= 0 || (!all_text && text_open == 0)) return true;
    return sink->AppendUtf8(text);
  };
  auto on_end = [&](std::string_view name, int depth) {
    if (skip_depth >= 0) {
      if (depth == skip_depth) skip_depth = -1;
      return;
    }
    if (Contains(rules.text_elements, name) && text_open > 0) --text_open;
    if (Contains(rules.line_elements, name)) sink->NewLine();
  };
  return XmlStream(xml, on_element, on_text, on_end) || sink->full();
}

}  // namespace lun
