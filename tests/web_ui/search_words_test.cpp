// The search box's words (res/LUN/searchwords.inc) as query expressions:
// each box text gives the expected expression and marked words, and the
// expression, run by the real FTS object over a few documents, finds the
// expected number of them (so the engine accepts what the pages build).
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "pages/fts_test_fixture.h"
#include "pages/script_page_runner.h"
#include "platform/scratch_dir.h"
#include "web/request_variables.h"

namespace lun {
namespace {

// Writes "[expression]marks#count" for the box text in parameter t; the
// count is left out when there is nothing to search for.
constexpr char kProbePage[] =
    "<!--#include file=\"common.inc\"--><!--#include file=\"searchwords.inc\"--><%\r\n"
    "Dim e, rs\r\n"
    "e = WordsExpression(Param(\"t\"))\r\n"
    "Response.Write \"[\" & e & \"]\" & WordsMark(Param(\"t\"))\r\n"
    "If e <> \"\" Then\r\n"
    "  Set rs = FTS.Execute(\"[文档]:文本内容=(\" & e & \")\")\r\n"
    "  If rs.Success Then Response.Write \"#\" & rs.RecordCount Else Response.Write \"#error\"\r\n"
    "End If\r\n"
    "%>";

class SearchWordsTest : public FtsFixture {
 protected:
  void SetUp() override {
    FtsFixture::SetUp();
    AddDocuments({{"d0.txt", "txt", u"alpha beta"},
                  {"d1.txt", "txt", u"alpha gamma"},
                  {"d2.txt", "txt", u"beta gamma"},
                  {"d3.txt", "txt", u"report(1) delta"},
                  {"d4.txt", "txt", u"或者 东西"}});
    std::ofstream(dir_.File("probe.shl"), std::ios::binary) << kProbePage;
  }

  std::string Probe(const std::string& box_text) {
    ScriptPageRunner runner([this](const PageContext& context) -> std::shared_ptr<Dispatch> {
      FtsPage page;
      page.responder = &context.responder;
      return Fts(std::move(page));
    });
    const std::string query = "t=" + UrlEncodeForTest(box_text);
    PageRequest request;
    request.method = "GET";
    request.page_directory = std::string(LUN_PAGES_DIR) + "/";
    request.page_path = dir_.File("probe.shl");
    request.web_root = request.page_directory;
    request.query_string = query;
    request.server_variables.Set("REQUEST_METHOD", "GET");
    request.server_variables.Set("QUERY_STRING", query);
    request.query = ParseQueryString(query);
    RecordingResponder responder;
    PageOutput output;
    EXPECT_EQ(runner.Run(request, responder, &output), PageRunStatus::kRan);
    // The includes end with line breaks of their own.
    const size_t start = output.body.find_first_not_of("\r\n");
    return start == std::string::npos ? "" : output.body.substr(start);
  }

  // Percent-encodes every byte but letters and digits, as a browser's form.
  static std::string UrlEncodeForTest(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const unsigned char c : text) {
      if (std::isalnum(c)) {
        out += static_cast<char>(c);
      } else {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
    }
    return out;
  }

  ScratchDir dir_;
};

TEST_F(SearchWordsTest, BoxTextBecomesTheQueryLanguagesExpression) {
  const struct {
    const char* box;
    const char* want;  // "[expression]marks#count"
  } cases[] = {
      {"alpha beta", "[alpha*beta]*alpha*beta#1"},
      {"alpha AND gamma", "[alpha*gamma]*alpha*gamma#1"},
      {"alpha OR gamma", "[(alpha+gamma)]*alpha*gamma#3"},
      {"alpha | gamma", "[(alpha+gamma)]*alpha*gamma#3"},
      {"alpha|gamma", "[(alpha+gamma)]*alpha*gamma#3"},
      {"beta 或 delta", "[(beta+delta)]*beta*delta#3"},
      // OR binds more tightly than the blank.
      {"gamma alpha OR delta", "[gamma*(alpha+delta)]*gamma*alpha*delta#1"},
      {"alpha (beta OR gamma)", "[alpha*((beta+gamma))]*alpha*beta*gamma#2"},
      {"（alpha｜beta） gamma", "[((alpha+beta))*gamma]*alpha*beta*gamma#2"},
      {"alpha -beta", "[alpha-beta]*alpha#1"},
      {"beta -(gamma OR delta)", "[beta-((gamma+delta))]*beta*gamma*delta#1"},
      {"alpha OR -beta", "[(alpha+(-beta))]*alpha#4"},
      {"\"alpha beta\"", "[alpha%0x0020%beta]*alpha beta#1"},
      {"\"alpha OR\"", "[alpha%0x0020%OR]*alpha OR#0"},
      // Parentheses inside a word are text; an unclosed group ends with the text.
      {"report(1)", "[report%0x0028%1%0x0029%]*report(1)#1"},
      {"(report(1) OR beta)", "[((report%0x0028%1%0x0029%+beta))]*report(1)*beta#3"},
      {"(alpha OR beta", "[((alpha+beta))]*alpha*beta#3"},
      // Operators only as whole words; strays add nothing.
      {"或者", "[或者]*或者#1"},
      {"OR alpha", "[alpha]*alpha#2"},
      {"alpha OR", "[alpha]*alpha#2"},
      {"alpha -", "[alpha]*alpha#2"},
      // Nothing to find: only exclusions, or nothing at all.
      {"-alpha", "[]"},
      {"-alpha -beta", "[]"},
      {"  ", "[]"},
      {"()", "[]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    EXPECT_EQ(Probe(c.box), c.want);
  }
}

}  // namespace
}  // namespace lun
