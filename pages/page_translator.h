// Turning a page of the web UI into one script program.
//
// A page (".shl", also ".asp") is HTML with VBScript between "<%" and "%>"
// and include comments <!--#include file="x"-->. It may be stored plain or
// in the packed text container (config/packed_text_format.h). Translation
// pastes the included files in, then turns every literal stretch into
// Response.Write statements and copies every code block; "<%=expr%>" becomes
// "Response.Write expr".
//
// All functions are pure apart from reading files; thread-safe.
#ifndef LUN_PAGES_PAGE_TRANSLATOR_H_
#define LUN_PAGES_PAGE_TRANSLATOR_H_

#include <string>
#include <string_view>

namespace lun {

// Reads a page or included file and removes the container. A file that does
// not exist reads as empty text; any other failure to read (or a damaged
// packed payload) returns false. The text ends at its first NUL byte.
bool LoadPageFile(const std::string& path, std::string* text);

// Replaces every include comment by the text of the file it names (taken
// from `page_directory`, the name lower-cased), again and again so that
// included files may include others. False when an included file cannot be
// loaded, or when includes nest deeper than kMaxIncludeDepth or the text
// grows beyond kMaxPageBytes (a file that includes itself).
bool ExpandIncludes(std::string_view page, const std::string& page_directory, std::string* out);

// The script of an expanded page; false when a "<%" has no "%>".
bool ScriptFromPage(std::string_view page, std::string* script);

// Response.Write statements that write `literal` to the page unchanged.
std::string LiteralToScript(std::string_view literal);

inline constexpr int kMaxIncludeDepth = 16;
inline constexpr size_t kMaxPageBytes = size_t{16} << 20;

}  // namespace lun

#endif  // LUN_PAGES_PAGE_TRANSLATOR_H_
