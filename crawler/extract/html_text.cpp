#include "crawler/extract/html_text.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <strings.h>

#include <algorithm>
#include <cctype>

#include "crawler/extract/charset.h"
#include "crawler/extract/xml_support.h"
#include "platform/text.h"

namespace lun {
namespace {

// The charset declaration sits in the head; 8 KiB covers real pages.
constexpr size_t kCharsetScanBytes = 8192;

bool NameIs(const xmlNode* node, const char* name) {
  return node->name && strcasecmp(reinterpret_cast<const char*>(node->name), name) == 0;
}

bool IsSkipped(const xmlNode* node) {
  return NameIs(node, "script") || NameIs(node, "style") || NameIs(node, "template");
}

bool IsBlock(const xmlNode* node) {
  static const char* const kBlocks[] = {
      "p",   "div", "br",   "li",      "tr",      "h1",     "h2",     "h3",   "h4",
      "h5",  "h6",  "title", "table",  "ul",      "ol",     "pre",    "blockquote",
      "dd",  "dt",  "hr",   "section", "article", "header", "footer", "address", "form"};
  for (const char* name : kBlocks) {
    if (NameIs(node, name)) return true;
  }
  return false;
}

bool IsCell(const xmlNode* node) { return NameIs(node, "td") || NameIs(node, "th"); }

// Appends `text` with every white-space run made one blank.
bool AppendCollapsed(std::string_view text, TextSink* sink) {
  std::string out;
  out.reserve(text.size());
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
      blank = true;
      continue;
    }
    if (blank) out.push_back(' ');
    blank = false;
    out.push_back(c);
  }
  if (blank) out.push_back(' ');
  if (out.empty() || out == " ") return sink->Space();
  if (out.front() == ' ') {
    if (!sink->Space()) return false;
    out.erase(0, 1);
  }
  return sink->AppendUtf8(out);
}

// Walks the tree without recursion: a page nested 100,000 levels deep must not
// exhaust the stack.
void WalkText(const xmlNode* root, TextSink* sink) {
  const xmlNode* node = root->children;
  while (node && !sink->full()) {
    bool descend = false;
    if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
      if (node->content) AppendCollapsed(reinterpret_cast<const char*>(node->content), sink);
    } else if (node->type == XML_ELEMENT_NODE && !IsSkipped(node)) {
      if (IsBlock(node)) sink->NewLine();
      if (IsCell(node)) sink->Space();
      descend = node->children != nullptr;
    }
    if (descend) {
      node = node->children;
      continue;
    }
    // Leave finished elements, closing their blocks, until a sibling is found.
    while (node && node != root && !node->next) {
      node = node->parent;
      if (node && node->type == XML_ELEMENT_NODE && IsBlock(node)) sink->NewLine();
    }
    if (!node || node == root) break;
    node = node->next;
  }
}

}  // namespace

std::string DeclaredHtmlCharset(std::string_view bytes) {
  std::string head(bytes.substr(0, std::min(bytes.size(), kCharsetScanBytes)));
  std::transform(head.begin(), head.end(), head.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* marker : {"charset", "encoding"}) {
    size_t at = head.find(marker);
    while (at != std::string::npos) {
      size_t i = at + std::string_view(marker).size();
      while (i < head.size() && (head[i] == ' ')) ++i;
      if (i < head.size() && head[i] == '=') {
        ++i;
        while (i < head.size() && (head[i] == ' ' || head[i] == '"' || head[i] == '\'')) ++i;
        size_t end = i;
        while (end < head.size() && (std::isalnum(static_cast<unsigned char>(head[end])) ||
                                     head[end] == '-' || head[end] == '_' || head[end] == ':' ||
                                     head[end] == '.')) {
          ++end;
        }
        if (end > i) return head.substr(i, end - i);
      }
      at = head.find(marker, at + 1);
    }
  }
  return {};
}

void HtmlToText(std::string_view bytes, TextSink* sink, std::string_view charset) {
  // Convert to UTF-8 ourselves (ICU and uchardet) so that pages without a
  // declaration are read in their detected charset, not as Latin-1.
  const std::string declared = charset.empty() ? DeclaredHtmlCharset(bytes) : std::string(charset);
  std::u16string wide = DecodeText(bytes, declared);
  ScrubControlCharacters(&wide);
  const std::string utf8 = ToNarrow(wide);
  if (utf8.size() > static_cast<size_t>(INT32_MAX)) return;
  InitXmlLibrary();
  htmlDocPtr doc =
      htmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                     HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                         HTML_PARSE_NONET | HTML_PARSE_NOIMPLIED);
  if (!doc) return;
  WalkText(reinterpret_cast<const xmlNode*>(doc), sink);
  xmlFreeDoc(doc);
}

}  // namespace lun
