#include "crawler/extract/text_filters.h"

#include <sys/stat.h>

#include <map>
#include <mutex>
#include <shared_mutex>

#include "config/bar_list.h"
#include "crawler/extract/charset.h"
#include "crawler/extract/html_text.h"
#include "crawler/extract/legacy_office.h"
#include "crawler/extract/mime_text.h"
#include "crawler/extract/music_tags.h"
#include "crawler/extract/ocr_text.h"
#include "crawler/extract/office_xml.h"
#include "crawler/extract/pdf_text.h"
#include "crawler/extract/photo_metadata.h"
#include "crawler/extract/plugin_registry.h"
#include "crawler/extract/ppt_text.h"
#include "crawler/extract/rtf_text.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

// Case-insensitive search of a token in a type list.
bool ListHas(std::string_view list, std::string_view token) {
  if (token.empty() || list.empty()) return false;
  return UpperAscii(list).find(UpperAscii(token)) != std::string::npos;
}

// Upper-case extension of the last path component, "" without one.
std::string TypeOfPath(std::string_view path) {
  const std::string name = BaseName(path);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : UpperAscii(name.substr(dot + 1));
}

enum class Reader {
  kPlainText,
  kHtml,
  kMime,
  kPdf,
  kOfficeXml,
  kRtf,
  kLegacyOffice,
  kMusic,
  kImage,
  kNone
};

bool OneOf(std::string_view type, std::initializer_list<std::string_view> types) {
  for (std::string_view t : types) {
    if (t == type) return true;
  }
  return false;
}

bool IsPhotoType(std::string_view type) { return type == "JPG" || type == "JPEG"; }

// The reader of a type by name alone (and, for pictures, by whether
// recognition is on).
Reader ReaderOfType(std::string_view type) {
  if (OneOf(type, {"HTM", "HTML", "HTA", "HTX", "HTT", "XHTML", "SHTML"})) return Reader::kHtml;
  if (OneOf(type, {"EML", "MHT", "MHTML"})) return Reader::kMime;
  if (type == "PDF") return Reader::kPdf;
  if (type == "RTF") return Reader::kRtf;
  if (IsMusicType(type)) return Reader::kMusic;
  if (IsOcrImageType(type)) {
    // Photos always give their metadata; any picture gives its text only
    // while recognition is on.
    return IsPhotoType(type) || GetOcrSettings().enabled ? Reader::kImage : Reader::kNone;
  }
  if (OneOf(type, {"DOC", "WPS", "XLS", "PPT"})) return Reader::kLegacyOffice;
  if (IsOfficeXmlType(type)) return Reader::kOfficeXml;
  // Types we know to be binary and have no reader for: no text rather than noise.
  if (OneOf(type, {"GW", "CAJ", "MPS", "S2", "VSD", "VSS", "VST", "VDX", "VSX", "VTX", "EXE", "DLL",
                   "ZIP", "RAR", "GZ", "7Z"})) {
    return Reader::kNone;
  }
  return Reader::kPlainText;
}

// Files saved by word processors under an Office name are often RTF, HTML
// or Office Open XML inside: trust the first bytes over the name.
Reader SniffLegacy(std::string_view bytes, std::string_view type, std::string* as_type) {
  if (bytes.substr(0, 5) == "{\\rtf") return Reader::kRtf;
  if (bytes.substr(0, 4) == "PK\x03\x04") {
    *as_type = type == "XLS" ? "XLSX" : type == "PPT" ? "PPTX" : "DOCX";
    return Reader::kOfficeXml;
  }
  const std::string head = UpperAscii(bytes.substr(0, 512));
  if (head.find("<HTML") != std::string::npos) return Reader::kHtml;
  return Reader::kLegacyOffice;
}

// A picture: the photo's metadata, then the text recognised in it. A
// picture the engine could not finish keeps the metadata (kPartial).
ExtractResult ImageText(std::string_view bytes, std::string_view type, size_t limit) {
  TextSink sink(limit);
  if (IsPhotoType(type)) sink.Append(PhotoMetadataText(bytes, limit).text);
  const OcrSettings ocr = GetOcrSettings();
  if (!ocr.enabled || sink.full()) return {ExtractStatus::kOk, sink.Take(), {}};
  ExtractResult read = RecognizeImageText(bytes, limit, ocr.image_deadline_ms);
  if (read.has_text()) {
    sink.NewLine();
    sink.Append(read.text);
  }
  if (read.status == ExtractStatus::kOk || read.status == ExtractStatus::kUnsupported) {
    return {ExtractStatus::kOk, sink.Take(), {}};
  }
  return {ExtractStatus::kPartial, sink.Take(), std::move(read.message)};
}

ExtractResult PlainText(std::string_view bytes, size_t limit) {
  if (LooksBinary(bytes)) return {ExtractStatus::kDamaged, {}, "binary content"};
  std::u16string text = DecodeText(bytes);
  ScrubControlCharacters(&text);
  TextSink sink(limit);
  sink.Append(text);
  return {ExtractStatus::kOk, sink.Take(), {}};
}

ExtractResult RunReader(Reader reader, std::string_view bytes, std::string_view type,
                        size_t limit) {
  switch (reader) {
    case Reader::kPlainText:
      return PlainText(bytes, limit);
    case Reader::kHtml: {
      TextSink sink(limit);
      HtmlToText(bytes, &sink);
      std::u16string& text = sink.text();
      while (!text.empty() && text.back() == u'\n') text.pop_back();
      return {ExtractStatus::kOk, sink.Take(), {}};
    }
    case Reader::kMime:
      return MimeText(bytes, limit);
    case Reader::kPdf:
      return PdfText(bytes, limit);
    case Reader::kOfficeXml:
      return OfficeXmlText(bytes, type, limit);
    case Reader::kRtf:
      return RtfText(bytes, limit);
    case Reader::kMusic:
      return MusicTagText(bytes, type, limit);
    case Reader::kImage:
      return ImageText(bytes, type, limit);
    case Reader::kLegacyOffice:
      if (type == "PPT") return PptText(bytes, limit);
      break;
    case Reader::kNone:
      break;
  }
  return {ExtractStatus::kUnsupported, {}, "no reader for this type"};
}

// Legacy Office binaries: PowerPoint through our own reader, with the
// converter program as a fallback when the reader finds nothing (a file it
// cannot parse); Word and Excel through the converter programs.
ExtractResult LegacyOfficeFileText(const std::string& path, std::string_view bytes,
                                   std::string_view type, size_t limit) {
  if (type != "PPT") return LegacyOfficeText(path, type, limit);
  ExtractResult ours = PptText(bytes, limit);
  if (ours.has_text()) return ours;
  ExtractResult converted = LegacyOfficeText(path, type, limit);
  return converted.status == ExtractStatus::kOk ? converted : ours;
}

ExtractResult ReadFile(const std::string& path, std::string* bytes) {
  // Only regular files: opening a FIFO named "x.txt" would block the reader
  // for ever, and a device has no text.
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return {ExtractStatus::kUnreadable, {}, "not a regular file"};
  }
  const int rc = ReadWholeFile(DefaultFileSystem(), path, bytes, kMaxDocumentBytes);
  if (rc == EFBIG) return {ExtractStatus::kTooLarge, {}, "file too large"};
  if (rc != 0) return {ExtractStatus::kUnreadable, {}, "cannot read the file"};
  return {};
}

// The handler table.
class HandlerTable {
 public:
  HandlerTable() {
    for (const char* ext : {"HTM", "HTML", "HTA", "HTX", "HTT"}) table_[ext] = kHtmlFilterClsid;
    table_["TXT"] = kPlainTextFilterClsid;
  }
  void Set(const std::string& ext, std::string_view clsid) {
    std::unique_lock lock(mutex_);
    table_[ext] = std::string(clsid);
  }
  bool SetIfMissing(const std::string& ext, std::string_view clsid) {
    std::unique_lock lock(mutex_);
    return table_.emplace(ext, std::string(clsid)).second;
  }
  std::string Get(const std::string& ext) const {
    std::shared_lock lock(mutex_);
    const auto it = table_.find(ext);
    return it == table_.end() ? std::string() : it->second;
  }

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, std::string> table_;
};

HandlerTable& Handlers() {
  static HandlerTable* table = new HandlerTable();
  return *table;
}

std::string ExtensionKey(std::string_view extension) {
  while (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  return UpperAscii(extension);
}

bool SameClsid(std::string_view a, std::string_view b) { return UpperAscii(a) == UpperAscii(b); }

Reader ReaderOfHandler(std::string_view clsid) {
  if (SameClsid(clsid, kMimeFilterClsid)) return Reader::kMime;
  if (SameClsid(clsid, kPlainTextFilterClsid)) return Reader::kPlainText;
  if (SameClsid(clsid, kHtmlFilterClsid)) return Reader::kHtml;
  return Reader::kNone;
}

}  // namespace

std::string UpperAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

TextSource TextSourceOf(std::string_view token, const TypeLists& lists) {
  if (ListHas(lists.document_types, token)) {
    return ListHas(kServiceExtractableTypes, token) ? TextSource::kCrawlService : TextSource::kNone;
  }
  if (ListHas(lists.other_text, token) || ListHas(lists.msn_plugin_types, token) ||
      ListHas(lists.plugin_types, token)) {
    return TextSource::kCrawlService;
  }
  return TextSource::kNone;
}

ExtractResult ExtractBytesText(std::string_view bytes, std::string_view type, size_t limit) {
  Reader reader = ReaderOfType(type);
  std::string as_type(type);
  if (reader == Reader::kLegacyOffice) reader = SniffLegacy(bytes, type, &as_type);
  return RunReader(reader, bytes, as_type, limit);
}

bool HasReader(const std::string& path, const PluginRegistry* plugins) {
  const std::string type = TypeOfPath(path);
  if (plugins && !type.empty() && plugins->PluginForType(type) >= 0) return true;
  return ReaderOfType(type) != Reader::kNone;
}

bool ReadsAsPlainText(const std::string& path, const PluginRegistry* plugins) {
  const std::string type = TypeOfPath(path);
  if (plugins && !type.empty() && plugins->PluginForType(type) >= 0) return false;
  return ReaderOfType(type) == Reader::kPlainText;
}

ExtractResult ExtractFileText(const std::string& path, size_t limit,
                              const PluginRegistry* plugins) {
  const std::string type = TypeOfPath(path);
  if (plugins && !type.empty()) {
    const int plugin = plugins->PluginForType(type);
    if (plugin >= 0) {
      ExtractResult result = plugins->PluginText(plugin, path, limit);
      // The plug-in failed: a reader of our own for the type may still do,
      // but guessing plain text for the plug-in's format would index noise.
      if (result.status == ExtractStatus::kOk || ReaderOfType(type) == Reader::kPlainText) {
        return result;
      }
    }
  }
  Reader reader = ReaderOfType(type);
  if (reader == Reader::kNone) return {ExtractStatus::kUnsupported, {}, "no reader for this type"};
  std::string bytes;
  if (ExtractResult read = ReadFile(path, &bytes); read.status != ExtractStatus::kOk) return read;
  std::string as_type = type;
  if (reader == Reader::kLegacyOffice) reader = SniffLegacy(bytes, type, &as_type);
  if (reader == Reader::kLegacyOffice) return LegacyOfficeFileText(path, bytes, type, limit);
  return RunReader(reader, bytes, as_type, limit);
}

ExtractResult FilterText(const std::string& path) {
  const std::string type = TypeOfPath(path);
  const Reader reader = ReaderOfHandler(Handlers().Get(type));
  if (reader == Reader::kNone) return {ExtractStatus::kUnsupported, {}, "no handler for this type"};
  std::string bytes;
  if (ExtractResult read = ReadFile(path, &bytes); read.status != ExtractStatus::kOk) return read;
  return RunReader(reader, bytes, type, kFilterTextLimit);
}

bool RegisterPersistentHandler(std::string_view extension, std::string_view clsid) {
  const std::string key = ExtensionKey(extension);
  if (key.empty() || ReaderOfHandler(clsid) == Reader::kNone) return false;
  Handlers().Set(key, clsid);
  return true;
}

std::string GetPersistentHandler(std::string_view extension) {
  return Handlers().Get(ExtensionKey(extension));
}

void RegisterStartupHandlers(std::string_view other_text_list) {
  for (const char* ext : {".eml", ".mht", ".mhtml"})
    RegisterPersistentHandler(ext, kMimeFilterClsid);
  for (const std::string& type : SplitBarList(other_text_list)) {
    const std::string key = ExtensionKey(type);
    if (!key.empty()) Handlers().SetIfMissing(key, kPlainTextFilterClsid);
  }
}

}  // namespace lun
