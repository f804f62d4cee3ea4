// Our text filters: which reader gets a file, and the two ways the rest of
// the system asks for text.
//
//  - ExtractFileText: every reader of this library, chosen by the file's
//    extension (and, for the legacy Office names, by its first bytes), plus
//    the extraction plug-ins. The crawl service runs it, in a worker process.
//  - FilterText: the in-process filter path for the crawler's own uses
//    (compiled-help pages, mail files, previews). It reads only the types
//    that have a persistent handler in the in-process handler table, and
//    caps the text at kFilterTextLimit characters.
//
// The handler table stands in for the registry's "PersistentHandler" keys:
// extension -> handler id (the CLSID texts the system has always written).
// It starts with the HTML handler for .htm, .html, .hta, .htx and .htt and
// the plain-text handler for .txt (on the original platform the system
// registers these itself); the application adds the MIME handler for .eml,
// .mht and .mhtml and the plain-text handler for the other-text list at
// start-up (RegisterStartupHandlers). Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_TEXT_FILTERS_H_
#define LUN_CRAWLER_EXTRACT_TEXT_FILTERS_H_

#include <string>
#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

class PluginRegistry;

// Types whose text the crawl service is asked for when they are chosen in
// "文档类型". The Office Open XML, EPUB and OpenDocument types at the end
// were missing from the original list (the documents category and the
// reader always had the OpenDocument family, yet no text was ever asked
// for); the music types beside MP3 give their tags, JPEG photos their
// metadata, and pictures the text recognised in them while "图片文字识别"
// is on (ocr_text.h). Types are only ever added, so stored settings and
// records stay valid.
inline constexpr char kServiceExtractableTypes[] =
    "|DOC|XLS|PPT|HTM|HTX|HTT|HTML|HTA|WPS|GW|CAJ|PDF|MPS|S2|TXT|RTF|MHT|MHTML|VSD|VSS|VST|VDX|"
    "VSX|VTX|MP3|EML|C|CPP|H|CXX|HXX|TLI|TLH|PAS|FRM|CLS|JSP|ASP|JAVA|"
    "DOCX|DOCM|XLSX|XLSM|PPTX|PPTM|EPUB|"
    "ODT|OTT|ODS|OTS|ODP|OTP|ODG|OTG|ODF|SXW|STW|SXC|STC|SXI|STI|SXD|SXG|STM|"
    "WMA|WAV|FLAC|OGG|OGA|OPUS|M4A|AIF|AIFF|AIFC|JPG|JPEG|PNG|TIF|TIFF|BMP|GIF|";

inline constexpr char kMimeFilterClsid[] = "{5645C8C1-E277-11CF-8FDA-00AA00A14F93}";
inline constexpr char kPlainTextFilterClsid[] = "{5e941d80-bf96-11cd-b579-08002b30bfeb}";
inline constexpr char kHtmlFilterClsid[] = "{E0CA5340-4534-11CF-B952-00AA0051FE20}";

// Files larger than this are not read by any filter (kTooLarge).
inline constexpr uint64_t kMaxDocumentBytes = 128ull * 1024 * 1024;

// The four type lists of the scan scope, each "|A|B|" (upper case) or empty.
struct TypeLists {
  std::string document_types;    // "文档类型"
  std::string other_text;        // "其他文本类型", already in list form
  std::string plugin_types;      // "LUNPlugType"
  std::string msn_plugin_types;  // "MSNPlugType"
};

enum class TextSource { kNone, kCrawlService };

// `s` with a-z made A-Z (type names and extensions are ASCII).
std::string UpperAscii(std::string_view s);

// Where the text of a file with type token `token` ("|DOC|") comes from: a
// type chosen in the document-type list is asked of the service when it is
// service-extractable and gets no text otherwise; a type in the other-text
// or either plug-in list is asked of the service; anything else gets none.
// Tokens match case-insensitively. Pure.
TextSource TextSourceOf(std::string_view token, const TypeLists& lists);

// The text of the file at `path`, through the reader for its type: plug-in
// types first (when `plugins` is given), then ours; a type we have no reader
// for is read as plain text unless its bytes look binary. At most `limit`
// UTF-16 units.
ExtractResult ExtractFileText(const std::string& path, size_t limit,
                              const PluginRegistry* plugins = nullptr);

// False when no reader would look at `path` (a type we know to hold no
// text, or a picture while recognition is off): the service answers "no
// text" at once, without a worker.
bool HasReader(const std::string& path, const PluginRegistry* plugins = nullptr);

// True when `path` would be read as plain text (its type has no reader of
// its own and no plug-in claims it): the one reader simple enough that the
// service runs it without a worker process.
bool ReadsAsPlainText(const std::string& path, const PluginRegistry* plugins = nullptr);

// The same dispatch over bytes already in memory, for the readers that need
// no file (everything but the legacy Office programs and plug-ins). `type` is
// the upper-case extension. Pure.
ExtractResult ExtractBytesText(std::string_view bytes, std::string_view type, size_t limit);

// The in-process filter path: the text of `path` through the handler its
// extension has in the handler table, at most kFilterTextLimit units.
// kUnsupported when the extension has no handler.
ExtractResult FilterText(const std::string& path);

// Sets the handler of `extension` (".eml" or "eml", any case). False for an
// empty extension or an unknown handler id.
bool RegisterPersistentHandler(std::string_view extension, std::string_view clsid);

// The handler id of `extension`, or empty.
std::string GetPersistentHandler(std::string_view extension);

// The start-up registrations: the MIME handler for .eml, .mht and .mhtml
// (always), the plain-text handler for each extension of `other_text_list`
// that has no handler yet (an existing handler is kept).
void RegisterStartupHandlers(std::string_view other_text_list);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_TEXT_FILTERS_H_
