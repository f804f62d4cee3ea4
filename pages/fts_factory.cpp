#include "pages/fts_factory.h"

#include "pages/fts_object.h"
#include "pages/response_object.h"
#include "pages/server_object.h"
#include "web/page_runner.h"

namespace lun {

FtsPage DescribeRequest(const PageRequest& request, const FtsEnvironment& env) {
  FtsPage page;
  page.access = AssessRequest(request, env.session_table.get(), env.peer_uid, env.own_uid);
  page.local_user = page.access.local_user();
  page.peer_address = request.connection.peer_address;
  for (const RequestCookie& cookie : request.cookies) {
    if (cookie.name == kLoginCookieName) {
      page.login_cookie = cookie.value;
      break;
    }
  }
  return page;
}

FtsFactory MakeFtsFactory(const FtsEnvironment& env) {
  return [&env](const PageContext& context) -> std::shared_ptr<Dispatch> {
    FtsPage page = DescribeRequest(context.request, env);
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
    return std::make_shared<FtsObject>(env, std::move(page));
  };
}

}  // namespace lun
