#include "web/request_variables.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace lun {
namespace {

struct PairCase {
  const char* name;
  std::string input;
  std::vector<std::pair<std::string, std::string>> expected;
};

void ExpectPairs(const NameValueList& list,
                 const std::vector<std::pair<std::string, std::string>>& expected) {
  EXPECT_EQ(list.entries(), expected);
}

TEST(ParseQueryStringTest, Table) {
  const std::array<PairCase, 9> cases = {{
      {"first value wins", "a=1&b=2&a=3", {{"a", "1"}, {"b", "2"}}},
      {"escaped ampersand stays in the value", "q=x&amp;y", {{"q", "x&y"}}},
      {"utf-8 escapes become the character", "q=%E4%B8%AD", {{"q", "\xE4\xB8\xAD"}}},
      {"plus is not a blank here", "q=a+b", {{"q", "a+b"}}},
      {"pieces without = are ignored", "flag&x=&=v", {{"x", ""}, {"", "v"}}},
      {"names are not decoded", "%41=%41", {{"%41", "A"}}},
      {"value keeps later =", "a=b=c", {{"a", "b=c"}}},
      {"empty", "", {}},
      {"path segments appended by the mapping", "x=1&a=1&b=2", {{"x", "1"}, {"a", "1"}, {"b", "2"}}},
  }};
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectPairs(ParseQueryString(c.input), c.expected);
  }
}

TEST(Utf8QueryDecodeTest, Table) {
  const std::array<std::pair<std::string_view, std::string_view>, 13> cases = {{
      {"%41%42c", "ABc"},
      {"%C3%A9", "\xC3\xA9"},
      {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},  // outside the BMP
      {"a%E4%B8", "a"},                      // sequence cut off: the rest is dropped
      {"a%E", "a"},                          // escape cut off
      {"%80x", "\xEF\xBF\xBDx"},             // stray continuation: U+FFFD, decoding goes on
      {"%FFx", "\xEF\xBF\xBDx"},
      {"%7F", "\x7F"},
      {"%E4%41%41", "\xEF\xBF\xBD" "AA"},    // broken sequence: resynchronise after the lead
      {"%C0%AE", "\xEF\xBF\xBD"},            // overlong form of "."
      {"%FC%80%80%80%80%80", "\xEF\xBF\xBD"},  // six-byte form: no such character
      {"100%zz", "100%zz"},
      {"a+b", "a+b"},
  }};
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(Utf8QueryDecode(in), out);
  }
}

TEST(ParseFormTest, Table) {
  const std::array<PairCase, 4> cases = {{
      {"plus is a blank", "q=a+b&", {{"q", "a b"}}},
      {"first value wins", "a=1&a=2&b=%41&", {{"a", "1"}, {"b", "A"}}},
      {"escaped plus", "q=1%2B1&", {{"q", "1+1"}}},
      {"no =", "junk&&", {}},
  }};
  for (const PairCase& c : cases) {
    SCOPED_TRACE(c.name);
    ExpectPairs(ParseForm(c.input), c.expected);
  }
}

TEST(ParseCookiesTest, VersionSkippedAttributesAttach) {
  const std::vector<RequestCookie> cookies = ParseCookies(" $Version=1; id=5; $Path=/");
  ASSERT_EQ(cookies.size(), 1u);
  EXPECT_EQ(cookies[0].name, "id");
  EXPECT_EQ(cookies[0].value, "5");
  ASSERT_EQ(cookies[0].attributes.size(), 1u);
  EXPECT_EQ(cookies[0].attributes[0], (std::pair<std::string, std::string>{"Path", "/"}));
}

TEST(ParseCookiesTest, SeveralCookiesSubKeysAndJunk) {
  const std::vector<RequestCookie> cookies =
      ParseCookies("$Path=/orphan; a=1; junk; =x; b=k1=v1&k2=v2; a=2; $Domain=d");
  ASSERT_EQ(cookies.size(), 2u);
  EXPECT_EQ(cookies[0].name, "a");
  EXPECT_EQ(cookies[0].value, "1");
  EXPECT_TRUE(cookies[0].attributes.empty());
  EXPECT_EQ(cookies[1].name, "b");
  EXPECT_EQ(cookies[1].value, "k1=v1&k2=v2");
}

TEST(FillServerVariablesTest, OrderAndValues) {
  const HttpRequest request = ParseRequest(
      "POST /LUN/a.shl HTTP/1.0\r\nHost: 127.0.0.1:8484\r\nAccept: */*\r\nX-Other: 1\r\n\r\n");
  ConnectionInfo connection{"127.0.0.1", 8484, "127.0.0.2", 40000};
  const NameValueList vars = FillServerVariables(request, "POST", "a=1", "/root/LUN/a.shl",
                                                 connection, {"alice", "desk"});
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"LOGON_USER", "alice"},
      {"SERVER_NAME", "desk"},
      {"SERVER_SOFTWARE", "Tamrix web server/1.0"},
      {"SERVER_PROTOCOL", "HTTP/1.0"},
      {"REQUEST_METHOD", "POST"},
      {"LOCAL_ADDR", "127.0.0.1"},
      {"SERVER_PORT", "8484"},
      {"REMOTE_ADDR", "127.0.0.2"},
      {"REMOTE_HOST", " 127.0.0.1:8484"},
      {"HTTP_ACCEPT", " */*"},
      {"QUERY_STRING", "a=1"},
      {"SCRIPT_NAME", "/LUN/a.shl"},
      {"PATH_INFO", "/LUN/a.shl"},
      {"PATH_TRANSLATED", "/root/LUN/a.shl"},
  };
  EXPECT_EQ(vars.entries(), expected);
}

}  // namespace
}  // namespace lun
