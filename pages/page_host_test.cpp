#include "pages/page_host.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "automation/member_table.h"
#include "pages/page_test_fixture.h"
#include "platform/text.h"

namespace lun {
namespace {

using namespace page_test;  // NOLINT: the fixture of these tests

using PageHostTest = PageFixture;

TEST_F(PageHostTest, PagesWriteTheirLiteralTextAndTheirCode) {
  WritePageFile("head.inc", "<h1><!--#include file=\"title.inc\"--></h1>\r\n");
  WritePageFile("title.inc", "<%= \"T\" & 1 %>");
  struct Case {
    const char* name;
    std::string page;
    std::string body;
  };
  const Case cases[] = {
      {"literal lines keep their breaks, none added at the end", "a\r\n\"b\"\r\nc",
       "a\r\n\"b\"\r\nc"},
      {"a final break is written", "a\r\n", "a\r\n"},
      {"lone LF and non-ASCII text pass unchanged", "x\ny \xE4\xB8\xAD", "x\ny \xE4\xB8\xAD"},
      {"code blocks run, assignments write nothing", "<% For i = 1 To 3 %>[<%= i %>]<% Next %>",
       "[1][2][3]"},
      {"a variable set in one block is read in a later one", "<% n = \"v\" %>n=<%=n%>", "n=v"},
      {"includes nest and are named in any case",
       "<!--#INCLUDE FILE=\"Head.inc\"-->body<!--#include file=\"none.inc\"-->",
       "<h1>T1</h1>\r\nbody"},
      {"Request's members need no prefix", "<%= TypeName(QueryString) %>", "Dictionary"},
      {"Server reaches the Server object", "<%= Server.HTMLEncode(\"<\") %>", "&lt;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PageRun run = RunPage(c.page);
    ASSERT_EQ(run.status, PageRunStatus::kRan);
    EXPECT_EQ(run.output.body, c.body);
  }
}

TEST_F(PageHostTest, FailedPagesAnswerWithTheErrorTextAlone) {
  struct Case {
    const char* name;
    std::string page;
    std::string body_start;
  };
  const Case cases[] = {
      // The empty literal before "<%" is line 0 of the script, the code line 1.
      {"syntax error: nothing of the page runs", "<% Response.Write \"a\"\r\nx = %>",
       "Script error detected at line 2.\nSource line: x = \nDescription: "},
      {"run-time error after output", "written<% y = 1 / 0 %>",
       "Script error detected at line 1.\nSource line: y = 1 / 0 \nDescription: Division by "
       "zero"},
      {"unterminated block", "a<% x = 1", "Page translation failed: a \"<%\" has no closing"},
      {"include that includes itself", "<!--#include file=\"self.inc\"-->",
       "Page translation failed: "},
  };
  WritePageFile("self.inc", "<!--#include file=\"self.inc\"-->");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PageRun run = RunPage(c.page);
    ASSERT_EQ(run.status, PageRunStatus::kRan);
    EXPECT_EQ(run.output.body.substr(0, c.body_start.size()), c.body_start) << run.output.body;
    EXPECT_EQ(run.Answer().substr(0, 17), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(run.output.headers.at("Content-Type"), "text/plain; charset=utf-8");
  }
}

TEST_F(PageHostTest, UnreadablePageIsNotTranslated) {
  MakeDirectories(page_dir_ + "dir.shl");
  EXPECT_EQ(RunFile("dir.shl").status, PageRunStatus::kCannotTranslate);
}

TEST_F(PageHostTest, RunawayLoopsAreStopped) {
  ScriptLimits steps;
  steps.max_steps = 10000;
  ScriptLimits time;
  time.time_budget = std::chrono::milliseconds(200);
  for (const ScriptLimits& limits : {steps, time}) {
    const PageRun run = RunPage("<% Do : Response.Write \"x\" : Loop %>", {}, limits);
    ASSERT_EQ(run.status, PageRunStatus::kRan);
    EXPECT_EQ(run.output.body.rfind("Script error detected at line 1.", 0), 0u);
    EXPECT_NE(run.output.body.find("Script stopped"), std::string::npos) << run.output.body;
  }
  // Not even On Error Resume Next keeps a runaway page going.
  const PageRun guarded = RunPage("<% On Error Resume Next\r\nWhile True : Wend %>", {}, steps);
  EXPECT_NE(guarded.output.body.find("Script stopped"), std::string::npos);
}

// A stand-in for the application object: reports the page's web root through
// the Server object it was given and whether the page still writes, and
// offers a download through the responder.
class FakeFts : public TableDispatch<FakeFts> {
 public:
  static const Table kTable;
  FakeFts(PageObjects objects, PageResponder& responder)
      : TableDispatch(kTable), objects_(std::move(objects)), responder_(responder) {}
  HResult Root(std::span<Variant>, Variant* result, ExcepInfo*) {
    *result = Variant::Bstr(ToWide(objects_.server->MapPath("/")));
    return S_OK;
  }
  HResult Active(std::span<Variant>, Variant* result, ExcepInfo*) {
    *result = Variant::Bool(objects_.response->writing());
    return S_OK;
  }
  HResult DownLoad(std::span<Variant> args, Variant* result, ExcepInfo*) {
    const std::string path = ToNarrow(args[0].AsString());
    *result = Variant::Bool(responder_.SendFile(path, open(path.c_str(), O_RDONLY | O_CLOEXEC)));
    return S_OK;
  }

 private:
  PageObjects objects_;
  PageResponder& responder_;
};

const FakeFts::Table FakeFts::kTable = {
    {{u"Root", 1, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BSTR}, &FakeFts::Root},
    {{u"DownLoad", 2, DISPATCH_METHOD, 1, 1, {VT_BSTR}, VT_BOOL}, &FakeFts::DownLoad},
    {{u"Active", 3, DISPATCH_PROPERTYGET, 0, 0, {}, VT_BOOL}, &FakeFts::Active},
};

TEST_F(PageHostTest, TheApplicationObjectComesFromTheFactory) {
  int made = 0;
  const FtsFactory factory = [&made](const PageContext& context) {
    ++made;
    EXPECT_EQ(context.request.method, "GET");
    return std::make_shared<FakeFts>(context.objects, context.responder);
  };
  const PageRun run = RunPage(
      "<% r = FTS.Root : d = FTS.DownLoad(\"/tmp/f.txt\") : Response.End : a = FTS.Active : "
      "Response.Clear %><%= r %>|<%= d %>|<%= a %>,<%= FTS.Active %>",
      {}, DefaultPageLimits(), factory);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(run.output.body, web_root_.substr(0, web_root_.size() - 1) + "|True|False,True");
  EXPECT_EQ(responder_.files, std::vector<std::string>{"/tmp/f.txt"});

  const PageRun none = RunPage("<%= TypeName(FTS) %>", {}, DefaultPageLimits(),
                               [](const PageContext&) { return std::shared_ptr<Dispatch>(); });
  EXPECT_EQ(none.output.body, "Empty") << "a null application object leaves the name unset";
}

TEST(PageHostLifecycleTest, RunsOncePerCreateAndReleasesEverything) {
  PageHost host;
  EXPECT_FALSE(host.Run("x")) << "no engine before Create";
  ASSERT_TRUE(host.Create());
  EXPECT_FALSE(host.Create());
  ASSERT_TRUE(host.Run("a<% Set d = Server.CreateObjectEx(\"Scripting.Dictionary\") %>b"));
  EXPECT_EQ(host.GetOutput(), "ab");
  std::string url;
  EXPECT_FALSE(host.GetRedirect(&url));
  EXPECT_FALSE(host.Run("again")) << "one host runs one page";
  host.ReleaseEngine();
  EXPECT_EQ(host.request(), nullptr);
  EXPECT_EQ(host.GetOutput(), "");
  host.ReleaseEngine();  // twice is harmless
}

TEST_F(PageHostTest, PagesRunOnSeveralThreadsAtOnce) {
  WritePageFile("count.shl",
                "<% For i = 1 To 200 : s = s & i Mod 10 : Next %><%= "
                "Request.QueryString(\"t\") & Len(s) %>");
  std::vector<std::string> bodies(4);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < bodies.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 10; ++round) {
        bodies[t] += RunFile("count.shl", {"t=" + std::to_string(t), "", ""}).output.body + ";";
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < bodies.size(); ++t) {
    std::string expected;
    for (int round = 0; round < 10; ++round) expected += std::to_string(t) + "200;";
    EXPECT_EQ(bodies[t], expected);
  }
}

}  // namespace
}  // namespace lun
