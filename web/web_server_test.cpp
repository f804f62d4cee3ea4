#include "web/web_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <memory>

#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "web/test_zip.h"

namespace lun {
namespace {

// Stands in for the script pages: records what it was given and answers as
// told.
class FakePageRunner : public PageRunner {
 public:
  PageRunStatus Run(const PageRequest& request, PageResponder& responder,
                    PageOutput* output) override {
    calls++;
    method = request.method;
    page_path = request.page_path;
    page_directory = request.page_directory;
    query = request.query;
    form = request.form;
    server_variables = request.server_variables;
    cookies = request.cookies;
    if (!download.empty()) {
      responder.SendFile(download, open(download.c_str(), O_RDONLY | O_CLOEXEC));
    }
    if (!status_only) {
      output->body = body;
      output->redirect = redirect;
    }
    return status;
  }
  int calls = 0;
  std::string method, page_path, page_directory;
  NameValueList query, form, server_variables;
  std::vector<RequestCookie> cookies;
  PageRunStatus status = PageRunStatus::kRan;
  bool status_only = false;
  std::string body = "<p>page</p>";
  std::string redirect;
  std::string download;
};

class WebServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeDirectories(dir_.File("res")));
    std::string thousand;
    for (int i = 0; i < 1000; ++i) thousand.push_back(static_cast<char>('0' + i % 10));
    ASSERT_TRUE(WriteTestZip(dir_.File("res/LUN.WR"), {{"index.shl", "<% x %>"},
                                                       {"Search.shl", "<% y %>"},
                                                       {"security.inc", "<% rules %>"},
                                                       {"Upper.INC", "<% rules %>"},
                                                       {"page.htm", "<html></html>"},
                                                       {"r.bin", thousand},
                                                       {"a b.gif", "GIF89a"},
                                                       {"odd.xyzzy", "?"},
                                                       {"empty/", ""},
                                                       {"../escaped.txt", "no"}}));
    ASSERT_TRUE(WriteTestZip(dir_.File("res/B.WR"), {{"img/x.gif", "GIF"}}));
    ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), dir_.File("secret.txt"), "CANARY-7f3a"),
              0);
    server_ = std::make_unique<WebServer>(&runner_, dir_.path());
    ASSERT_TRUE(server_->Start(dir_.File("res"), "index.shl", 0, 30000));
    root_ = server_->web_root();
  }

  // Sends `request` through HandleRequest; `answered` tells whether the
  // server would send anything at all.
  Reply Handle(const std::string& request, bool* answered = nullptr) {
    Reply reply;
    const bool result =
        server_->HandleRequest({"127.0.0.1", 8484, "127.0.0.1", 50000}, request, &reply);
    if (answered != nullptr) *answered = result;
    return reply;
  }
  Reply Get(const std::string& target, const std::string& headers = "") {
    return Handle("GET " + target + " HTTP/1.0\r\n" + headers + "\r\n");
  }

  ScratchDir dir_;
  FakePageRunner runner_;
  std::unique_ptr<WebServer> server_;
  std::string root_;
};

std::string StatusLine(const Reply& reply) {
  return reply.bytes.substr(0, reply.bytes.find("\r\n"));
}

TEST_F(WebServerTest, StartUnpacksEachArchiveIntoItsFolderAndDestructionRemovesIt) {
  EXPECT_EQ(root_, dir_.File(kWebRootFolder) + "/");
  EXPECT_EQ(std::filesystem::status(root_).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
  EXPECT_TRUE(std::filesystem::is_regular_file(root_ + "LUN/index.shl"));
  EXPECT_TRUE(std::filesystem::is_regular_file(root_ + "B/img/x.gif"));
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "LUN/empty"));
  EXPECT_FALSE(std::filesystem::exists(root_ + "escaped.txt"));
  server_.reset();
  EXPECT_FALSE(std::filesystem::exists(root_));
  std::string log;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), dir_.File(kServerLogName), &log), 0);
  EXPECT_NE(log.find("Refused archive entry ../escaped.txt of LUN.WR.\t[Start]\t[0]\n"),
            std::string::npos);
}

TEST_F(WebServerTest, StaticFileIsStreamedNotLoaded) {
  const Reply reply = Get("/LUN/page.htm");
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 200 OK");
  EXPECT_NE(reply.bytes.find("Content-Type: text/html\r\n"), std::string::npos);
  EXPECT_NE(reply.bytes.find("Content-Disposition: attachment; filename=\"page.htm\"; "
                             "filename*=UTF-8''page.htm\r\n"),
            std::string::npos);
  EXPECT_EQ(reply.bytes.find("<html>"), std::string::npos);
  EXPECT_EQ(reply.file_path, root_ + "LUN/page.htm");
  EXPECT_EQ(reply.file_offset, 0u);
  EXPECT_EQ(reply.file_length, 13u);

  const Reply odd = Get("/LUN/odd.xyzzy");
  EXPECT_NE(odd.bytes.find("Content-Type: \xE6\x9C\xAA\xE7\x9F\xA5\r\n"), std::string::npos);
  const Reply blank = Get("/LUN/a%20b.gif?x=1");
  EXPECT_EQ(blank.file_path, root_ + "LUN/a b.gif");
}

TEST_F(WebServerTest, RangesOfAThousandByteFile) {
  struct Case {
    const char* range;
    const char* status;
    const char* header;  // expected line, or nullptr
    uint64_t offset, length;
  };
  const std::array<Case, 6> cases = {{
      {"bytes=0-", "HTTP/1.0 200 OK", "Content-Length: 1000\r\n", 0, 1000},
      {"bytes=100-199", "HTTP/1.0 206 Partial Content",
       "Content-Range: bytes 100-199/1000\r\nContent-Length: 100\r\n", 100, 100},
      {"bytes=0-1000", "HTTP/1.0 404 Not Found", "Content-Length: 0\r\n", 0, 0},
      {"bytes=1000-", "HTTP/1.0 416 Requested Range Not Satisfiable",
       "Content-Range: bytes */1000\r\n", 0, 0},
      {"bytes=500-100", "HTTP/1.0 200 OK", "Content-Length: 1000\r\n", 0, 1000},
      {"bytes=-10", "HTTP/1.0 206 Partial Content", "Content-Range: bytes 990-999/1000\r\n", 990,
       10},
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    const Reply reply = Get("/LUN/r.bin", std::string("Range: ") + c.range + "\r\n");
    EXPECT_EQ(StatusLine(reply), c.status);
    EXPECT_NE(reply.bytes.find(c.header), std::string::npos) << reply.bytes;
    EXPECT_EQ(reply.file_offset, c.offset);
    EXPECT_EQ(reply.file_length, c.length);
    EXPECT_EQ(reply.file_path.empty(), c.length == 0);
  }
}

TEST_F(WebServerTest, MethodsAndErrors) {
  bool answered = false;
  EXPECT_EQ(StatusLine(Handle("get /LUN/page.htm HTTP/1.0\r\n\r\n", &answered)), "HTTP/1.0 200 OK");
  for (const char* method : {"OPTIONS", "PUT", "DELETE", "TRACE", "BREW"}) {
    SCOPED_TRACE(method);
    const Reply reply = Handle(std::string(method) + " /LUN/page.htm HTTP/1.0\r\n\r\n", &answered);
    EXPECT_FALSE(answered);
    EXPECT_TRUE(reply.bytes.empty());
  }
  const Reply missing = Get("/LUN/missing.htm");
  EXPECT_EQ(StatusLine(missing), "HTTP/1.0 400 Bad Request");
  EXPECT_NE(missing.bytes.find("Content-Length: 0\r\n"), std::string::npos);
  // A folder without the default document: nothing is sent.
  const Reply listing = Get("/LUN/empty/", "");
  EXPECT_TRUE(listing.bytes.empty());
  EXPECT_TRUE(listing.file_path.empty());
}

TEST_F(WebServerTest, HeadAnswersLikeGetWithoutBody) {
  const Reply file = Handle("HEAD /LUN/r.bin HTTP/1.0\r\n\r\n");
  EXPECT_EQ(StatusLine(file), "HTTP/1.0 200 OK");
  EXPECT_NE(file.bytes.find("Content-Length: 1000\r\n"), std::string::npos);
  EXPECT_TRUE(file.file_path.empty());
  const Reply page = Handle("HEAD /LUN/index.shl HTTP/1.0\r\n\r\n");
  EXPECT_NE(page.bytes.find("Content-Length: 11\r\n"), std::string::npos);
  EXPECT_TRUE(page.bytes.ends_with("\r\n\r\n"));
  EXPECT_EQ(runner_.method, "HEAD");
}

TEST_F(WebServerTest, PageRunGetsItsRequestAndAnswersWithSortedHeaders) {
  const Reply reply = Handle(
      "POST /LUN/Search.shl/a=1/b=2?q=%E4%B8%AD&a=9 HTTP/1.0\r\nHost: h\r\n"
      "Cookie: $Version=1; id=5; $Path=/\r\nContent-Length: 7\r\n\r\nf=x+y");
  EXPECT_EQ(runner_.calls, 1);
  EXPECT_EQ(runner_.method, "POST");
  EXPECT_EQ(runner_.page_path, root_ + "LUN/Search.shl");
  EXPECT_EQ(runner_.page_directory, root_ + "LUN/");
  EXPECT_EQ(*runner_.query.Find("q"), "\xE4\xB8\xAD");
  EXPECT_EQ(*runner_.query.Find("a"), "9");  // from the query string, before the segments
  EXPECT_EQ(*runner_.query.Find("b"), "2");
  EXPECT_EQ(*runner_.form.Find("f"), "x y");
  EXPECT_EQ(*runner_.server_variables.Find("QUERY_STRING"), "q=%E4%B8%AD&a=9&a=1&b=2");
  EXPECT_EQ(*runner_.server_variables.Find("REQUEST_METHOD"), "POST");
  EXPECT_EQ(*runner_.server_variables.Find("SERVER_PORT"), "8484");
  EXPECT_EQ(*runner_.server_variables.Find("PATH_TRANSLATED"), root_ + "LUN/Search.shl");
  ASSERT_EQ(runner_.cookies.size(), 1u);
  EXPECT_EQ(runner_.cookies[0].name, "id");

  const std::string& text = reply.bytes;
  const size_t cache = text.find("\r\nCache-Control: no-store\r\n");
  const size_t length = text.find("\r\nContent-Length: 11\r\n");
  const size_t type = text.find("\r\nContent-Type: text/html\r\n");
  const size_t modified = text.find("\r\nLast-Modified: ");
  ASSERT_NE(modified, std::string::npos);
  EXPECT_LT(cache, length);
  EXPECT_LT(length, type);
  EXPECT_LT(type, modified);
  EXPECT_TRUE(text.ends_with("\r\n\r\n<p>page</p>"));
}

TEST_F(WebServerTest, PageSourcesAreNeverSentAsFiles) {
  for (const char* target : {"/LUN/security.inc", "/LUN/Upper.INC", "/LUN/security%2Einc",
                             "/LUN/security.inc?x=1", "/LUN/./security.inc"}) {
    SCOPED_TRACE(target);
    const Reply reply = Get(target);
    EXPECT_EQ(StatusLine(reply), "HTTP/1.0 404 Not Found");
    EXPECT_TRUE(reply.file_path.empty());
    EXPECT_EQ(reply.bytes.find("rules"), std::string::npos);
  }
  // A page is run, never sent, also when it cannot be run.
  for (PageRunStatus status : {PageRunStatus::kCannotTranslate, PageRunStatus::kCannotCreateHost}) {
    runner_.status = status;
    const Reply reply = Get("/LUN/Search.shl");
    EXPECT_TRUE(reply.file_path.empty());
    EXPECT_EQ(reply.bytes.find("<% y %>"), std::string::npos);
  }
}

TEST_F(WebServerTest, FolderRunsDefaultDocument) {
  Get("/LUN/");
  EXPECT_EQ(runner_.page_path, root_ + "LUN/index.shl");
}

TEST_F(WebServerTest, TheRootIsAnsweredByItsHookAlone) {
  EXPECT_TRUE(Get("/").bytes.empty()) << "no hook: the root has nothing to serve";
  std::string seen_host;
  server_->set_root_answer(
      [&](const ConnectionInfo& connection, const HttpRequest& request, PageOutput* output) {
        EXPECT_EQ(connection.peer_port, 50000);
        seen_host = request.headers.Find("Host") ? *request.headers.Find("Host") : "";
        output->redirect = "/LUN/home.shl?IDCODE=X";
      });
  const Reply home = Get("/", "Host: 127.0.0.1:8484\r\n");
  EXPECT_EQ(StatusLine(home), "HTTP/1.0 302 Object Moved");
  EXPECT_NE(home.bytes.find("Location: /LUN/home.shl?IDCODE=X\r\n"), std::string::npos);
  EXPECT_NE(seen_host.find("127.0.0.1:8484"), std::string::npos) << "the request reaches it";
  EXPECT_EQ(runner_.calls, 0);
  Get("/LUN/");
  EXPECT_EQ(runner_.calls, 1) << "only the root itself goes to the hook";
}

TEST_F(WebServerTest, PageOutcomes) {
  runner_.redirect = "/LUN/index.shl";
  EXPECT_EQ(StatusLine(Get("/LUN/index.shl")), "HTTP/1.0 302 Object Moved");
  runner_.redirect.clear();

  runner_.status = PageRunStatus::kCannotTranslate;
  EXPECT_EQ(StatusLine(Get("/LUN/index.shl")), "HTTP/1.0 404 Not Found");
  runner_.status = PageRunStatus::kCannotCreateHost;
  EXPECT_EQ(StatusLine(Get("/LUN/index.shl")), "HTTP/1.0 400 Bad Request");
  runner_.status = PageRunStatus::kRan;

  // A download prepared by the page replaces the page's own output, and may
  // name a file outside the web root.
  runner_.download = dir_.File("secret.txt");
  const Reply download = Get("/LUN/index.shl", "Range: bytes=0-5\r\n");
  EXPECT_EQ(StatusLine(download), "HTTP/1.0 206 Partial Content");
  EXPECT_EQ(download.file_path, dir_.File("secret.txt"));
  EXPECT_EQ(download.bytes.find("<p>page</p>"), std::string::npos);
}

// Two servers from one program directory (two homes): each unpacks into
// its own directory, nothing lands beside the archives, and ending one
// leaves the other's pages in place.
TEST_F(WebServerTest, ServersOfOneArchiveDirectoryKeepTheirOwnWebRoots) {
  ScratchDir other_home;
  auto other = std::make_unique<WebServer>(&runner_, other_home.path());
  ASSERT_TRUE(other->Start(dir_.File("res"), "index.shl", 0, 30000));
  const std::string other_root = other->web_root();
  EXPECT_EQ(other_root, other_home.File(kWebRootFolder) + "/");
  EXPECT_EQ(StatusLine(Get("/LUN/page.htm")), "HTTP/1.0 200 OK");
  other.reset();
  EXPECT_FALSE(std::filesystem::exists(other_root));
  EXPECT_EQ(StatusLine(Get("/LUN/page.htm")), "HTTP/1.0 200 OK");
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("res"))) {
    EXPECT_TRUE(entry.path().string().ends_with(".WR")) << entry.path();
  }
}

TEST_F(WebServerTest, WithoutPageRunnerPagesAreBadRequests) {
  ScratchDir other;
  WebServer bare(nullptr, other.path());
  ASSERT_TRUE(WriteTestZip(other.File("LUN.WR"), {{"index.shl", "x"}}));
  ASSERT_TRUE(bare.Start(other.path(), "index.shl", 0, 1000));
  Reply reply;
  ASSERT_TRUE(bare.HandleRequest({}, "GET /LUN/index.shl HTTP/1.0\r\n\r\n", &reply));
  EXPECT_EQ(StatusLine(reply), "HTTP/1.0 400 Bad Request");
}

TEST_F(WebServerTest, LinksOutOfTheRootAreForbidden) {
  ASSERT_EQ(symlink(dir_.File("secret.txt").c_str(), (root_ + "LUN/link.txt").c_str()), 0);
  ASSERT_EQ(symlink(dir_.path().c_str(), (root_ + "LUN/up").c_str()), 0);
  EXPECT_EQ(StatusLine(Get("/LUN/link.txt")), "HTTP/1.0 403 Forbidden");
  EXPECT_EQ(StatusLine(Get("/LUN/up/secret.txt")), "HTTP/1.0 403 Forbidden");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), dir_.File("evil.shl"), "x"), 0);
  EXPECT_EQ(StatusLine(Get("/LUN/up/evil.shl")), "HTTP/1.0 403 Forbidden");
  EXPECT_EQ(runner_.calls, 0);
}

TEST_F(WebServerTest, TraceLinesUseTheContextlessForm) {
  Get("/LUN/page.htm");
  Get("/LUN/nothing");
  std::string log;
  ASSERT_EQ(ReadWholeFile(DefaultFileSystem(), dir_.File(kServerLogName), &log), 0);
  EXPECT_NE(log.find(" - Sending file: " + root_ + "LUN/page.htm.\t[0]\n"), std::string::npos);
  EXPECT_NE(log.find(" - Transfer complete.\t[0]\n"), std::string::npos);
  EXPECT_NE(log.find(" - Error processing: /LUN/nothing.\t[0]\n"), std::string::npos);
  EXPECT_NE(log.find(" - ERROR: 400 Bad Request.\t[0]\n"), std::string::npos);
}

}  // namespace
}  // namespace lun
