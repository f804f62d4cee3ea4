#include "web/http_request.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace lun {
namespace {

using State = RequestFrame::State;

struct FrameCase {
  const char* name;
  std::string bytes;
  State state;
  size_t length;        // for kComplete
  std::string_view status;  // for kRejected
};

TEST(FrameRequestTest, DecidesCompletenessAndRefusesAmbiguousFraming) {
  const std::string get = "GET /LUN/ HTTP/1.0\r\nHost: x\r\n\r\n";
  const std::string post_head = "POST /p HTTP/1.0\r\nContent-Length: 7\r\n\r\n";
  const std::array<FrameCase, 23> cases = {{
      {"empty", "", State::kIncomplete, 0, {}},
      {"head not finished", "GET / HTTP/1.0\r\nHost: x\r\n", State::kIncomplete, 0, {}},
      {"simple get", get, State::kComplete, get.size(), {}},
      {"bytes after the request are not part of it", get + "GARBAGE", State::kComplete, get.size(),
       {}},
      // A body split across segments waits for the rest (the first reading
      // handled only what the first reads returned).
      {"post body not all there", post_head + "a=1", State::kIncomplete, 0, {}},
      {"post body complete", post_head + "a=1&b=2", State::kComplete, post_head.size() + 7, {}},
      {"same length twice is fine",
       "POST / HTTP/1.0\r\nContent-Length: 1\r\ncontent-length: 1\r\n\r\nx", State::kComplete, 58,
       {}},
      {"two different lengths",
       "POST / HTTP/1.0\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nxx", State::kRejected, 0,
       kBadRequestStatus},
      {"length and transfer-encoding",
       "POST / HTTP/1.0\r\nContent-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n",
       State::kRejected, 0, kBadRequestStatus},
      {"post without length", "post /p HTTP/1.0\r\n\r\na=1", State::kRejected, 0,
       kBadRequestStatus},
      {"any transfer-encoding", "POST / HTTP/1.0\r\nTransfer-Encoding: identity\r\n\r\n",
       State::kRejected, 0, kBadRequestStatus},
      {"negative length", "POST / HTTP/1.0\r\nContent-Length: -1\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"length list", "POST / HTTP/1.0\r\nContent-Length: 1, 1\r\n\r\nx", State::kRejected, 0,
       kBadRequestStatus},
      {"length over 64 bits",
       "POST / HTTP/1.0\r\nContent-Length: 99999999999999999999999\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"length past the request limit is refused before the body arrives",
       "POST / HTTP/1.0\r\nContent-Length: 1048577\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"bare LF", "GET / HTTP/1.0\nHost: x\n\n", State::kRejected, 0, kBadRequestStatus},
      {"NUL in head", std::string("GET /a\0b HTTP/1.0\r\n\r\n", 22), State::kRejected, 0,
       kBadRequestStatus},
      {"folded header", "GET / HTTP/1.0\r\nA: 1\r\n  continued\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"blank before colon", "GET / HTTP/1.0\r\nHost : x\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"empty request line", "\r\nGET / HTTP/1.0\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"request line too long, even unfinished", "GET /" + std::string(8200, 'a'),
       State::kRejected, 0, kUriTooLongStatus},
      {"header line too long",
       "GET / HTTP/1.0\r\nX: " + std::string(8200, 'a') + "\r\n\r\n", State::kRejected, 0,
       kBadRequestStatus},
      {"head that never ends", "GET / HTTP/1.0\r\n" + std::string(kMaxHeadBytes, 'a'),
       State::kRejected, 0, kBadRequestStatus},
  }};
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    const RequestFrame frame = FrameRequest(c.bytes);
    EXPECT_EQ(frame.state, c.state);
    if (c.state == State::kComplete) EXPECT_EQ(frame.length, c.length);
    if (c.state == State::kRejected) EXPECT_EQ(frame.status, c.status);
  }
}

TEST(FrameRequestTest, HeaderCountLimit) {
  std::string head = "GET / HTTP/1.0\r\n";
  for (size_t i = 0; i < kMaxHeaderCount; ++i) head += "X-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(FrameRequest(head + "\r\n").state, State::kComplete);
  EXPECT_EQ(FrameRequest(head + "Y: 1\r\n\r\n").state, State::kRejected);
}

TEST(FrameRequestTest, ByteByByteArrivalMatchesWholeArrival) {
  const std::string request = "POST /x HTTP/1.0\r\nContent-Length: 5\r\n\r\nhello";
  for (size_t n = 0; n < request.size(); ++n) {
    EXPECT_EQ(FrameRequest(request.substr(0, n)).state, State::kIncomplete) << n;
  }
  EXPECT_EQ(FrameRequest(request).state, State::kComplete);
}

struct ParseCase {
  const char* name;
  std::string bytes;
  const char* method;
  const char* path;
  const char* query;
  const char* version;
  const char* form;
};

TEST(ParseRequestTest, RequestLineQueryAndForm) {
  const std::array<ParseCase, 7> cases = {{
      {"plain get", "GET /LUN/index.shl HTTP/1.0\r\n\r\n", "GET", "/LUN/index.shl", "",
       "HTTP/1.0", ""},
      {"lower-case method is kept as sent", "get / HTTP/1.0\r\n\r\n", "get", "/", "", "HTTP/1.0",
       ""},
      {"path decoded once, query raw", "GET /LUN/a%20b.gif?x=1&y=%41 HTTP/1.0\r\n\r\n", "GET",
       "/LUN/a b.gif", "x=1&y=%41", "HTTP/1.0", ""},
      {"blanks around the target", "GET    /a?b   HTTP/1.1  \r\n\r\n", "GET", "/a", "b",
       "HTTP/1.1", ""},
      {"form without final line break gets a trailing ampersand",
       "POST /p HTTP/1.0\r\nContent-Length: 7\r\n\r\na=1&b=2", "POST", "/p", "", "HTTP/1.0",
       "a=1&b=2&"},
      {"body lines each end in an ampersand",
       "POST /p HTTP/1.0\r\n\r\na=1\r\nb=2\r\n", "POST", "/p", "", "HTTP/1.0", "a=1&b=2&"},
      {"no version", "GET /x\r\n\r\n", "GET", "/x", "", "", ""},
  }};
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.name);
    const HttpRequest r = ParseRequest(c.bytes);
    EXPECT_EQ(r.method, c.method);
    EXPECT_EQ(r.path, c.path);
    EXPECT_EQ(r.query_string, c.query);
    EXPECT_EQ(r.version, c.version);
    EXPECT_EQ(r.form_data, c.form);
  }
}

// The first reading dropped a final body line longer than 8192 bytes.
TEST(ParseRequestTest, LongFormBodyIsKept) {
  const std::string value(20000, 'v');
  const HttpRequest r = ParseRequest("POST /p HTTP/1.0\r\n\r\nq=" + value);
  EXPECT_EQ(r.form_data, "q=" + value + "&");
}

TEST(ParseRequestTest, HeadersIgnoreCaseKeepLeadingBlankAndLaterWins) {
  const HttpRequest r = ParseRequest(
      "GET / HTTP/1.0\r\nHost: a\r\nno colon here\r\nhost: b\r\nRange:bytes=1-\r\n\r\n");
  ASSERT_NE(r.headers.Find("HOST"), nullptr);
  EXPECT_EQ(*r.headers.Find("HOST"), " b");
  EXPECT_EQ(*r.headers.Find("range"), "bytes=1-");
  EXPECT_EQ(r.headers.entries().size(), 2u);
  EXPECT_EQ(r.headers.Find("no colon here"), nullptr);
}

TEST(PercentDecodeTest, Table) {
  const std::array<std::pair<std::string_view, std::string_view>, 9> cases = {{
      {"a%20b", "a b"},
      {"a+b", "a b"},
      {"a%2Bb", "a+b"},  // an encoded plus stays a plus
      {"%e4%B8%ad", "\xE4\xB8\xAD"},
      {"%252e", "%2e"},  // decoded once only
      {"100%", "100"},   // a cut-off escape ends the text
      {"a%4", "a"},
      {"%zz1", "%zz1"},  // not hex: copied
      {"%%32%65", "%2e"},
  }};
  for (const auto& [in, out] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(PercentDecode(in), out);
  }
}

}  // namespace
}  // namespace lun
