#include "crawler/extract/office_xml.h"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crawler/extract/html_text.h"
#include "crawler/extract/xml_support.h"
#include "crawler/extract/zip_archive.h"

namespace lun {
namespace {

// One part of a document may unpack to this much XML; real documents stay
// far below it (a 20 MiB spreadsheet's sheet XML is some hundred MiB at worst).
constexpr size_t kPartLimit = 128 * 1024 * 1024;

enum class Kind { kWord, kSheet, kSlides, kOpenDocument, kBook };

struct TypeKind {
  std::string_view type;
  Kind kind;
};

constexpr TypeKind kTypes[] = {
    {"DOCX", Kind::kWord},   {"DOCM", Kind::kWord},   {"DOTX", Kind::kWord},
    {"DOTM", Kind::kWord},   {"XLSX", Kind::kSheet},  {"XLSM", Kind::kSheet},
    {"XLTX", Kind::kSheet},  {"XLTM", Kind::kSheet},  {"PPTX", Kind::kSlides},
    {"PPTM", Kind::kSlides}, {"PPSX", Kind::kSlides}, {"POTX", Kind::kSlides},
    {"ODT", Kind::kOpenDocument}, {"OTT", Kind::kOpenDocument}, {"ODS", Kind::kOpenDocument},
    {"OTS", Kind::kOpenDocument}, {"ODP", Kind::kOpenDocument}, {"OTP", Kind::kOpenDocument},
    {"ODG", Kind::kOpenDocument}, {"OTG", Kind::kOpenDocument}, {"ODF", Kind::kOpenDocument},
    {"SXW", Kind::kOpenDocument}, {"STW", Kind::kOpenDocument}, {"SXC", Kind::kOpenDocument},
    {"STC", Kind::kOpenDocument}, {"SXI", Kind::kOpenDocument}, {"STI", Kind::kOpenDocument},
    {"SXD", Kind::kOpenDocument}, {"SXG", Kind::kOpenDocument}, {"STM", Kind::kOpenDocument},
    {"EPUB", Kind::kBook},
};

const TypeKind* FindType(std::string_view type) {
  for (const TypeKind& t : kTypes) {
    if (t.type == type) return &t;
  }
  return nullptr;
}

// Collects the outcome of reading several parts into one result.
class PartReader {
 public:
  PartReader(ZipArchive* zip, size_t limit) : zip_(zip), sink_(limit) {}

  TextSink& sink() { return sink_; }

  // Unpacks `name`; false (and a note of the damage) when it cannot.
  bool Load(std::string_view name, std::string* xml) {
    switch (zip_->Read(name, kPartLimit, xml)) {
      case ZipRead::kOk: return true;
      case ZipRead::kMissing: return false;
      case ZipRead::kTooLarge: Note(ExtractStatus::kTooLarge, "part over the size limit: ", name); return false;
      case ZipRead::kDamaged: Note(ExtractStatus::kDamaged, "damaged part: ", name); return false;
    }
    return false;
  }

  void XmlPart(std::string_view name, const XmlTextRules& rules) {
    std::string xml;
    if (!Load(name, &xml)) return;
    if (!XmlToText(xml, rules, &sink_)) Note(ExtractStatus::kDamaged, "malformed XML in ", name);
    sink_.NewLine();
  }

  void Note(ExtractStatus status, std::string_view what, std::string_view name) {
    if (fault_ == ExtractStatus::kOk) {
      fault_ = status;
      message_ = std::string(what) + std::string(name);
    }
  }

  ExtractResult Finish() {
    ExtractResult result;
    while (!sink_.text().empty() && sink_.text().back() == u'\n') sink_.text().pop_back();
    result.text = sink_.Take();
    result.message = message_;
    if (fault_ == ExtractStatus::kOk) {
      result.status = ExtractStatus::kOk;
    } else {
      result.status = result.text.empty() ? fault_ : ExtractStatus::kPartial;
    }
    return result;
  }

 private:
  ZipArchive* zip_;
  TextSink sink_;
  ExtractStatus fault_ = ExtractStatus::kOk;
  std::string message_;
};

// Entries "prefix" + number + ".xml" (slide1.xml, sheet12.xml) in numeric order.
std::vector<std::string> NumberedParts(const ZipArchive& zip, std::string_view prefix) {
  std::vector<std::pair<long, std::string>> found;
  for (const std::string& name : zip.names()) {
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".xml") != 0) {
      continue;
    }
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (digits.empty() || digits.size() > 9 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    found.emplace_back(std::strtol(digits.c_str(), nullptr, 10), name);
  }
  std::sort(found.begin(), found.end());
  std::vector<std::string> names;
  names.reserve(found.size());
  for (auto& f : found) names.push_back(std::move(f.second));
  return names;
}

void ReadWord(ZipArchive& zip, PartReader* reader) {
  const XmlTextRules rules{.text_elements = {"t"},
                           .line_elements = {"p", "tr"},
                           .break_elements = {"br", "cr"},
                           .tab_elements = {"tab"},
                           .space_elements = {},
                           .skip_elements = {}};
  if (!zip.Has("word/document.xml")) {
    reader->Note(ExtractStatus::kDamaged, "missing part: ", "word/document.xml");
    return;
  }
  for (const char* part : {"word/document.xml", "word/footnotes.xml", "word/endnotes.xml"}) {
    if (reader->sink().full()) return;
    reader->XmlPart(part, rules);
  }
}

void ReadSlides(ZipArchive& zip, PartReader* reader) {
  const XmlTextRules rules{.text_elements = {"t"},
                           .line_elements = {"p"},
                           .break_elements = {"br"},
                           .tab_elements = {},
                           .space_elements = {},
                           .skip_elements = {}};
  const std::vector<std::string> slides = NumberedParts(zip, "ppt/slides/slide");
  if (slides.empty()) {
    reader->Note(ExtractStatus::kDamaged, "no slides in ", "ppt/slides/");
    return;
  }
  for (const std::string& slide : slides) {
    if (reader->sink().full()) return;
    reader->XmlPart(slide, rules);
  }
}

// Shared strings, then every sheet with cells joined by tabs, rows by lines.
void ReadSheets(ZipArchive& zip, PartReader* reader) {
  std::vector<std::string> shared;
  std::string xml;
  if (reader->Load("xl/sharedStrings.xml", &xml)) {
    std::string current;
    int text_open = 0;
    int skip_depth = -1;
    const bool ok = XmlStream(
        xml,
        [&](const XmlElement& e) {
          if (skip_depth >= 0) return true;
          if (e.local_name == "rPh") skip_depth = e.depth;
          else if (e.local_name == "si") current.clear();
          else if (e.local_name == "t") ++text_open;
          return shared.size() < 10'000'000;
        },
        [&](std::string_view text, int) {
          if (skip_depth < 0 && text_open > 0) current.append(text);
          return true;
        },
        [&](std::string_view name, int depth) {
          if (skip_depth >= 0) {
            if (depth == skip_depth) skip_depth = -1;
            return;
          }
          if (name == "t" && text_open > 0) --text_open;
          if (name == "si") shared.push_back(std::move(current));
        });
    if (!ok) reader->Note(ExtractStatus::kDamaged, "malformed XML in ", "xl/sharedStrings.xml");
  }
  const std::vector<std::string> sheets = NumberedParts(zip, "xl/worksheets/sheet");
  if (sheets.empty()) {
    reader->Note(ExtractStatus::kDamaged, "no sheets in ", "xl/worksheets/");
    return;
  }
  TextSink& sink = reader->sink();
  for (const std::string& sheet : sheets) {
    if (sink.full() || !reader->Load(sheet, &xml)) continue;
    std::string cell_type;
    std::string value;
    bool in_value = false;
    bool first_in_row = true;
    const bool ok = XmlStream(
        xml,
        [&](const XmlElement& e) {
          if (e.local_name == "c") {
            cell_type = e.attribute("t");
            value.clear();
          } else if (e.local_name == "v" || e.local_name == "t") {
            in_value = true;
          } else if (e.local_name == "row") {
            first_in_row = true;
          }
          return !sink.full();
        },
        [&](std::string_view text, int) {
          if (in_value) value.append(text);
          return true;
        },
        [&](std::string_view name, int) {
          if (name == "v" || name == "t") in_value = false;
          if (name == "row") sink.NewLine();
          if (name != "c" || value.empty()) return;
          if (!first_in_row) sink.Append(u'\t');
          first_in_row = false;
          if (cell_type == "s") {
            char* end = nullptr;
            const unsigned long index = std::strtoul(value.c_str(), &end, 10);
            if (end && *end == '\0' && index < shared.size()) sink.AppendUtf8(shared[index]);
          } else {
            sink.AppendUtf8(value);
          }
          value.clear();
        });
    if (!ok) reader->Note(ExtractStatus::kDamaged, "malformed XML in ", sheet);
    sink.NewLine();
  }
}

void ReadOpenDocument(ZipArchive& zip, PartReader* reader) {
  if (!zip.Has("content.xml")) {
    reader->Note(ExtractStatus::kDamaged, "missing part: ", "content.xml");
    return;
  }
  const XmlTextRules rules{.text_elements = {},
                           .line_elements = {"p", "h", "table-row"},
                           .break_elements = {"line-break"},
                           .tab_elements = {"tab"},
                           .space_elements = {"s"},
                           .skip_elements = {"font-face-decls", "automatic-styles", "scripts"}};
  reader->XmlPart("content.xml", rules);
}

// "a%20b.xhtml" -> "a b.xhtml"; a malformed escape is kept as it stands.
std::string PercentDecode(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      const std::string hex(s.substr(i + 1, 2));
      char* end = nullptr;
      const long v = std::strtol(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 2) {
        out.push_back(static_cast<char>(v));
        i += 2;
        continue;
      }
    }
    out.push_back(s[i]);
  }
  return out;
}

// Joins a manifest href to the directory of the package file, folding "..".
std::string ResolveHref(std::string_view base_dir, std::string_view href) {
  std::vector<std::string> parts;
  auto push = [&](std::string_view path) {
    size_t start = 0;
    while (start <= path.size()) {
      size_t slash = path.find('/', start);
      if (slash == std::string_view::npos) slash = path.size();
      const std::string_view piece = path.substr(start, slash - start);
      if (piece == "..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!piece.empty() && piece != ".") {
        parts.emplace_back(piece);
      }
      start = slash + 1;
    }
  };
  push(base_dir);
  const size_t hash = href.find('#');
  push(PercentDecode(href.substr(0, hash)));
  std::string out;
  for (const std::string& p : parts) {
    if (!out.empty()) out.push_back('/');
    out += p;
  }
  return out;
}

// The chapters of a book in spine order, from the package file that
// META-INF/container.xml names; empty when either is missing or malformed.
std::vector<std::string> SpineOrder(PartReader* reader) {
  std::string xml;
  if (!reader->Load("META-INF/container.xml", &xml)) return {};
  std::string package;
  XmlStream(
      xml,
      [&](const XmlElement& e) {
        if (e.local_name == "rootfile") package = e.attribute("full-path");
        return package.empty();
      },
      {});
  if (package.empty() || !reader->Load(package, &xml)) return {};
  const size_t slash = package.rfind('/');
  const std::string base = slash == std::string::npos ? std::string() : package.substr(0, slash);
  std::map<std::string, std::string> manifest;
  std::vector<std::string> spine;
  XmlStream(
      xml,
      [&](const XmlElement& e) {
        if (e.local_name == "item") manifest[e.attribute("id")] = e.attribute("href");
        if (e.local_name == "itemref") spine.push_back(e.attribute("idref"));
        return true;
      },
      {});
  std::vector<std::string> chapters;
  for (const std::string& id : spine) {
    const auto it = manifest.find(id);
    if (it != manifest.end()) chapters.push_back(ResolveHref(base, it->second));
  }
  return chapters;
}

bool EndsWithHtml(std::string_view name) {
  for (std::string_view ext : {".xhtml", ".html", ".htm"}) {
    if (name.size() >= ext.size() && name.substr(name.size() - ext.size()) == ext) return true;
  }
  return false;
}

void ReadBook(ZipArchive& zip, PartReader* reader) {
  std::vector<std::string> chapters = SpineOrder(reader);
  if (chapters.empty()) {
    // No usable package file: every page of the archive, in stored order.
    for (const std::string& name : zip.names()) {
      if (EndsWithHtml(name)) chapters.push_back(name);
    }
  }
  if (chapters.empty()) {
    reader->Note(ExtractStatus::kDamaged, "no chapters in ", "book");
    return;
  }
  std::string page;
  for (const std::string& chapter : chapters) {
    if (reader->sink().full()) return;
    if (!reader->Load(chapter, &page)) continue;
    HtmlToText(page, &reader->sink());
    reader->sink().NewLine();
  }
}

}  // namespace

bool IsOfficeXmlType(std::string_view type) { return FindType(type) != nullptr; }

ExtractResult OfficeXmlText(std::string_view bytes, std::string_view type, size_t limit) {
  const TypeKind* kind = FindType(type);
  if (!kind) return {ExtractStatus::kUnsupported, {}, "not a zipped XML document type"};
  std::unique_ptr<ZipArchive> zip = ZipArchive::Open(bytes);
  if (!zip) return {ExtractStatus::kDamaged, {}, "not a ZIP archive"};
  PartReader reader(zip.get(), limit);
  switch (kind->kind) {
    case Kind::kWord: ReadWord(*zip, &reader); break;
    case Kind::kSheet: ReadSheets(*zip, &reader); break;
    case Kind::kSlides: ReadSlides(*zip, &reader); break;
    case Kind::kOpenDocument: ReadOpenDocument(*zip, &reader); break;
    case Kind::kBook: ReadBook(*zip, &reader); break;
  }
  return reader.Finish();
}

}  // namespace lun
