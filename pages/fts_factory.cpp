#include "pages/fts_factory.h"

#include "automation/dispatch.h"
#include "crawler/extract/text_filters.h"
#include "pages/fts_object.h"
#include "pages/response_object.h"
#include "pages/server_object.h"
#include "platform/text.h"
#include "web/page_runner.h"

namespace lun {
namespace {

bool IsLoopbackAddress(std::string_view address) {
  if (UpperAscii(address.substr(0, 7)) == "::FFFF:") address.remove_prefix(7);
  return address == "::1" || address.starts_with("127.");
}

// The Host header names this machine, or is missing (plain HTTP/1.0).
bool HostIsThisMachine(const HttpRequest* request) {
  const std::string* header = request ? request->headers.Find("Host") : nullptr;
  if (!header) return true;
  std::string_view host = *header;
  while (!host.empty() && (host.front() == ' ' || host.front() == '\t')) host.remove_prefix(1);
  while (!host.empty() && (host.back() == ' ' || host.back() == '\t')) host.remove_suffix(1);
  // Without the port: "[::1]:8484" -> "[::1]", "localhost:8484" -> "localhost".
  if (host.starts_with('[')) {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return false;
    host = host.substr(0, close + 1);
  } else {
    host = host.substr(0, host.find(':'));
  }
  const std::string name = UpperAscii(host);
  return name.empty() || name == "LOCALHOST" || name == "[::1]" || name.starts_with("127.");
}

bool IsSessionCode(Dispatch* table, const std::string& code) {
  DispId exists = 0;
  if (!table || code.empty() || table->GetIdOfName(u"Exists", &exists) != S_OK) return false;
  const Variant args[] = {Variant::Bstr(ToWide(code))};
  Variant found;
  return table->Invoke(exists, DISPATCH_METHOD, args, &found, nullptr) == S_OK && found.AsBool();
}

}  // namespace

bool IsLocalUserRequest(const PageRequest& request, Dispatch* session_table) {
  const std::string* code = request.query.Find("IDCODE");
  return IsLoopbackAddress(request.connection.peer_address) && HostIsThisMachine(request.request) &&
         code && IsSessionCode(session_table, *code);
}

FtsFactory MakeFtsFactory(const FtsEnvironment& env) {
  return [&env](const PageContext& context) -> std::shared_ptr<Dispatch> {
    FtsPage page;
    // Weak: once the run has released its Response, an FTS object a page
    // kept somewhere is no longer active and touches nothing of the run.
    std::weak_ptr<ResponseObject> response = context.objects.response;
    page.active = [response] {
      auto r = response.lock();
      return r && r->writing();
    };
    if (std::shared_ptr<ServerObject> server = context.objects.server) {
      page.map_path = [server](std::string_view path) { return server->MapPath(path); };
    }
    page.responder = &context.responder;
    page.local_user = IsLocalUserRequest(context.request, env.session_table.get());
    return std::make_shared<FtsObject>(env, std::move(page));
  };
}

}  // namespace lun
