// The crawl service: answers text requests on 127.0.0.1 (wire format in
// crawler/extract/crawl_wire_format.h), one connection at a time, each
// extraction in a worker process (extraction_worker.h).
//
// It serves only peers of its own user, proves to lun with the token lun
// gave it that it is the service lun started, ends on "Exit", ends when its parent
// process dies (its parent id changes), and ends at once when the port is
// taken (another service already runs).
#ifndef LUN_CRAWL_SERVICE_CRAWL_SERVER_H_
#define LUN_CRAWL_SERVICE_CRAWL_SERVER_H_

#include <cstdint>
#include <string>

#include "crawl_service/extraction_worker.h"
#include "crawler/extract/ocr_text.h"

namespace lun {

struct CrawlServerOptions {
  uint16_t port = 8485;
  WorkerLimits worker;
  uint64_t service_memory_bytes = 2048ull * 1024 * 1024;  // RLIMIT_AS of the service; 0: none
  std::string plugin_directory;                           // empty: no plug-ins
  bool follow_parent = true;                              // end when the parent process goes away
  // Limits of text recognition in pictures; `ocr.enabled` follows the
  // setting "图片文字识别" of `settings_path`, read again whenever the file
  // changes (empty path: recognition stays as `ocr.enabled` says).
  OcrSettings ocr;
  std::string settings_path;
  // The per-start token of the lun that started us (crawl_wire_format.h):
  // the service answers its challenge with it. Empty: no proof is given, and
  // lun will not use this service.
  std::string token;
};

// Exit codes of RunCrawlServer.
inline constexpr int kServerExitRequested = 0;
inline constexpr int kServerPortTaken = 2;
inline constexpr int kServerFailed = 3;
inline constexpr int kServerParentGone = 4;

// Runs the service until "Exit" or the parent's death. Returns an exit code.
int RunCrawlServer(const CrawlServerOptions& options);

// Parses the command line: "--port N", "--deadline-ms N", "--memory-mb N"
// (the worker's limit), "--ocr-deadline-ms N" (one picture's), "--plugins
// DIR", "--home DIR" (its plug-ins and settings), "--no-follow-parent";
// any other argument (the launch parameter) is accepted and ignored. False
// with `*error` for a malformed option.
bool ParseServerArguments(int argc, char** argv, CrawlServerOptions* options, std::string* error);

}  // namespace lun

#endif  // LUN_CRAWL_SERVICE_CRAWL_SERVER_H_
