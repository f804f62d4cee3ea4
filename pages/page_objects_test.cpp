// Request, Response, Server and the cookies, driven by pages.
#include <gtest/gtest.h>

#include "pages/page_encoding.h"
#include "pages/page_test_fixture.h"
#include "pages/response_object.h"

namespace lun {
namespace {

using namespace page_test;  // NOLINT: the fixture of these tests

using PageObjectsTest = PageFixture;

TEST_F(PageObjectsTest, RequestCollectionsHoldWhatTheBrowserSent) {
  RequestParts parts;
  parts.query = "q=a+b&x=%E4%B8%AD&both=query&dup=1&dup=2&amp=x&amp;y";
  parts.form = "both=form&empty=&f=c+d%26e";
  parts.cookie = "$Version=1; id=5; $Path=/; prefs=lang=zh&size=10";
  const std::string page =
      "<%= QueryString(\"q\") %>|<%= Request.QueryString(\"x\") %>|<%= QueryString(\"dup\") %>|"
      "<%= QueryString(\"amp\") %>|<%= Form(\"f\") %>|<%= Item(\"both\") %>|"
      "<%= Request(\"empty\") %>|<%= Item(\"none\") %>|"
      "<%= ServerVariables(\"REQUEST_METHOD\") %>|<%= ServerVariables(\"SERVER_PORT\") %>|"
      "<%= Request.Cookies(\"id\") %>|<%= Cookies.Count %>|<%= Cookies(\"prefs\")(\"size\") %>|"
      "<%= Cookies(\"prefs\").HasKeys %>|<%= Cookies(\"id\").Path %>|<%= Cookies.Key(1) %>";
  const PageRun run = RunPage(page, parts);
  EXPECT_EQ(run.output.body,
            "a+b|\xE4\xB8\xAD|1|x&y|c d&e|form|||POST|8484|5|2|10|True|/|id");
  EXPECT_TRUE(run.output.cookies.empty()) << "cookies the browser sent are not echoed";
}

TEST_F(PageObjectsTest, ItemPrefersANonEmptyFormValue) {
  const RequestParts parts{"q=query&r=query", "q=&r=form", ""};
  EXPECT_EQ(RunPage("<%= Item(\"q\") %>,<%= Item(\"r\") %>", parts).output.body, "query,form");
}

TEST_F(PageObjectsTest, ResponseWritesEndsAndClears) {
  struct Case {
    const char* name;
    std::string page;
    std::string body;
  };
  const Case cases[] = {
      {"End stops the output, not the script",
       "<% Response.Write \"a\" : Response.End : Response.Write \"b\" %>c<% n = 1 %><%= n %>",
       "a"},
      {"Clear drops the output and writes again",
       "<% Response.Write \"a\" : Response.End : Response.Clear : Response.Write \"b\" %>", "b"},
      {"Null, Empty and numbers", "<% Response.Write Null : Response.Write x : Response.Write 1.5 %>",
       "1.5"},
      {"Buffer is a stored flag", "<% Response.Buffer = False %><%= Response.Buffer %>", "False"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RunPage(c.page).output.body, c.body);
  }
}

TEST_F(PageObjectsTest, RedirectAnswersWithLocationAndNoBody) {
  const PageRun run = RunPage("before<% Response.Redirect \"/LUN/home.shl?a=1\" %>after");
  EXPECT_EQ(run.output.redirect, "/LUN/home.shl?a=1");
  EXPECT_EQ(run.Answer(),
            "HTTP/1.0 302 Object Moved\r\nLocation: /LUN/home.shl?a=1\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(PageObjectsTest, HeadersComeSortedAfterTheDefaults) {
  const PageRun plain = RunPage("x");
  const std::string answer = plain.Answer();
  const size_t cache = answer.find("\r\nCache-Control: no-store\r\n");
  const size_t length = answer.find("\r\nContent-Length: 1\r\n");
  const size_t type = answer.find("\r\nContent-Type: text/html\r\n");
  const size_t modified = answer.find("\r\nLast-Modified: ");
  ASSERT_NE(modified, std::string::npos);
  EXPECT_LT(cache, length);
  EXPECT_LT(length, type);
  EXPECT_LT(type, modified);

  const PageRun added = RunPage(
      "<% Response.AddHeader \"X-Mode\", \"a\" : Response.AddHeader \"Content-Type\", \"text/plain\""
      " : Response.AddHeader \"X-Mode\", \"b\" %>");
  EXPECT_EQ(added.output.headers.at("Content-Type"), "text/plain");
  EXPECT_EQ(added.output.headers.at("X-Mode"), "b");

  const PageRun bad = RunPage("<% Response.AddHeader \"Bad: x\", \"v\" %>");
  EXPECT_NE(bad.output.body.find("Description: Invalid procedure call"), std::string::npos)
      << bad.output.body;
  EXPECT_EQ(bad.output.headers.count("Bad: x"), 0u);
}

TEST_F(PageObjectsTest, BinaryWriteTakesOnlyBytes) {
  const PageRun text = RunPage("<% Response.BinaryWrite \"text\" %>");
  EXPECT_NE(text.output.body.find("Description: Type mismatch"), std::string::npos)
      << text.output.body;
}

TEST(ResponseObjectTest, BinaryWriteAppendsTheBytesUnchanged) {
  ResponseObject response(std::make_shared<CookieCollection>());
  const std::uint8_t bytes[] = {0, 0xFF, 'a', '\r'};
  Variant args[] = {Variant::Bytes(bytes)};
  ASSERT_EQ(response.Invoke(ResponseObject::kBinaryWrite, DISPATCH_METHOD, args, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(response.output(), std::string("\0\xFF" "a\r", 4));
  ASSERT_EQ(response.Invoke(ResponseObject::kEnd, DISPATCH_METHOD, {}, nullptr, nullptr), S_OK);
  ASSERT_EQ(response.Invoke(ResponseObject::kBinaryWrite, DISPATCH_METHOD, args, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(response.output().size(), 4u) << "nothing is written after End";
}

TEST(ResponseObjectTest, OutputStopsAtItsBoundWithAnError) {
  ResponseObject response(std::make_shared<CookieCollection>(), 10);
  Variant six[] = {Variant::Bstr(u"123456")};
  ExcepInfo excep;
  ASSERT_EQ(response.Invoke(ResponseObject::kWrite, DISPATCH_METHOD, six, nullptr, &excep), S_OK);
  EXPECT_EQ(response.Invoke(ResponseObject::kWrite, DISPATCH_METHOD, six, nullptr, &excep),
            DISP_E_EXCEPTION);
  EXPECT_EQ(excep.scode, ScriptErrorCode(7));
  EXPECT_EQ(response.output(), "123456") << "a refused write adds nothing";
}

TEST_F(PageObjectsTest, CookiesThePageWritesBecomeSetCookieLines) {
  struct Case {
    const char* name;
    std::string page;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"value", "<% Response.Cookies(\"a\") = \"1\" %>", {"a=1; httponly; samesite=Strict"}},
      {"sub-keys in key order",
       "<% Response.Cookies(\"p\")(\"z\") = \"1\" : "
       "Response.Cookies(\"p\")(\"a\") = \"x y\" : "
       "Response.Cookies(\"p\")(\"k\") = \"\" %>",
       {"p=a=x+y&k&z=1; httponly; samesite=Strict"}},
      {"attributes in name order",
       "<% Set c = Response.Cookies(\"s\") : c.Item = \"v\" : c.Path = \"/LUN\" : "
       "c.Secure = True : c.Domain = \"localhost\" %>",
       {"s=v; domain=localhost; httponly; path=/LUN; samesite=Strict; secure"}},
      {"empty value is a deletion",
       "<% Response.Cookies(\"gone\") = \"\" %>",
       {"gone=; httponly; max-age=0; samesite=Strict; version=1"}},
      {"separators inside values are encoded",
       "<% Response.Cookies(\"e\") = \"a;b&c=d\" %>",
       {"e=a%3Bb%26c%3Dd; httponly; samesite=Strict"}},
      {"names cookies cannot have are left out", "<% Response.Cookies(\"a b\") = \"1\" %>", {}},
      {"reading does not create",
       "<% x = Request.Cookies(\"new\")(\"k\") & Cookies(\"n2\") %>",
       {}},
      {"names in order, each once",
       "<% Response.Cookies(\"b\") = \"1\" : Response.Cookies(\"a\") = \"2\" : "
       "Response.Cookies(\"b\") = \"3\" %>",
       {"a=2; httponly; samesite=Strict", "b=3; httponly; samesite=Strict"}},
      {"too long to send", "<% Response.Cookies(\"big\") = String(3000, \"x\") %>", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PageRun run = RunPage(c.page);
    EXPECT_EQ(run.output.body, "");
    EXPECT_EQ(run.output.cookies, c.lines);
  }
  const PageRun answer = RunPage("<% Response.Cookies(\"a\") = \"1\" %>");
  EXPECT_NE(answer.Answer().find("\r\nSet-Cookie: a=1; httponly; samesite=Strict\r\n\r\n"),
            std::string::npos);
}

TEST_F(PageObjectsTest, RequestCookiesRoundTripWhenThePageChangesThem) {
  RequestParts parts;
  parts.cookie = "keep=1; prefs=lang=zh&size=10; raw=a%3Bb";
  const PageRun run = RunPage(
      "<% Response.Cookies(\"prefs\")(\"size\") = \"12\" %><%= Cookies(\"raw\") %>|"
      "<% For Each k In Cookies(\"prefs\") : Response.Write k & \",\" : Next %>|"
      "<% For Each n In Request.Cookies : Response.Write n & \",\" : Next %>",
      parts);
  EXPECT_EQ(run.output.body, "a;b|lang,size,|keep,prefs,raw,");
  EXPECT_EQ(run.output.cookies,
            std::vector<std::string>{"prefs=lang=zh&size=12; httponly; samesite=Strict"});
}

TEST_F(PageObjectsTest, CookieExpiryIsWrittenInGmt) {
  // 2030-01-15 12:00 local time; the offset of the zone decides the hour.
  const PageRun run = RunPage(
      "<% Response.Cookies(\"t\") = \"1\" : Response.Cookies(\"t\").Expires = "
      "DateSerial(2030, 1, 15) + TimeSerial(12, 0, 0) %><%= Year(Response.Cookies(\"t\").Expires) "
      "%>");
  EXPECT_EQ(run.output.body, "2030");
  ASSERT_EQ(run.output.cookies.size(), 1u);
  const std::string& line = run.output.cookies[0];
  EXPECT_EQ(line.rfind("t=1; expires=", 0), 0u) << line;
  EXPECT_NE(line.find("-Jan-2030 "), std::string::npos) << line;
  EXPECT_NE(line.find(" GMT; httponly"), std::string::npos) << line;
}

TEST_F(PageObjectsTest, ServerEncodesMapsAndCreates) {
  struct Case {
    const char* name;
    std::string expression;
    std::string value;
  };
  const Case cases[] = {
      {"URL encoding", "Server.URLEncode(\"a b&c\")", "a+b%26c"},
      {"URL encoding of a Chinese character, byte by byte", "Server.URLEncode(\"\xE4\xB8\xAD\")",
       "%E4%B8%AD"},
      {"URL encoding keeps the unreserved", "Server.URLEncode(\"Az09-_.!~*'()/:\")",
       "Az09-_.!~*'()/:"},
      {"HTML encoding", "Server.HTMLEncode(\"<a href=\"\"x\"\">Tom's & \xE4\xB8\xAD</a>\")",
       "&lt;a href=&quot;x&quot;&gt;Tom&apos;s &amp; \xE4\xB8\xAD&lt;/a&gt;"},
      {"HTML encoding of Null", "Server.HTMLEncode(Null)", ""},
      {"MapPath from the root", "Server.MapPath(\"/LUN/a.gif\")", "root/LUN/a.gif"},
      {"MapPath from the page", "Server.MapPath(\"img\\b.gif\")", "root/LUN/img/b.gif"},
      {"MapPath up a level", "Server.MapPath(\"../B//./c.gif\")", "root/B/c.gif"},
      {"MapPath stays in the root", "Server.MapPath(\"../../../etc/passwd\")",
       "root/etc/passwd"},
      {"a dictionary", "TypeName(Server.CreateObjectEx(\"scripting.dictionary\"))",
       "Dictionary"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string expected = c.value;
    if (expected.rfind("root/", 0) == 0) expected = dir_.File(expected);
    EXPECT_EQ(RunPage("<%= " + c.expression + " %>").output.body, expected);
  }
  const PageRun unknown = RunPage("<% Set o = Server.CreateObjectEx(\"WScript.Shell\") %>");
  EXPECT_NE(unknown.output.body.find("Description: ActiveX component can't create object"),
            std::string::npos)
      << unknown.output.body;
}

TEST(PageEncodingTest, UrlEncodingEscapesEveryByteOutsidePrintableAscii) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  const std::string encoded = UrlEncode(all);
  for (const char c : encoded) {
    EXPECT_TRUE(c > 0x20 && c < 0x7F) << static_cast<int>(c);
    EXPECT_EQ(std::string("\"#$&,;<=>?@[\\]^`{|}").find(c), std::string::npos) << c;
  }
}

}  // namespace
}  // namespace lun
