#include "pages/page_translator.h"

#include <gtest/gtest.h>

#include "config/packed_text.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

void Write(const std::string& path, const std::string& data) {
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, data), 0);
}

TEST(PageTranslatorTest, PagesBecomeScripts) {
  struct Case {
    const char* name;
    std::string page;
    const char* script;  // nullptr: translation fails
  };
  const Case cases[] = {
      {"empty page", "", ""},
      {"plain lines, no final break", "a\r\nb",
       "Response.Write \"a\" & vbCrLf\r\nResponse.Write \"b\"\r\n"},
      {"final break written", "a\r\n", "Response.Write \"a\" & vbCrLf\r\n\r\n"},
      {"empty line", "\r\n", "Response.Write \"\" & vbCrLf\r\n\r\n"},
      {"lone LF stays in the literal", "a\nb", "Response.Write \"a\nb\"\r\n"},
      {"quotes doubled", "say \"hi\"", "Response.Write \"say \"\"hi\"\"\"\r\n"},
      {"the two-line example", "<b>\r\n<%=Name%> \"x\"",
       "Response.Write \"<b>\" & vbCrLf\r\n\r\nResponse.Write Name\r\nResponse.Write \" \"\"x\"\"\"\r\n"},
      {"code block copied, leading blanks removed", "<%  \r\n x = 1 %>", "\r\nx = 1 \r\n"},
      {"expression block", "<%= 1+1 %>tail", "\r\nResponse.Write  1+1 \r\nResponse.Write \"tail\"\r\n"},
      {"unclosed block", "a<% x = 1", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string script;
    const bool ok = ScriptFromPage(c.page, &script);
    ASSERT_EQ(ok, c.script != nullptr);
    if (ok) EXPECT_EQ(script, c.script);
  }
}

TEST(PageTranslatorTest, IncludesAreExpandedFromThePageDirectory) {
  ScratchDir dir;
  Write(dir.File("head.inc"), "<title><!--#include file=\"title.inc\"--></title>");
  Write(dir.File("title.inc"), "T");
  Write(dir.File("self.inc"), "x<!--#include file=\"self.inc\"-->");
  struct Case {
    const char* name;
    std::string page;
    const char* expanded;
  };
  const Case cases[] = {
      {"capital directive loads the lower-case name",
       "<!--#INCLUDE FILE=\"Head.inc\"-->!", "<title>T</title>!"},
      {"identical directives both replaced",
       "<!--#include virtual=\"title.inc\"-->-<!--#include virtual=\"title.inc\"-->", "T-T"},
      {"missing file vanishes", "a<!--#include file=\"none.inc\"-->b", "ab"},
      {"other comments stay", "<!-- note --><!--#include file=\"title.inc\"-->", "<!-- note -->T"},
      {"no quotes: stays", "<!--#include file=x-->", "<!--#include file=x-->"},
      // A comment runs to the first "-->", so the include inside this one takes
      // the whole comment with it.
      {"comment around an include", "<!-- open <!--#include file=\"title.inc\"-->", "T"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out;
    ASSERT_TRUE(ExpandIncludes(c.page, dir.path(), &out));
    EXPECT_EQ(out, c.expanded);
  }
  std::string out;
  EXPECT_FALSE(ExpandIncludes("<!--#include file=\"self.inc\"-->", dir.path(), &out))
      << "a file that includes itself is refused, not expanded without end";
}

TEST(PageTranslatorTest, LoadsPlainAndPackedPages) {
  ScratchDir dir;
  const std::string page = "<b><%=1%></b>";
  Write(dir.File("plain.shl"), page);
  Write(dir.File("packed0.shl"), std::string("<Tamrix.Script>\0", 16) + page);
  Write(dir.File("packed1.shl"), "<Tamrix.Script>\x01" + GzipMember(page + std::string(300, ' ')));
  Write(dir.File("damaged.shl"), "<Tamrix.Script>\x01\x1F\x8B\x08\x00garbage");
  Write(dir.File("nul.shl"), std::string("ab\0cd", 5));
  std::string text;
  for (const char* name : {"plain.shl", "packed0.shl"}) {
    ASSERT_TRUE(LoadPageFile(dir.File(name), &text));
    EXPECT_EQ(text, page);
  }
  ASSERT_TRUE(LoadPageFile(dir.File("packed1.shl"), &text));
  EXPECT_EQ(text, page + std::string(300, ' '));
  ASSERT_TRUE(LoadPageFile(dir.File("missing.shl"), &text));
  EXPECT_EQ(text, "");
  EXPECT_FALSE(LoadPageFile(dir.File("damaged.shl"), &text));
  ASSERT_TRUE(LoadPageFile(dir.File("nul.shl"), &text));
  EXPECT_EQ(text, "ab");
  EXPECT_FALSE(LoadPageFile(dir.path(), &text)) << "a directory cannot be read";
}

}  // namespace
}  // namespace lun
