#include "pages/root_page.h"

#include <gtest/gtest.h>

namespace lun {
namespace {

TEST(RootPageTest, OnlyTheLocalUsersOwnVisitIsSentHomeWithTheCode) {
  const uid_t me = 1000;
  const struct {
    const char* peer;
    const char* host;        // null: no Host header
    const char* fetch_site;  // Sec-Fetch-Site; null: none
    std::optional<uid_t> peer_uid;
    bool sent_home;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1:8484", "none", me, true},  // typed or bookmarked
      {"::1", "localhost:8484", nullptr, me, true},
      {"127.0.0.1", nullptr, nullptr, me, true},                         // plain HTTP/1.0 client
      {"127.0.0.1", "evil.example:8484", "none", me, false},             // foreign Host
      {"127.0.0.1", "127.0.0.1.nip.io:8484", "same-origin", me, false},  // DNS rebinding
      {"127.0.0.1", "127.0.0.1:9999", "none", me, false},                // another port
      {"127.0.0.1", "127.0.0.1:8484", "cross-site", me, false},          // a link elsewhere
      {"127.0.0.1", "127.0.0.1:8484", "none", 1001, false},              // another account
      {"127.0.0.1", "127.0.0.1:8484", "none", std::nullopt, false},      // owner unknown
      {"192.168.1.9", "127.0.0.1:8484", "none", me, false},              // another computer
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.peer) + " " + (c.host ? c.host : "-") + " " +
                 (c.fetch_site ? c.fetch_site : "-"));
    HttpRequest request;
    if (c.host) request.headers.Set("Host", c.host);
    if (c.fetch_site) request.headers.Set("Sec-Fetch-Site", c.fetch_site);
    RootPageContext context{"C0DE-1", [&](const ConnectionInfo&) { return c.peer_uid; }, me};
    PageOutput output;
    AnswerRoot(context, {"127.0.0.1", 8484, c.peer, 40000}, request, &output);
    if (c.sent_home) {
      EXPECT_EQ(output.redirect, "/LUN/home.shl?IDCODE=C0DE-1");
    } else {
      EXPECT_TRUE(output.redirect.empty());
      EXPECT_NE(output.body.find("lun --open"), std::string::npos);
      EXPECT_EQ(output.body.find("C0DE"), std::string::npos) << "the code never leaks";
    }
  }
}

TEST(RootPageTest, SearchPagePathEncodesTheCodeAndTheQuery) {
  EXPECT_EQ(SearchPagePath("A-1", ""), "/LUN/home.shl?IDCODE=A-1");
  EXPECT_EQ(SearchPagePath("A-1", "桌面 a&b"),
            "/LUN/Search.shl?IDCODE=A-1&SearchText=%E6%A1%8C%E9%9D%A2+a%26b");
}

}  // namespace
}  // namespace lun
