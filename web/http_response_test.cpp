#include "web/http_response.h"

#include "web/http_request.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace lun {
namespace {

constexpr std::string_view kServer = "Server: LUN Web\xE6\x9C\x8D\xE5\x8A\xA1\xE5\x99\xA8\r\n";

TEST(HttpDateTest, Rfc1123InGmt) {
  EXPECT_EQ(HttpDate(784111777), "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(HttpDate(0), "Thu, 01 Jan 1970 00:00:00 GMT");
}

TEST(MimeTableTest, RowsAndLookups) {
  EXPECT_EQ(MimeTableSize(), 142u);
  const std::array<std::pair<std::string_view, std::string_view>, 12> cases = {{
      {".htm", "text/html"},
      {".HTML", "text/html"},  // case ignored
      {".utf-7", "application/x-www-form-urlencoded"},
      {".js", "application/x-javascript"},
      {".so", "application/octet-stream"},
      {".mp2", "audio/mpeg"},
      {".jpe", "image/jpeg"},
      {".xsl", "text/xml"},
      {".shtml", "wwwserver/html-ssi"},
      {".php", "wwwserver/isapi"},
      {".shl", ""},
      {"", ""},
  }};
  for (const auto& [extension, type] : cases) {
    SCOPED_TRACE(extension);
    EXPECT_EQ(MimeTypeForExtension(extension), type);
  }
  EXPECT_EQ(ContentTypeLine(".css"), "Content-Type: text/css\r\n");
  EXPECT_EQ(ContentTypeLine(".xyzzy"), "Content-Type: \xE6\x9C\xAA\xE7\x9F\xA5\r\n");
}

TEST(FileExtensionTest, LastDotOfLastComponent) {
  EXPECT_EQ(FileExtension("/a.b/c.tar.gz"), ".gz");
  EXPECT_EQ(FileExtension("/a.b/c"), "");
  EXPECT_EQ(FileExtension("x.HTM"), ".HTM");
}

struct RangeCase {
  const char* header;  // nullptr: no header
  RangeDecision::Kind kind;
  uint64_t first;
  uint64_t count;
};

TEST(ResolveRangeTest, OnAThousandByteFile) {
  using K = RangeDecision::Kind;
  const std::array<RangeCase, 22> cases = {{
      {nullptr, K::kWhole, 0, 1000},
      {"bytes=0-", K::kWhole, 0, 1000},
      {"bytes=100-199", K::kPartial, 100, 100},
      {"bytes=0-1000", K::kEndBeyondFile, 0, 0},  // last byte at the size: 404
      {"bytes=0-999", K::kWhole, 0, 1000},
      {"bytes=999-", K::kPartial, 999, 1},
      {"bytes=999-999", K::kPartial, 999, 1},
      {"bytes=1000-", K::kUnsatisfiable, 0, 0},
      {"bytes=5000-6000", K::kEndBeyondFile, 0, 0},
      {"bytes=500-100", K::kWhole, 0, 1000},  // first after last: ignored
      {"bytes=-100", K::kPartial, 900, 100},
      {"bytes=-2000", K::kWhole, 0, 1000},
      {"bytes=-0", K::kUnsatisfiable, 0, 0},
      {"bytes=0-18446744073709551615", K::kEndBeyondFile, 0, 0},
      {"bytes=99999999999999999999-", K::kUnsatisfiable, 0, 0},
      {"bytes=0-,0-,0-", K::kWhole, 0, 1000},  // several ranges: whole file once
      {"items=0-5", K::kWhole, 0, 1000},
      {"bytes=5", K::kWhole, 0, 1000},
      {"bytes 0-5", K::kWhole, 0, 1000},
      {"bytes=a-b", K::kWhole, 0, 1000},
      {"bytes= 100-199 ", K::kPartial, 100, 100},
      {"bytes=+1-2", K::kWhole, 0, 1000},
  }};
  for (const RangeCase& c : cases) {
    SCOPED_TRACE(c.header ? c.header : "(none)");
    const std::string header = c.header ? c.header : "";
    const RangeDecision d = ResolveRange(c.header ? &header : nullptr, 1000);
    EXPECT_EQ(d.kind, c.kind);
    if (c.kind == K::kWhole || c.kind == K::kPartial) {
      EXPECT_EQ(d.first, c.first);
      EXPECT_EQ(d.count, c.count);
    }
  }
}

TEST(ResolveRangeTest, EmptyFileIsSentWhole) {
  const std::string header = "bytes=0-";
  EXPECT_EQ(ResolveRange(&header, 0).kind, RangeDecision::Kind::kWhole);
}

TEST(FileHeadTest, WholeAndPartialHeads) {
  const std::string date = HttpDate(784111777);
  EXPECT_EQ(
      FileHead("page.htm", 1000, {RangeDecision::Kind::kWhole, 0, 1000}, 784111777),
      "HTTP/1.0 200 OK\r\n" + std::string(kServer) +
          "Content-Type: text/html\r\n"
          "Content-Disposition: attachment; filename=\"page.htm\"; filename*=UTF-8''page.htm\r\n"
          "Content-Length: 1000\r\n"
          "Last-Modified: " +
          date + "\r\n\r\n");
  EXPECT_EQ(FileHead("r.bin", 1000, {RangeDecision::Kind::kPartial, 100, 100}, 784111777),
            "HTTP/1.0 206 Partial Content\r\n" + std::string(kServer) +
                "Content-Type: application/octet-stream\r\n"
                "Content-Disposition: attachment; filename=\"r.bin\"; filename*=UTF-8''r.bin\r\n"
                "Content-Range: bytes 100-199/1000\r\n"
                "Content-Length: 100\r\n"
                "Last-Modified: " +
                date + "\r\n\r\n");
}

TEST(FileHeadTest, FileNamesAreQuotedAndEncoded) {
  const struct {
    const char* name;
    const char* line;
  } cases[] = {
      {"a\r\nSet-Cookie: x=1.txt",
       "filename=\"a__Set-Cookie: x=1.txt\"; "
       "filename*=UTF-8''a%0D%0ASet-Cookie%3A%20x%3D1.txt\r\n"},
      {"a\"; filename=evil.exe",
       "filename=\"a_; filename=evil.exe\"; filename*=UTF-8''a%22%3B%20filename%3Devil.exe\r\n"},
      {"报告 1.doc", "filename=\"______ 1.doc\"; filename*=UTF-8''%E6%8A%A5%E5%91%8A%201.doc\r\n"},
      {"back\\slash,semi;.txt",
       "filename=\"back_slash,semi;.txt\"; filename*=UTF-8''back%5Cslash%2Csemi%3B.txt\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string head = FileHead(c.name, 1, {RangeDecision::Kind::kWhole, 0, 1}, 0);
    EXPECT_NE(head.find(std::string("Content-Disposition: attachment; ") + c.line),
              std::string::npos)
        << head;
    EXPECT_EQ(head.find("\r\nSet-Cookie"), std::string::npos);
  }
}

TEST(ErrorResponseTest, Form) {
  EXPECT_EQ(ErrorResponse("400 Bad Request", 784111777),
            "HTTP/1.0 400 Bad Request\r\n" + std::string(kServer) +
                "Content-Length: 0\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n\r\n");
  EXPECT_NE(ErrorResponse(kRangeNotSatisfiableStatus, 0, "Content-Range: bytes */1000\r\n")
                .find("Content-Length: 0\r\nContent-Range: bytes */1000\r\nDate: "),
            std::string::npos);
}

TEST(MemoryHeadTest, Form) {
  EXPECT_EQ(MemoryHead(".BMP", 54),
            "HTTP/1.0 200 OK\r\n" + std::string(kServer) +
                "Content-Type: image/bmp\r\nContent-Length: 54\r\n\r\n");
}

TEST(PageResponseTextTest, DefaultHeadersInByteOrderThenBody) {
  PageOutput page;
  page.headers["Content-Type"] = "text/html";
  page.headers["Cache-Control"] = "no-store";
  page.headers["Last-Modified"] = "Sun, 06 Nov 1994 08:49:37 GMT";
  page.body = "<p>\xE4\xB8\xAD</p>";
  EXPECT_EQ(PageResponseText(page, false),
            "HTTP/1.0 200 OK\r\n" + std::string(kServer) +
                "Cache-Control: no-store\r\n"
                "Content-Length: 10\r\n"
                "Content-Type: text/html\r\n"
                "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
                "\r\n<p>\xE4\xB8\xAD</p>");
  EXPECT_EQ(PageResponseText(page, true).find("<p>"), std::string::npos);
}

// Cookie lines carry their own line ends; no extra blank line may split the
// head from its last header (which would push "\r\n" into the body).
TEST(PageResponseTextTest, CookiesEndTheHeadOnce) {
  PageOutput page;
  page.headers["Content-Type"] = "text/html";
  page.cookies = {"a=1; path=/", "b=2"};
  page.body = "x";
  EXPECT_EQ(PageResponseText(page, false),
            "HTTP/1.0 200 OK\r\n" + std::string(kServer) +
                "Content-Length: 1\r\nContent-Type: text/html\r\n"
                "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\nx");
}

TEST(PageResponseTextTest, RedirectAndHeaderInjection) {
  PageOutput page;
  page.body = "ignored";
  page.redirect = "/LUN/home.shl\r\nX: y";
  EXPECT_EQ(PageResponseText(page, false),
            "HTTP/1.0 302 Object Moved\r\nLocation: /LUN/home.shlX: y\r\nContent-Length: 0\r\n\r\n");
  page.redirect.clear();
  page.headers["X-A"] = "1\r\nSet-Cookie: evil=1";
  EXPECT_EQ(PageResponseText(page, false).find("\r\nSet-Cookie"), std::string::npos);
}

}  // namespace
}  // namespace lun
