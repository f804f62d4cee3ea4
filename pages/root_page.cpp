#include "pages/root_page.h"

#include "pages/page_encoding.h"

namespace lun {
namespace {

// Says where the search is opened, without giving anything away: the same
// text for another account, another computer and another site.
constexpr std::string_view kElsewherePage =
    "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
    "<title>Tamrix桌面搜索</title></head><body>\n"
    "<h1>Tamrix桌面搜索</h1>\n"
    "<p>请在运行本搜索的电脑上, 以同一用户打开搜索: 点击托盘图标, 或在终端中运行 "
    "<code>lun --open</code>。</p>\n"
    "<p>To open the search, use the tray icon or run <code>lun --open</code> as the same "
    "user on the computer where it runs.</p>\n</body></html>\n";

}  // namespace

std::string SearchPagePath(std::string_view session_code, std::string_view query) {
  if (query.empty()) return "/LUN/home.shl?IDCODE=" + UrlEncode(session_code);
  return "/LUN/Search.shl?IDCODE=" + UrlEncode(session_code) + "&SearchText=" + UrlEncode(query);
}

void AnswerRoot(const RootPageContext& context, const ConnectionInfo& connection,
                const HttpRequest& request, PageOutput* output) {
  if (IsOwnUsersVisit(connection, request, context.peer_uid, context.own_uid)) {
    output->redirect = SearchPagePath(context.session_code, {});
    return;
  }
  output->headers["Content-Type"] = "text/html; charset=utf-8";
  output->body = std::string(kElsewherePage);
}

}  // namespace lun
