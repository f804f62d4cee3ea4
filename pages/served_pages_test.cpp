// Pages with FTS and its recordsets, served by the real web server over a
// loopback socket: what a browser receives for the edges of translation, the
// page objects and the recordsets, and a server that keeps answering after
// pages that fail, loop or write too much.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "automation/dictionary.h"
#include "pages/fts_factory.h"
#include "pages/fts_test_fixture.h"
#include "pages/page_test_fixture.h"
#include "pages/script_page_runner.h"
#include "platform/scratch_dir.h"
#include "web/test_zip.h"
#include "web/web_server.h"

namespace lun {
namespace {

using page_test::Body;
using page_test::Exchange;
using page_test::Head;
using page_test::RequestParts;
using page_test::RequestText;

constexpr char kSession[] = "IDCODE=CODE-1";

// A page of the test web root, how it is asked for, and what comes back.
struct ServedCase {
  const char* name;
  std::string page;               // the text of "/LUN/<name>.shl"
  RequestParts request;           // IDCODE of the local user is added to the query
  std::string body;               // the whole body
  std::vector<std::string> head;  // lines the head must hold
};

// The fifteen alpha/beta documents; then the records of two files on disk
// (a.doc and setup.exe), which pages download. The server runs pages with the
// application's FTS factory over them; a page stops after a bounded number of
// statements, so that a runaway page ends quickly.
class ServedPagesTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    AddDocuments(AlphaBetaDocuments());
    auto sessions = std::make_shared<Dictionary>();
    ASSERT_EQ(sessions->Add(Variant::Bstr(u"CODE-1"), Variant::Bstr(u"LUN_USER"), nullptr), S_OK);
    env().session_table = sessions;
    env().launch = [](const std::vector<std::string>&) { return false; };  // no desktop programs
    ScriptLimits limits = DefaultPageLimits();
    limits.max_steps = 200000;
    std::ofstream(files_.File("a.doc"), std::ios::binary) << "DOC\r\nbytes";
    std::ofstream(files_.File("setup.exe"), std::ios::binary) << "MZ";
    // FTS opens only indexed files.
    IndexFile(files_.File("a.doc"));
    IndexFile(files_.File("setup.exe"));
    runner_ = std::make_unique<ScriptPageRunner>(MakeFtsFactory(env()), limits);
  }

  void TearDown() override { server_.reset(); }

  // Starts the server over an archive "LUN.WR" that holds "<name>.shl" of
  // each case and the include files.
  void Serve(const std::vector<ServedCase>& cases) {
    std::vector<std::pair<std::string, std::string>> entries = {
        {"head.inc", "<h1><!--#include file=\"title.inc\"--></h1>\r\n"},
        {"title.inc", "T<%= 1 + 1 %>"},
        {"ping.inc", "<!--#include file=\"pong.inc\"-->"},
        {"pong.inc", "<!--#include file=\"ping.inc\"-->"},
        {"ok.shl", "ok"},
    };
    for (const ServedCase& c : cases) entries.push_back({std::string(c.name) + ".shl", c.page});
    ASSERT_TRUE(MakeDirectories(root_.File("res")));
    ASSERT_TRUE(WriteTestZip(root_.File("res/LUN.WR"), entries));
    server_ = std::make_unique<WebServer>(runner_.get(), root_.path());
    ASSERT_TRUE(server_->Start(root_.File("res"), "index.shl", 0, 30000));
  }

  std::string Ask(const std::string& page, RequestParts parts) {
    parts.query = kSession + (parts.query.empty() ? "" : "&" + parts.query);
    return Exchange(server_->port(), RequestText("/LUN/" + page, parts));
  }

  void Check(const std::vector<ServedCase>& cases) {
    Serve(cases);
    for (const ServedCase& c : cases) {
      SCOPED_TRACE(c.name);
      const std::string answer = Ask(std::string(c.name) + ".shl", c.request);
      EXPECT_EQ(Body(answer), c.body) << answer;
      const std::string head = Head(answer) + "\r\n";
      for (const std::string& line : c.head) {
        EXPECT_NE(head.find(line + "\r\n"), std::string::npos) << line << " in\n" << head;
      }
    }
  }

  ScratchDir root_;
  ScratchDir files_;
  std::unique_ptr<ScriptPageRunner> runner_;
  std::unique_ptr<WebServer> server_;
};

TEST_F(ServedPagesTest, TranslationAndPageObjects) {
  Check({
      {"quotes", "say \"hi\" and \"\"", {}, "say \"hi\" and \"\"", {"Content-Length: 15"}},
      {"no_final_break", "a\r\nb", {}, "a\r\nb", {"Content-Length: 4"}},
      {"include_in_capitals",
       "<!--#INCLUDE FILE=\"Head.inc\"-->body",
       {},
       "<h1>T2</h1>\r\nbody",
       {}},
      {"missing_include", "a<!--#include file=\"none.inc\"-->b", {}, "ab", {}},
      {"end",
       "<% Response.Write \"a\" : Response.End : Response.Write \"b\" %>c",
       {},
       "a",
       {"Content-Length: 1"}},
      {"clear", "a<% Response.Clear %>b", {}, "b", {}},
      {"redirect",
       "before<% Response.Redirect \"/LUN/ok.shl?x=1\" %>after",
       {},
       "",
       {"HTTP/1.0 302 Object Moved", "Location: /LUN/ok.shl?x=1", "Content-Length: 0"}},
      {"url_encode",
       "<%= Server.URLEncode(\"a b&c\") %>|<%= Server.URLEncode(\"\xE4\xB8\xAD\") %>",
       {},
       "a+b%26c|%E4%B8%AD",
       {}},
      {"html_encode",
       "<%= Server.HTMLEncode(\"<a href=\"\"x\"\">Tom's & co</a>\") %>",
       {},
       "&lt;a href=&quot;x&quot;&gt;Tom&apos;s &amp; co&lt;/a&gt;",
       {}},
      {"item_prefers_the_form",
       "<%= Item(\"q\") %>|<%= Item(\"r\") %>",
       {"q=query&r=query", "q=form&r=", ""},
       "form|query",
       {}},
      // Request data with a line break cannot add a header of its own.
      {"header_from_the_request",
       "<% Response.AddHeader \"X-Note\", QueryString(\"v\") %>",
       {"v=a%0D%0ASet-Cookie:%20evil=1", "", ""},
       "",
       {"\r\nX-Note: aSet-Cookie: evil=1"}},
      {"redirect_from_the_request",
       "<% Response.Redirect \"ok.shl?v=\" & QueryString(\"v\") %>",
       {"v=a%0D%0ASet-Cookie:%20evil=1", "", ""},
       "",
       {"\r\nLocation: ok.shl?v=aSet-Cookie: evil=1"}},
      {"cookie_deletion",
       "<% Response.Cookies(\"gone\") = \"\" %>",
       {"", "", "gone=1; keep=2"},
       "",
       {"Set-Cookie: gone=; httponly; max-age=0; samesite=Strict; version=1"}},
  });
}

TEST_F(ServedPagesTest, RecordsetsAndFts) {
  const std::string all = "Set rs = FTS.Execute(\"[文档]:\")\r\n";
  Check({
      {"move_page_999",
       "<% " + all +
           "rs.PageSize = 7 : rs.MovePage 999 %>"
           "<%= rs.CurPageNO & \"/\" & rs.CurPageSize & \"/\" & rs.Cursor %>",
       {},
       "3/3/14",
       {}},
      {"page_size",
       "<% " + all +
           "rs.PageSize = 7 : m = rs.MaxPageNO : rs.PageSize = 0 %>"
           "<%= rs.RecordCount & \"/\" & m & \"/\" & rs.PageSize %>",
       {},
       "17/3/7",
       {}},
      {"field_by_number",
       "<% " + all +
           "%><%= rs.Field(\"2\").Name & \"/\" & "
           "(rs.Field(\"0\") Is Nothing) & \"/\" & (rs.Field(\"99\") Is Nothing) %>",
       {},
       "文件类型/True/True",
       {}},
      {"end_of_rows",
       "<% " + all +
           "rs.MoveLast : rs.MoveNext %>"
           "<%= rs.Eof & \"/\" & rs.Cursor & \"/\" & rs.PhysicsRecordNO %>",
       {},
       "True/-1/-1",
       {}},
      {"record_power", "<%= FTS.Execute(\"[文档]:文本内容=alpha\").RecordPower %>", {}, "-1", {}},
      // The recordset is a temporary here, gone before Mark is read: its field
      // used to read empty.
      {"mark",
       "<%= FTS.Execute(\"[文档]:文本内容=alpha*文本内容=beta\")(\"文本内容\").Mark %>",
       {},
       "*alpha*beta",
       {}},
      {"execute_on_failed",
       "<% Set bad = FTS.Execute(\"[没有的表]:x\") : "
       "Set inner = bad.Execute(\"[文档]:\") %>"
       "<%= bad.ErrorInfo & \"/\" & inner.Success & \"/\" & inner.ErrorInfo %>",
       {},
       "不存在的数据表/False/",
       {}},
      {"statistic_of_nothing",
       "<% Set rs = FTS.Execute(\"[文档]:文本内容=[nothing]\") %><%= rs.Statistic & \"/\" & "
       "rs.GetCount(\"文档\") & rs.GetCount(\"网页\") & rs.GetCount(\"图像\") %>",
       {},
       "True/000",
       {}},
      {"filter_name",
       "<%= FTS.LUNFilterName(0) & \"/\" & FTS.LUNFilterName(FTS.LUNFilterCount) %>",
       {},
       "Word文件/",
       {}},
      {"transform_command", "<%= FTS.TransformCommand(\"a+b\") %>", {}, "a%0x002B%b", {}},
      {"download_exe",
       "<%= FTS.DownLoad(QueryString(\"p\")) %>",
       {"p=" + files_.File("setup.exe"), "", ""},
       "False",
       {}},
      {"download_doc",
       "page<% FTS.DownLoad QueryString(\"p\") %>",
       {"p=" + files_.File("a.doc"), "", ""},
       "DOC\r\nbytes",
       {"HTTP/1.0 200 OK",
        "Content-Disposition: attachment; filename=\"a.doc\"; filename*=UTF-8''a.doc",
        "Content-Length: 10"}},
      {"after_end",
       "<% Response.End : t = TypeName(FTS.Execute(\"[文档]:\")) : "
       "s = FTS.Setting(\"每页记录数\") : Response.Clear %><%= t & \"/\" & s %>",
       {},
       "Nothing/",
       {}},
      {"scan_complete", "<%= FTS.ScanComplete %>", {}, "True", {}},
  });
}

TEST_F(ServedPagesTest, ServerAnswersAfterPagesThatFail) {
  struct Case {
    const char* name;
    std::string page;
    std::string answer_start;  // status line, then the start of the body after the head
    std::string body_start;
    std::string description;  // a text the body holds
  };
  const std::string ok = "HTTP/1.0 200 OK\r\n";
  const Case cases[] = {
      {"syntax", "<% x = %>", ok,
       "Script error detected at line 1.\nSource line: x = ", "\nDescription: "},
      {"runtime", "written<% y = 1 / 0 %>", ok,
       "Script error detected at line 1.\nSource line: y = 1 / 0 \nDescription: Division by zero",
       ""},
      {"endless", "<% Do : Loop %>", ok, "Script error detected at line 1.", "step limit"},
      {"endless_guarded", "<% On Error Resume Next\r\nWhile True : Wend %>", ok,
       "Script error detected at line 2.", "step limit"},
      {"recursion", "<% Function F(n) : F = F(n + 1) : End Function : x = F(1) %>", ok,
       "Script error detected at line 1.", "Description: Out of stack space"},
      {"nesting", "<%= " + std::string(50000, '(') + "1" + std::string(50000, ')') + " %>", ok,
       "Script error detected at line 1.", "\nDescription: "},
      {"too_much_output",
       "<% s = String(1048576, \"x\") : For i = 1 To 65 : Response.Write s : Next %>", ok,
       "Script error detected at line 1.", "Description: Out of memory"},
      {"include_cycle", "<!--#include file=\"ping.inc\"-->", ok,
       "Page translation failed: ", "includes nest too deep"},
      {"unclosed", "a<% x = 1", ok, "Page translation failed: ", "no closing"},
      {"damaged_packed_page", "<Tamrix.Script>\x01\x1F\x8B\x08\x00garbage",
       "HTTP/1.0 404 Not Found\r\n", "", ""},
  };
  std::vector<ServedCase> pages;
  for (const Case& c : cases) pages.push_back({c.name, c.page, {}, "", {}});
  pages.push_back({"big",
                   "<% s = String(1048576, \"y\") : For i = 1 To 20 : Response.Write s : "
                   "Next %>",
                   {},
                   "",
                   {}});
  Serve(pages);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string answer = Ask(std::string(c.name) + ".shl", {});
    EXPECT_EQ(answer.substr(0, c.answer_start.size()), c.answer_start) << answer.substr(0, 200);
    EXPECT_EQ(Body(answer).substr(0, c.body_start.size()), c.body_start)
        << Body(answer).substr(0, 300);
    EXPECT_NE(Body(answer).find(c.description), std::string::npos) << Body(answer).substr(0, 300);
    EXPECT_EQ(answer.find("written"), std::string::npos);
    EXPECT_EQ(Body(Ask("ok.shl", {})), "ok") << "the server answers the next request";
  }
  const std::string big = Ask("big.shl", {});
  EXPECT_EQ(Body(big), std::string(size_t{20} << 20, 'y'));
}

// Every member of FTS and of its recordsets meets values no page means to
// pass; each call either works or raises a script error, and the page, the
// process and the server go on.
TEST_F(ServedPagesTest, OddArgumentsNeverBreakThePageOrTheServer) {
  const char* const values[] = {
      "Null",
      "Empty",
      "\"\"",
      "String(20000, \"*\")",
      "\"中*文\" & Chr(0) & \"<b>\"",
      "-1",
      "2147483647",
      "1E+300",
      "Array(1, 2)",
      "Nothing",
      "\"../../..\"",
      "\"/\"",
  };
  const char* const calls[] = {
      "x = FTS.KeywordNavigate(V)",
      "x = FTS.UTF8ToGB2312(V)",
      "x = FTS.DownLoad(V)",
      "x = FTS.TransformCommand(V)",
      "Set x = FTS.Execute(V)",
      "x = FTS.Thumbnail(V)",
      "x = FTS.Snap(V)",
      "x = FTS.GetFolder(V)",
      "x = FTS.GetFileName(V)",
      "x = FTS.LUNFilterInfo(V)",
      "x = FTS.LUNFilterName(V)",
      "x = FTS.LUNFilterType(V)",
      "x = FTS.LUNPlugName(V)",
      "x = FTS.MSNPlugType(V)",
      "x = FTS.FileMenuList(V)",
      "x = FTS.Setting(V)",
      "x = FTS.MarkKeyword(V, V)",
      "x = FTS.DeleteRecord(\"日志\", V)",
      "Set x = FTS.LookAt(V, V)",
      "x = FTS.FileTypeIcon(V, V)",
      "FTS.WriteLog V, V, V",
      "FTS.Setting(V) = V",
      "Set x = rs.Execute(V)",
      "rs.MovePage V",
      "rs.Move V",
      "rs.PageSize = V",
      "Set x = rs.Field(V)",
      "x = rs(V)",
      "x = rs.GetCount(V)",
  };
  std::string page = "<% On Error Resume Next\r\nSet rs = FTS.Execute(\"[文档]:\")\r\n";
  for (const char* call : calls) {
    for (const char* value : values) {
      std::string line = call;
      for (size_t at; (at = line.find('V')) != std::string::npos;) line.replace(at, 1, value);
      page += "Err.Clear : " + line + " : n = n + 1\r\n";
    }
  }
  page += "Response.Write n & \"/\" & rs.RecordCount %>";
  Serve({{"odd", page, {}, "", {}}});
  const std::string answer = Ask("odd.shl", {});
  EXPECT_EQ(answer.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << answer.substr(0, 300);
  EXPECT_EQ(Body(answer), std::to_string(std::size(calls) * std::size(values)) + "/17")
      << Body(answer).substr(0, 300);
  EXPECT_EQ(Body(Ask("ok.shl", {})), "ok");
}

}  // namespace
}  // namespace lun
