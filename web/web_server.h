// The web server of the application: serves the unpacked page archives over
// HTTP/1.0, runs ".shl" and ".asp" pages through a PageRunner, and streams
// static files with byte ranges.
//
// Lifecycle: construct, Start once (unpacks the archives, then Run), Shutdown
// at exit. Destroying the object shuts it down and removes the web root with
// everything in it.
//
// Request handling (HandleRequest) is safe on many client threads at once: it
// reads only what Start set up. Trace lines go to "UMServer.log" in the log
// directory (file_logger.h).
#ifndef LUN_WEB_WEB_SERVER_H_
#define LUN_WEB_WEB_SERVER_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "web/connection_server.h"
#include "web/page_runner.h"
#include "web/request_variables.h"

namespace lun {

// The folder, inside the server's own directory, that becomes the web root.
inline constexpr char kWebRootFolder[] = "$A76218B8-E3D8-4e32-9243-923E94701573";

class WebServer : public ConnectionServer {
 public:
  // `page_runner` (may be null; must outlive the server) runs the pages;
  // without one a page request is answered like a page whose script host
  // cannot be created ("400 Bad Request"). `log_directory` (empty: the
  // application home) holds the log and the unpacked web root, so it must
  // be this server's alone: the application passes its home, which
  // lun.lock keeps to one process.
  explicit WebServer(PageRunner* page_runner = nullptr, std::string log_directory = {});
  ~WebServer() override;

  // Prepares the web root "<log directory>/$A76218B8-.../" (mode 0700):
  // removes a left-over one, unpacks every "NAME.WR" of `archive_dir` into
  // its folder "NAME/" (served under "/NAME/"), stores the default document
  // ("index.shl" in the application) and calls Run(port, idle_timeout_ms).
  // Nothing is written beside the archives. When the log directory cannot
  // hold the web root, a fresh folder in the temporary directory is used
  // instead. Returns the result of Run.
  bool Start(const std::string& archive_dir, const std::string& default_document, uint16_t port,
             int idle_timeout_ms);

  // Answers a request for the root "/" itself, where the archives put
  // nothing: fills the output, which arrives with the default page headers.
  // Unset: the root gets no answer. Set it before Start.
  using RootAnswer =
      std::function<void(const ConnectionInfo&, const HttpRequest&, PageOutput* output)>;
  void set_root_answer(RootAnswer answer) { root_answer_ = std::move(answer); }

  // The directory files are served from, ending in "/"; empty before Start.
  const std::string& web_root() const { return web_root_; }

  // Handles one complete request (public so that it can be driven without a
  // socket). Returns false when the connection is to be closed with nothing
  // sent (a method other than GET, POST and HEAD).
  bool HandleRequest(const ConnectionInfo& connection, std::string_view request,
                     Reply* reply) override;

 private:
  class Exchange;  // the state of one request

  void PrepareWebRoot(const std::string& archive_dir);

  PageRunner* const page_runner_;
  const ServerIdentity identity_;
  std::string web_root_;
  std::string default_document_;
  RootAnswer root_answer_;
};

}  // namespace lun

#endif  // LUN_WEB_WEB_SERVER_H_
