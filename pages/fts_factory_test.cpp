#include "pages/fts_factory.h"

#include <unistd.h>

#include <fstream>

#include <gtest/gtest.h>

#include "automation/dictionary.h"
#include "pages/fts_test_fixture.h"
#include "platform/paths.h"
#include "platform/scratch_dir.h"
#include "web/request_variables.h"

namespace lun {
namespace {

std::shared_ptr<Dictionary> SessionTable() {
  auto table = std::make_shared<Dictionary>();
  EXPECT_EQ(table->SetCompareMode(1, nullptr), S_OK);
  EXPECT_EQ(table->Add(Variant::Bstr(u"CODE-1"), Variant::Bstr(u"LUN_USER"), nullptr), S_OK);
  return table;
}

struct RequestParts {
  const char* peer;
  const char* host;  // null: no Host header
  const char* query;
};

// Builds the request a client thread hands to the page runner.
struct TestRequest {
  TestRequest(const RequestParts& parts, const std::string& web_root, const std::string& page) {
    if (parts.host) http.headers.Set("Host", parts.host);
    request.method = "GET";
    request.web_root = web_root;
    request.page_directory = web_root;
    request.page_path = JoinPath(web_root, page);
    request.query_string = parts.query;
    request.query = ParseQueryString(parts.query);
    request.request = &http;
    request.connection.peer_address = parts.peer;
    request.connection.local_address = "127.0.0.1";
    request.connection.local_port = 8484;
  }
  HttpRequest http;
  PageRequest request;
};

TEST(DescribeRequestTest, CarriesTheAccessDecisionAndTheLoginCookie) {
  FtsEnvironment env;
  env.session_table = SessionTable();
  env.peer_uid = [](const ConnectionInfo&) { return std::optional<uid_t>(getuid()); };
  TestRequest r({"127.0.0.1", "127.0.0.1:8484", "IDCODE=CODE-1"}, "/srv/", "x.shl");
  r.request.cookies = ParseCookies("a=1; LUNAUTH=abc.1.ff");
  const FtsPage page = DescribeRequest(r.request, env);
  EXPECT_TRUE(page.local_user);
  EXPECT_EQ(page.access.id_code, "CODE-1");
  EXPECT_EQ(page.peer_address, "127.0.0.1");
  EXPECT_EQ(page.login_cookie, "abc.1.ff");
  env.peer_uid = [](const ConnectionInfo&) { return std::optional<uid_t>(getuid() + 1); };
  EXPECT_FALSE(DescribeRequest(r.request, env).local_user) << "another account's browser";
}

// Pages run by the page runner with the FTS objects of the factory.
class FtsFactoryTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    AddDocuments({{"a.txt", "txt", u"alpha"}, {"b.txt", "txt", u"beta"}});
    env().session_table = SessionTable();
    env().peer_uid = [](const ConnectionInfo&) { return std::optional<uid_t>(getuid()); };
    env().launch = [this](const std::vector<std::string>& argv) {
      launched_.push_back(argv);
      return true;
    };
    MakeDirectories(root_.File("img"));
    std::ofstream(root_.File("img/doc.gif")) << "GIF89a";
    std::ofstream(root_.File("a.pdf")) << "%PDF";
    IndexFile(root_.File("a.pdf"));  // FTS opens only indexed files
    runner_ = std::make_unique<ScriptPageRunner>(MakeFtsFactory(env()));
  }

  PageOutput RunPage(const std::string& page, const std::string& text, RequestParts parts) {
    std::ofstream(root_.File(page), std::ios::trunc) << text;
    TestRequest r(parts, root_.path() + "/", page);
    PageOutput output;
    EXPECT_EQ(runner_->Run(r.request, responder_, &output), PageRunStatus::kRan);
    return output;
  }

  ScratchDir root_;
  std::unique_ptr<ScriptPageRunner> runner_;
  RecordingResponder responder_;
  std::vector<std::vector<std::string>> launched_;
};

TEST_F(FtsFactoryTest, PagesReachTheirResponseServerAndRequestThroughFts) {
  const std::string page =
      "<% Response.End\n"
      "   inactive = TypeName(FTS.Execute(\"[文档]:\"))\n"
      "   Response.Clear\n"
      "   Response.Write inactive & \"|\" & FTS.Execute(\"[文档]:\").RecordCount & \"|\" & _\n"
      "     FTS.OpenFile(QueryString(\"p\")) & \"|\" & FTS.FileTypeIcon(\"doc\", \"img\") %>";
  const std::string query = "IDCODE=CODE-1&p=" + root_.File("a.pdf");
  EXPECT_EQ(RunPage("t.shl", page, {"127.0.0.1", "127.0.0.1:8484", query.c_str()}).body,
            "Nothing|3|True|doc.gif");
  EXPECT_EQ(launched_, (std::vector<std::vector<std::string>>{{"xdg-open", root_.File("a.pdf")}}));

  launched_.clear();
  EXPECT_EQ(RunPage("t.shl", page, {"10.0.0.2", "127.0.0.1:8484", query.c_str()}).body,
            "Nothing|3|False|doc.gif");
  EXPECT_TRUE(launched_.empty());
}

TEST_F(FtsFactoryTest, DownLoadAnswersWithTheFileInsteadOfThePage) {
  const std::string query = "IDCODE=CODE-1&p=" + root_.File("a.pdf");
  const PageOutput output =
      RunPage("dl.shl", "<% If FTS.DownLoad(QueryString(\"p\")) Then Response.Write \"sent\" %>",
              {"127.0.0.1", nullptr, query.c_str()});
  EXPECT_EQ(output.body, "sent");
  EXPECT_EQ(responder_.files, std::vector<std::string>{root_.File("a.pdf")});
}

}  // namespace
}  // namespace lun
