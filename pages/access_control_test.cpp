#include "pages/access_control.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "automation/dictionary.h"
#include "web/page_runner.h"
#include "web/request_variables.h"

namespace lun {
namespace {

TEST(AccessControlTest, OnlyExactNamesOfThisMachineAreThisMachine) {
  const struct {
    const char* host;
    bool ours;
  } cases[] = {
      {"127.0.0.1:8484", true},
      {"127.0.0.1", true},
      {" 127.0.0.1:8484 ", true},
      {"127.9.8.7:8484", true},
      {"localhost:8484", true},
      {"LocalHost", true},
      {"[::1]:8484", true},
      {"[::1]", true},
      {"[0:0:0:0:0:0:0:1]:8484", true},
      {"myhost:8484", true},  // this machine's host name
      {"MYHOST", true},
      // Names of other sites pointed at 127.0.0.1 (DNS rebinding).
      {"127.evil.example", false},
      {"127.evil.example:8484", false},
      {"127.0.0.1.nip.io:8484", false},
      {"127.attacker.test:8484", false},
      {"[::1]evil", false},
      {"[::1]evil:8484", false},
      {"[::1]:8484evil", false},
      {"localhost.evil.example", false},
      {"localhost.", false},
      {"myhost.evil.example", false},
      {"evil.example:8484", false},
      // Other ports, and ports that are no ports.
      {"127.0.0.1:8485", false},
      {"localhost:80", false},
      {"[::1]:1", false},
      {"127.0.0.1:", false},
      {"127.0.0.1:+8484", false},
      {"127.0.0.1:8484:8484", false},
      {"127.0.0.1:084840", false},
      // Loopback spelled in ways browsers do not send.
      {"127.1:8484", false},
      {"2130706433:8484", false},
      {"0x7f.0.0.1:8484", false},
      {"[::ffff:127.0.0.1]:8484", false},
      {"[::2]:8484", false},
      {"[::1", false},
      {"10.0.0.1:8484", false},
      {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    EXPECT_EQ(HostNamesThisMachine(c.host, 8484, "myhost"), c.ours);
  }
  EXPECT_FALSE(HostNamesThisMachine("", 8484, ""));
  EXPECT_TRUE(HostNamesThisMachine("localhost", 8484, ""));
}

TEST(AccessControlTest, LoopbackAddresses) {
  for (const char* address :
       {"127.0.0.1", "127.255.0.9", "::1", "::ffff:127.0.0.1", "::FFFF:127.1.2.3"}) {
    EXPECT_TRUE(IsLoopbackAddress(address)) << address;
  }
  for (const char* address :
       {"10.0.0.1", "127.evil", "1127.0.0.1", "::ffff:10.0.0.1", "::2", "", "127.0.0.1x"}) {
    EXPECT_FALSE(IsLoopbackAddress(address)) << address;
  }
}

TEST(AccessControlTest, OneParserForQueryParameters) {
  const struct {
    const char* query;
    std::optional<std::string> code;
  } cases[] = {
      {"IDCODE=abc", "abc"},
      {"q=x&IDCODE=abc&IDCODE=def", "abc"},
      {"ID%43ODE=abc", "abc"},  // an encoded name is the same name
      {"ID%43ODE=abc&IDCODE=def", "abc"},
      {"IDCODE=a%2Db+c", "a-b c"},
      {"IDCODE=", ""},
      {"idcode=abc", std::nullopt},
      {"IDCODEX=abc&=x&IDCODE", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(QueryParameter(c.query, "IDCODE"), c.code);
  }
}

TEST(AccessControlTest, CrossSiteRequests) {
  const struct {
    const char* origin;
    const char* site;
    bool cross;
  } cases[] = {
      {nullptr, nullptr, false},  // an old browser, or no browser
      {"http://127.0.0.1:8484", nullptr, false},
      {"http://localhost:8484", "same-origin", false},
      {nullptr, "none", false},  // typed into the address bar
      {nullptr, "same-origin", false},
      {nullptr, "cross-site", true},
      {nullptr, "same-site", true},  // another port of this machine is another site
      {"http://127.0.0.1:8484", "cross-site", true},
      // Our own form under a no-referrer policy: Origin "null".
      {"null", "same-origin", false},
      {"http://evil.example", nullptr, true},
      {"http://127.attacker.test:8484", nullptr, true},
      {"http://127.0.0.1:9999", nullptr, true},
      {"https://127.0.0.1:8484", nullptr, true},
      {"null", nullptr, true},
      {"", nullptr, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.origin ? c.origin : "-") + " / " + (c.site ? c.site : "-"));
    HeaderList headers;
    if (c.origin) headers.Set("Origin", std::string(" ") + c.origin);
    if (c.site) headers.Set("Sec-Fetch-Site", c.site);
    EXPECT_EQ(IsCrossSiteRequest(headers, 8484, "myhost"), c.cross);
  }
}

TEST(AccessControlTest, TheLocalUserIsLoopbackThisHostASessionCodeAndOurUser) {
  auto sessions = std::make_shared<Dictionary>();
  ASSERT_EQ(sessions->SetCompareMode(1, nullptr), S_OK);
  ASSERT_EQ(sessions->Add(Variant::Bstr(u"CODE-1"), Variant::Bstr(u"LUN_USER"), nullptr), S_OK);
  ASSERT_EQ(sessions->Add(Variant::Bstr(u"20316842"), Variant::Bstr(u"LUN_USER"), nullptr), S_OK);
  const uid_t me = 1000;
  const struct {
    const char* peer;
    const char* host;  // null: no Host header
    const char* query;
    std::optional<uid_t> peer_uid;
    bool local;
  } cases[] = {
      {"127.0.0.1", "127.0.0.1:8484", "IDCODE=CODE-1", me, true},
      {"127.0.0.1", "localhost:8484", "IDCODE=code-1", me, true},  // compare mode 1
      {"::1", "[::1]:8484", "IDCODE=CODE-1", me, true},
      {"::ffff:127.0.0.1", nullptr, "IDCODE=CODE-1", me, true},
      {"127.0.0.1", "127.0.0.1", "q=x&ID%43ODE=20316842", me, true},
      {"10.0.0.2", "127.0.0.1:8484", "IDCODE=CODE-1", me, false},      // another machine
      {"127.0.0.1", "evil.example:8484", "IDCODE=CODE-1", me, false},  // DNS rebinding
      {"127.0.0.1", "127.evil.example:8484", "IDCODE=20316842", me, false},
      {"127.0.0.1", "[::1", "IDCODE=CODE-1", me, false},
      {"127.0.0.1", "127.0.0.1:8484", "IDCODE=CODE-2", me, false},
      {"127.0.0.1", "127.0.0.1:8484", "idcode=CODE-1", me, false},
      {"127.0.0.1", "127.0.0.1:8484", "", me, false},
      // Another account of this machine, with either code.
      {"127.0.0.1", "127.0.0.1:8484", "IDCODE=CODE-1", 1001, false},
      {"127.0.0.1", "127.0.0.1:8484", "IDCODE=20316842", 0, false},
      {"127.0.0.1", "127.0.0.1:8484", "IDCODE=20316842", std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.peer) + " " + (c.host ? c.host : "-") + " " + c.query);
    HttpRequest http;
    if (c.host) http.headers.Set("Host", std::string(" ") + c.host);
    PageRequest request;
    request.request = &http;
    request.query_string = c.query;
    request.connection = {"127.0.0.1", 8484, c.peer, 40000};
    int asked = 0;
    const RequestAccess access = AssessRequest(
        request, sessions.get(),
        [&](const ConnectionInfo& connection) {
          ++asked;
          EXPECT_EQ(connection.peer_port, 40000);
          return c.peer_uid;
        },
        me);
    EXPECT_EQ(access.local_user(), c.local);
    EXPECT_LE(asked, 1);
  }
  HttpRequest http;
  PageRequest request;
  request.request = &http;
  request.query_string = "IDCODE=CODE-1";
  request.connection = {"127.0.0.1", 8484, "127.0.0.1", 40000};
  EXPECT_FALSE(AssessRequest(request, nullptr, {}, me).local_user());
  EXPECT_EQ(sessions->Count(), 2u) << "asking adds no key";
}

}  // namespace
}  // namespace lun
