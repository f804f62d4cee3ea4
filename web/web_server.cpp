#include "web/web_server.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <vector>

#include "platform/paths.h"
#include "web/http_response.h"
#include "web/page_archive.h"
#include "web/path_map.h"
#include "web/text_util.h"

namespace lun {
namespace {

// What a page's output holds before the page or the root answer adds to it.
PageOutput DefaultPageOutput() {
  PageOutput output;
  output.headers["Content-Type"] = "text/html";
  output.headers["Cache-Control"] = "no-store";
  output.headers["Last-Modified"] = HttpDate(std::time(nullptr));
  return output;
}

}  // namespace

// One request: parsing is done; this decides the answer and writes it into
// the reply. It is also the PageResponder of the page it runs.
class WebServer::Exchange : public PageResponder {
 public:
  Exchange(WebServer& server, const ConnectionInfo& connection, const HttpRequest& request,
           std::string method, Reply* reply)
      : server_(server),
        connection_(connection),
        request_(request),
        method_(std::move(method)),
        head_only_(method_ == "HEAD"),
        reply_(reply) {}

  void Dispatch();

  bool SendFile(const std::string& path, int fd) override {
    return PrepareFile(path, false, FileHandle(fd));
  }
  void SendMemory(std::string_view extension, std::string_view bytes) override;

 private:
  void Trace(const std::string& line) { server_.Log(kServerLogName, line, {}, 0); }
  void SendError(std::string_view status, std::string_view extra_headers = {});
  // Serves `path`, or the already opened `file` when it is open.
  bool PrepareFile(std::string path, bool check_root, FileHandle file = FileHandle());
  bool RunPage(const std::string& path);

  WebServer& server_;
  const ConnectionInfo& connection_;
  const HttpRequest& request_;
  const std::string method_;
  const bool head_only_;  // HEAD: the head of the GET answer, no body
  Reply* const reply_;
  std::string query_string_;
  std::string path_translated_;
  bool answered_ = false;  // a file or memory answer has been prepared
  bool errored_ = false;   // an error response has been prepared
};

void WebServer::Exchange::SendError(std::string_view status, std::string_view extra_headers) {
  if (errored_) return;  // one error response per request
  errored_ = true;
  *reply_ = Reply{};
  reply_->bytes = ErrorResponse(status, std::time(nullptr), extra_headers);
  Trace("ERROR: " + std::string(status));
}

void WebServer::Exchange::Dispatch() {
  if (request_.path == "/" && server_.root_answer_) {
    PageOutput output = DefaultPageOutput();
    server_.root_answer_(connection_, request_, &output);
    reply_->bytes = PageResponseText(output, head_only_);
    return;
  }
  const std::string& web_root = server_.web_root_;
  query_string_ = request_.query_string;
  const MappedPath mapped =
      web_root.empty() ? MappedPath{} : MapPath(web_root, request_.path, &query_string_);
  if (!mapped.found) {
    Trace("Error processing: " + request_.path);
    SendError(kBadRequestStatus);
    return;
  }
  path_translated_ = mapped.path;
  std::string path = mapped.path;
  if (mapped.is_directory) path += server_.default_document_;
  if (!IsRegularFile(path)) {
    Trace("Sending listing...");  // no listings are produced: nothing is sent
    return;
  }
  // Include files are pieces of pages (the access rules among them): their
  // source is never sent, as if they were not there.
  if (EndsWithIgnoreCase(path, ".inc")) {
    Trace("Error processing: " + request_.path);
    SendError(kNotFoundStatus);
    return;
  }
  if (EndsWithIgnoreCase(path, ".shl") || EndsWithIgnoreCase(path, ".asp")) {
    if (!RunPage(path) && !errored_) {
      Trace("Error processing: " + request_.path);
      SendError(kBadRequestStatus);
    }
    return;
  }
  PrepareFile(path, true);
}

bool WebServer::Exchange::PrepareFile(std::string path, bool check_root, FileHandle file) {
  struct stat st;
  if (file.get() < 0) {
    if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      while (!path.empty() && path.back() == '/') path.pop_back();
      path += "/index.htm";
    }
    if (check_root && !IsUnderRoot(server_.web_root_, path)) {
      SendError(kForbiddenStatus);
      return false;
    }
    Trace("Sending file: " + path);
    file = FileHandle(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  } else {
    Trace("Sending file: " + path);
  }
  if (file.get() < 0 || fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SendError(kNotFoundStatus);
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const RangeDecision range = ResolveRange(request_.headers.Find("Range"), size);
  if (range.kind == RangeDecision::Kind::kEndBeyondFile) {
    SendError(kNotFoundStatus);
    return false;
  }
  if (range.kind == RangeDecision::Kind::kUnsatisfiable) {
    SendError(kRangeNotSatisfiableStatus,
              "Content-Range: bytes */" + std::to_string(size) + "\r\n");
    return false;
  }
  *reply_ = Reply{};
  reply_->bytes = FileHead(BaseName(path), size, range, st.st_mtime);
  if (!head_only_) {
    reply_->file_path = path;
    reply_->file = std::move(file);
    reply_->file_offset = range.first;
    reply_->file_length = range.count;
  }
  Trace("Transfer complete");
  answered_ = true;
  return true;
}

void WebServer::Exchange::SendMemory(std::string_view extension, std::string_view bytes) {
  *reply_ = Reply{};
  reply_->bytes = MemoryHead(extension, bytes.size());
  if (!head_only_) reply_->bytes.append(bytes);
  answered_ = true;
}

bool WebServer::Exchange::RunPage(const std::string& path) {
  Trace("Executing ASP file: " + path);
  if (!IsUnderRoot(server_.web_root_, path)) {
    SendError(kForbiddenStatus);
    return false;
  }
  if (server_.page_runner_ == nullptr) return false;  // no script host

  PageRequest page;
  page.method = method_;
  page.page_path = path;
  page.page_directory = path.substr(0, path.find_last_of('/') + 1);
  page.web_root = server_.web_root_;
  page.query_string = query_string_;
  page.request = &request_;
  page.connection = connection_;
  page.server_variables = FillServerVariables(request_, method_, query_string_, path_translated_,
                                              connection_, server_.identity_);
  page.query = ParseQueryString(query_string_);
  page.form = ParseForm(request_.form_data);
  if (const std::string* cookie = request_.headers.Find("Cookie")) {
    page.has_cookie_header = true;
    page.cookies = ParseCookies(*cookie);
  }
  PageOutput output = DefaultPageOutput();
  switch (server_.page_runner_->Run(page, *this, &output)) {
    case PageRunStatus::kCannotTranslate:
      SendError(kNotFoundStatus);
      return false;
    case PageRunStatus::kCannotCreateHost:
      return false;
    case PageRunStatus::kRan:
      break;
  }
  if (!answered_ && !errored_) reply_->bytes = PageResponseText(output, head_only_);
  return true;
}

WebServer::WebServer(PageRunner* page_runner, std::string log_directory)
    : ConnectionServer(std::move(log_directory)),
      page_runner_(page_runner),
      identity_(ServerIdentity::FromSystem()) {}

WebServer::~WebServer() {
  Shutdown();
  if (!web_root_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(web_root_, ignored);
  }
}

bool WebServer::Start(const std::string& archive_dir, const std::string& default_document,
                      uint16_t port, int idle_timeout_ms) {
  PrepareWebRoot(archive_dir);
  default_document_ = default_document;
  return Run(port, idle_timeout_ms);
}

void WebServer::PrepareWebRoot(const std::string& archive_dir) {
  std::error_code error;
  const std::filesystem::path archives =
      std::filesystem::absolute(archive_dir.empty() ? "." : archive_dir, error);
  // The web root lives in the server's own directory (the application home),
  // never beside the archives: two servers started from one program
  // directory would otherwise unpack into, and on exit delete, the same
  // folder, and every page of the other would be gone.
  std::string root = JoinPath(LogDirectory(), kWebRootFolder);
  // A web root left by a process that did not end cleanly may hold files of
  // older archives; start from an empty folder.
  std::filesystem::remove_all(root, error);
  if (!MakeDirectories(root, 0700)) {
    const std::string fallback = TemporaryName(TempDirectory());
    Log(kServerLogName, "Cannot create the web root " + root + ", using " + fallback, "Start",
        errno);
    root = fallback;
    MakeDirectories(root, 0700);
  }
  web_root_ = root + "/";

  std::vector<std::filesystem::path> found;
  for (const auto& entry : std::filesystem::directory_iterator(archives, error)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(error) && EndsWithIgnoreCase(name, ".WR"))
      found.push_back(entry.path());
  }
  std::sort(found.begin(), found.end());
  for (const auto& archive : found) {
    const std::string name = archive.filename().string();
    const std::string folder = name.substr(0, name.size() - 3);
    // The folder name is a single component: "..WR" must not unpack next to
    // the web root.
    if (folder.empty() || folder == "." || folder == "..") continue;
    const std::string target = JoinPath(root, folder);
    if (!MakeDirectories(target)) {
      Log(kServerLogName, "Cannot create " + target, "Start", errno);
      continue;
    }
    DirectorySink sink(target);
    const UnpackReport report = UnpackArchiveFile(archive.string(), sink);
    for (const std::string& refused : report.refused) {
      Log(kServerLogName, "Refused archive entry " + refused + " of " + name, "Start", 0);
    }
    if (!report.completed) {
      Log(kServerLogName, "Unpacking of " + name + " stopped: " + report.error, "Start", 0);
    }
  }
}

bool WebServer::HandleRequest(const ConnectionInfo& connection, std::string_view request,
                              Reply* reply) {
  const HttpRequest parsed = ParseRequest(request);
  std::string method = ToUpperAscii(parsed.method);
  // Other methods (OPTIONS, PUT, DELETE, TRACE ...) get no answer at all.
  if (method != "GET" && method != "POST" && method != "HEAD") return false;
  Exchange exchange(*this, connection, parsed, std::move(method), reply);
  exchange.Dispatch();
  return true;
}

}  // namespace lun
