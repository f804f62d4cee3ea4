// The pages of a compiled-help file (.chm), read with chmlib.
//
// Every entry whose name ends in ".htm" or ".html" (any case) is a page, in
// whatever folder of the file it lies; style sheets, images and the file's
// internal entries are not. Each page is handed over with its document key
//   "mk:@MSITStore:" + path of the .chm + "::" + "/" + path inside the file
// (for /home/u/a.chm and its page html/intro.htm:
// "mk:@MSITStore:/home/u/a.chm::/html/intro.htm") and its text, read by the
// HTML filter (capped at kFilterTextLimit). The crawler turns pages into
// document records; this reader writes nothing.
//
// chmlib checks little of what it reads (entry lengths, block sizes), so it
// runs in a child process that hands the raw pages over a pipe; a hostile
// file can crash or hang only that child, which is killed after
// kCompiledHelpSilenceMs without a page. The pages read before a crash are
// kept. Thread-safe: each call has its own child.
#ifndef LUN_CRAWLER_EXTRACT_COMPILED_HELP_H_
#define LUN_CRAWLER_EXTRACT_COMPILED_HELP_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

inline constexpr char kCompiledHelpKeyPrefix[] = "mk:@MSITStore:";
// Pages larger than this are skipped (the crawler's own size limit).
inline constexpr uint64_t kCompiledHelpMaxPage = 20971520;
inline constexpr int kCompiledHelpSilenceMs = 30000;

struct CompiledHelpPage {
  std::string name;     // last component of the inner path ("intro.htm")
  std::string key;      // the document key above
  uint64_t size = 0;    // bytes of the page
  std::u16string text;  // may be empty
};

// The document key of page `inner_path` ("html/intro.htm" or
// "/html/intro.htm") of `chm_path`.
std::string CompiledHelpKey(std::string_view chm_path, std::string_view inner_path);

// Calls `on_page` for each page in the file's order, on the calling thread.
// Stops early when `stop` (may be null) becomes true or `on_page` returns
// false. Returns false when the file cannot be opened as compiled help (then
// no page is reported).
bool ForEachCompiledHelpPage(const std::string& chm_path, const std::atomic<bool>* stop,
                             const std::function<bool(const CompiledHelpPage&)>& on_page);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_COMPILED_HELP_H_
