// Fuzz target for page translation: include expansion (ExpandIncludes) and
// the conversion of the expanded page into a script (ScriptFromPage).
//
// The includes of the random page are resolved against a small directory
// made once per process: plain, packed and gzip-packed files, files that
// include others, a file that includes itself, two that include each other,
// one that doubles its text at every level, an unclosed code block and a
// folder where a file is expected (cannot be read).
//
// Oracles beyond "no crash":
//   - a page without "<!--" expands to itself;
//   - a page without "<%" translates, and the script's Response.Write
//     statements write back exactly the page (quotes undoubled, "& vbCrLf"
//     for every "\r\n").
//
// Run with the dictionary of the page syntax and the include names:
//   build/fuzz/fuzz/pages/fuzz_page_translation -dict=fuzz/pages/pages.dict
//       -max_total_time=180 CORPUS_DIR fuzz/pages/seeds
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "config/packed_text.h"
#include "fuzz/fuzz_check.h"
#include "pages/page_translator.h"
#include "platform/file_system.h"
#include "platform/paths.h"
#include "platform/uuid.h"

namespace {

void Put(const std::string& dir, const std::string& name, const std::string& data) {
  Check(lun::ReplaceFileAtomically(lun::DefaultFileSystem(), lun::JoinPath(dir, name), data) == 0);
}

// The include directory, made on first use and removed at exit.
class IncludeDirectory {
 public:
  IncludeDirectory()
      : path_(lun::JoinPath(lun::TempDirectory(), "lun-fuzz-pages-" + lun::NewUuidText()) + "/") {
    Check(lun::MakeDirectories(path_, 0700));
    Put(path_, "head.inc", "<title><%= t %></title>\r\n<!--#include file=\"title.inc\"-->");
    Put(path_, "title.inc", "T \"q\"\r\n");
    Put(path_, "self.inc", "x<!--#include file=\"self.inc\"-->");
    Put(path_, "ping.inc", "<!--#include virtual=\"pong.inc\"-->");
    Put(path_, "pong.inc", "<!--#INCLUDE FILE=\"Ping.inc\"-->");
    Put(path_, "twice.inc",
        "<!--#include file=\"twice.inc\"-->ab<!--#include file=\"twice.inc\"-->");
    Put(path_, "plain0.inc", std::string("<Tamrix.Script>\0", 16) + "P<%=1%>");
    Put(path_, "gz.inc", lun::PackText("G\r\n<% x = \"1\" %>"));
    Put(path_, "open.inc", "<% unclosed");
    Put(path_, "empty.inc", "");
    Check(lun::MakeDirectories(path_ + "dir.inc", 0700));
  }
  ~IncludeDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Reads the Response.Write statements that LiteralToScript writes back into
// the literal text; false when `script` holds anything else.
bool WrittenText(std::string_view script, std::string* text) {
  static constexpr std::string_view kWrite = "Response.Write \"";
  static constexpr std::string_view kLineEnd = " & vbCrLf\r\n";
  text->clear();
  while (!script.empty()) {
    if (script == "\r\n") return true;  // an empty last piece
    if (!script.starts_with(kWrite)) return false;
    script.remove_prefix(kWrite.size());
    for (;;) {
      if (script.empty()) return false;
      if (script.starts_with("\"\"")) {
        text->push_back('"');
        script.remove_prefix(2);
      } else if (script.front() == '"') {
        script.remove_prefix(1);
        break;
      } else {
        text->push_back(script.front());
        script.remove_prefix(1);
      }
    }
    if (script.starts_with(kLineEnd)) {
      *text += "\r\n";
      script.remove_prefix(kLineEnd.size());
    } else if (script.starts_with("\r\n")) {
      script.remove_prefix(2);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const IncludeDirectory includes;
  const std::string_view page(reinterpret_cast<const char*>(data), size);

  std::string expanded;
  if (!lun::ExpandIncludes(page, includes.path(), &expanded)) return 0;
  if (page.find("<!--") == std::string_view::npos) Check(expanded == page);

  std::string script;
  const bool translated = lun::ScriptFromPage(expanded, &script);
  if (expanded.find("<%") == std::string::npos) {
    Check(translated);
    std::string written;
    Check(WrittenText(script, &written));
    Check(written == expanded);
  }
  return 0;
}
