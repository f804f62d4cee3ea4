#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <string>
#include <vector>

#include "crawler/extract/charset.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/extract_test_util.h"
#include "crawler/extract/html_text.h"
#include "crawler/extract/legacy_office.h"
#include "crawler/extract/ppt_text.h"
#include "crawler/extract/rtf_text.h"
#include "crawler/extract/text_filters.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"
#include "platform/text.h"

namespace lun {
namespace {

constexpr char kGbkSentence[] =  // "中文全文检索系统的测试文本，这是一个简单的例子。"
    "\xD6\xD0\xCE\xC4\xC8\xAB\xCE\xC4\xBC\xEC\xCB\xF7\xCF\xB5\xCD\xB3\xB5\xC4\xB2\xE2\xCA\xD4"
    "\xCE\xC4\xB1\xBE\xA3\xAC\xD5\xE2\xCA\xC7\xD2\xBB\xB8\xF6\xBC\xF2\xB5\xA5\xB5\xC4\xC0\xFD"
    "\xD7\xD3\xA1\xA3";

std::string Utf16Le(std::u16string_view text, bool bom) {
  std::string out = bom ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::string Mp3WithTags() {
  auto frame = [](const std::string& id, const std::string& text) {
    const std::string body = std::string(1, '\0') + text;  // encoding 0
    std::string f = id;
    const uint32_t n = static_cast<uint32_t>(body.size());
    f += {static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
          static_cast<char>(n)};
    f += std::string(2, '\0');
    return f + body;
  };
  const std::string frames = frame("TIT2", "Song Title") + frame("TPE1", "The Artist");
  const uint32_t n = static_cast<uint32_t>(frames.size());
  std::string tag = "ID3";
  tag += {3,
          0,
          0,
          static_cast<char>((n >> 21) & 0x7F),
          static_cast<char>((n >> 14) & 0x7F),
          static_cast<char>((n >> 7) & 0x7F),
          static_cast<char>(n & 0x7F)};
  return tag + frames + std::string(64, '\xFF');
}

// An MP3 ending in an ID3v1 tag whose title is in GBK, as Chinese tools
// wrote them.
std::string Mp3WithGbkId3v1() {
  std::string tag = "TAG";
  std::string title = "\xD6\xD0\xCE\xC4\xB8\xE8";  // 中文歌
  title.resize(30, '\0');
  tag += title + std::string(30, ' ') + std::string(30, '\0') + "2001" + std::string(30, '\0');
  tag.push_back('\xFF');  // no genre
  return std::string(64, '\xFF') + tag;
}

struct FormatCase {
  const char* name;
  const char* type;
  std::string bytes;
  std::vector<std::u16string> present;
  std::vector<std::u16string> absent;
};

std::vector<FormatCase> FormatCases() {
  return {
      {"utf-8 text", "TXT", "Hello \xE4\xB8\x96\xE7\x95\x8C", {u"Hello 世界"}, {}},
      {"GBK text without a declaration", "TXT", kGbkSentence, {u"中文全文检索系统的测试文本"}, {}},
      {"utf-16 text with a BOM", "TXT", Utf16Le(u"wide 文本", true), {u"wide 文本"}, {}},
      {"source code is plain text", "CPP", "int main() { return 0; }", {u"int main()"}, {}},
      {"html",
       "HTML",
       "<html><head><title>Page Title</title><style>p{color:red}</style>"
       "<script>var hidden=1;</script></head><body><p>A &amp; B&nbsp;C</p>"
       "<table><tr><td>cell1</td><td>cell2</td></tr></table></body></html>",
       {u"Page Title", u"A & B\u00A0C", u"cell1 cell2"},
       {u"hidden", u"color"}},
      {"html in GB2312 by its meta element",
       "HTM",
       std::string("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                   "charset=gb2312\"></head><body>") +
           kGbkSentence + "</body></html>",
       {u"中文全文检索系统"},
       {}},
      {"mail with an encoded subject, base64 GBK body and an attachment",
       "EML",
       "From: Alice <alice@example.com>\r\nTo: bob@example.com\r\n"
       "Subject: =?UTF-8?B?5rWL6K+V5Li76aKY?=\r\nDate: Tue, 01 Dec 2026 10:00:00 +0800\r\n"
       "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XX\"\r\n\r\n"
       "--XX\r\nContent-Type: multipart/alternative; boundary=\"YY\"\r\n\r\n"
       "--YY\r\nContent-Type: text/plain; charset=gbk\r\nContent-Transfer-Encoding: base64\r\n\r\n"
       "08q8/tX9zsTE2sjd\r\n--YY\r\nContent-Type: text/html\r\n\r\n<p>html twin</p>\r\n--YY--\r\n"
       "--XX\r\nContent-Type: application/octet-stream\r\n"
       "Content-Disposition: attachment; filename=\"report.xls\"\r\n"
       "Content-Transfer-Encoding: base64\r\n\r\nAAAA\r\n--XX--\r\n",
       {u"测试主题", u"alice@example.com", u"bob@example.com", u"邮件正文内容", u"report.xls",
        u"2026-12-01"},
       {u"html twin"}},
      // GMime joins the two payloads before decoding and stops at the "=".
      {"subject of two base64 words, the first padded",
       "EML",
       "Subject: =?utf-8?B?QUI=?= =?utf-8?B?Qw==?=\r\n\r\nbody",
       {u"ABC\nbody"},
       {}},
      // "中文" cut inside its first character, across a folded line.
      {"subject with a character split between two words",
       "EML",
       "Subject: =?UTF-8?B?5Lg=?=\r\n =?UTF-8?B?reaWhw==?=\r\n\r\nx",
       {u"中文\nx"},
       {}},
      {"subject mixing raw text and a Q word",
       "EML",
       "Subject: Re: =?gb2312?Q?=D6=D0_=CE=C4?= end\r\n\r\nx",
       {u"Re: 中 文 end"},
       {}},
      // Raw 8-bit GB2312 headers, as Chinese mail services send them.
      {"raw GB2312 headers",
       "EML",
       std::string("From: \xD5\xC5\xC8\xFD <zhang@example.cn>\r\nSubject: ") + kGbkSentence +
           "\r\nContent-Type: text/plain; charset=gbk\r\n\r\n\xD5\xFD\xCE\xC4",
       {u"中文全文检索系统的测试文本，这是一个简单的例子。\n张三", u"正文"},
       {}},
      {"web archive",
       "MHT",
       "MIME-Version: 1.0\r\nContent-Type: multipart/related; boundary=\"B\"\r\n\r\n--B\r\n"
       "Content-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n"
       "Content-Location: file:///a.htm\r\n\r\n<html><body><p>Archived =E4=B8=AD page</p>"
       "<script>x()</script></body></html>\r\n--B--\r\n",
       {u"Archived 中 page"},
       {u"x()"}},
      {"rtf",
       "RTF",
       "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fcharset134 SimSun;}}"
       "{\\*\\generator Hidden Writer;}{\\info{\\title Secret}}"
       "\\f0 First \\'c4\\'e3\\'ba\\'c3\\par Second\\tab x \\u20013?\\u25991? \\{braces\\}}",
       {u"First 你好\nSecond\tx 中文 {braces}"},
       {u"SimSun", u"Hidden", u"Secret", u"?"}},
      {"docx",
       "DOCX",
       MakeZip({{"word/document.xml",
                 "<w:document xmlns:w=\"w\"><w:body><w:p><w:r><w:t>Hello</w:t></w:r><w:r><w:tab/>"
                 "<w:t xml:space=\"preserve\"> docx</w:t></w:r></w:p><w:p><w:del><w:r><w:delText>"
                 "gone</w:delText></w:r></w:del><w:r><w:t>second</w:t></w:r></w:p>"
                 "</w:body></w:document>"}}),
       {u"Hello\t docx\nsecond"},
       {u"gone"}},
      {"xlsx",
       "XLSX",
       MakeZip({{"xl/sharedStrings.xml",
                 "<sst><si><t>Name</t></si><si><r><t>Ri</t></r><r><t>ch</t></r><rPh><t>X</t></rPh>"
                 "</si></sst>"},
                {"xl/worksheets/sheet1.xml",
                 "<worksheet><sheetData><row><c t=\"s\"><v>0</v></c><c t=\"s\"><v>1</v></c></row>"
                 "<row><c><v>42.5</v></c><c t=\"inlineStr\"><is><t>inline</t></is></c>"
                 "<c t=\"s\"><v>99</v></c></row></sheetData></worksheet>"}}),
       {u"Name\tRich\n42.5\tinline"},
       {u"X"}},
      // slide10 comes after slide2 although it sorts before it as text.
      {"pptx",
       "PPTX",
       MakeZip({{"ppt/slides/slide10.xml", "<p:sld><a:p><a:r><a:t>Tenth</a:t></a:r></a:p></p:sld>"},
                {"ppt/slides/slide2.xml", "<p:sld><a:p><a:r><a:t>Second</a:t></a:r></a:p></p:sld>"},
                {"ppt/slides/_rels/slide2.xml.rels", "<Relationships/>"}}),
       {u"Second\nTenth"},
       {}},
      {"odt",
       "ODT",
       MakeZip(
           {{"mimetype", "application/vnd.oasis.opendocument.text"},
            {"content.xml",
             "<office:document-content xmlns:office=\"o\" xmlns:text=\"t\" xmlns:style=\"s\">"
             "<office:automatic-styles><style:style>junk</style:style></office:automatic-styles>"
             "<office:body><office:text><text:h>Title</text:h><text:p>a<text:s/>b<text:tab/>c"
             "<text:line-break/>d</text:p></office:text></office:body>"
             "</office:document-content>"}}),
       {u"Title\na b\tc\nd"},
       {u"junk"}},
      // The spine reads chapter 2 first although the archive stores it last.
      {"epub",
       "EPUB",
       MakeZip({{"mimetype", "application/epub+zip"},
                {"META-INF/container.xml",
                 "<container><rootfiles><rootfile full-path=\"OEBPS/content.opf\"/></rootfiles>"
                 "</container>"},
                {"OEBPS/content.opf",
                 "<package><manifest><item id=\"c1\" href=\"text/ch1.xhtml\"/>"
                 "<item id=\"c2\" href=\"text/ch%202.xhtml\"/></manifest>"
                 "<spine><itemref idref=\"c2\"/><itemref idref=\"c1\"/></spine></package>"},
                {"OEBPS/text/ch1.xhtml", "<html><body><p>First chapter</p></body></html>"},
                {"OEBPS/text/ch 2.xhtml", "<html><body><p>Second chapter</p></body></html>"}}),
       {u"Second chapter\nFirst chapter"},
       {}},
      {"pdf", "PDF", MakePdf("Hello PDF world"), {u"Hello PDF world"}, {}},
      // GBK bytes in a font that is not embedded and says WinAnsi; the font
      // is named "小标宋_GB2312" in GBK.
      {"pdf with GBK bytes in a GB2312-named WinAnsi font",
       "PDF",
       MakeWinAnsiPdf("#D0#A1#B1#EA#CB#CE_GB2312", kGbkSentence),
       {u"中文全文检索系统的测试文本"},
       {u"Ö"}},
      // GBK outside GB2312 (lead byte 0x88): only the font name tells.
      {"pdf with GBK-only characters in a GBK-named font",
       "PDF",
       MakeWinAnsiPdf("SimSun-GBK", "ABC \x88\x40\xD6\xD0 x"),
       {u"ABC 園中 x"},
       {}},
      {"pdf with GB2312 pairs in a font named otherwise",
       "PDF",
       MakeWinAnsiPdf("SimSun", "\xD6\xD0\xCE\xC4 PDF"),
       {u"中文 PDF"},
       {}},
      {"pdf with Latin text in WinAnsi stays Latin",
       "PDF",
       MakeWinAnsiPdf("Times-Roman", "caf\xE9 na\xEFve \xC4\xD6"),
       {u"café naïve ÄÖ"},
       {}},
      {"mp3 tags", "MP3", Mp3WithTags(), {u"Song Title\nThe Artist"}, {}},
      {"mp3 with a GBK ID3v1 tag", "MP3", Mp3WithGbkId3v1(), {u"中文歌", u"2001"}, {}},
      {"flac comments",
       "FLAC",
       MakeFlac({"ARTIST=歌手", "TITLE=流行歌曲", "TRACKNUMBER=7", "LYRICS=月亮代表我的心"}),
       {u"流行歌曲\n歌手\n月亮代表我的心"},
       {u"7"}},
      {"wav with a GBK INFO name", "WAV", MakeWavWithGbkInfo(), {u"中文"}, {}},
      {"photo metadata",
       "JPG",
       MakeJpegWithExif(),
       {u"Canon EOS 5D\n2024-05-01 10:00:00\n长城 sunset"},
       {}},
      // Word processors save RTF under the .doc name; the first bytes decide.
      {"rtf named doc", "DOC", "{\\rtf1\\ansi inside a doc}", {u"inside a doc"}, {}},
  };
}

TEST(TextFiltersTest, ReadsEachFormat) {
  for (const FormatCase& c : FormatCases()) {
    SCOPED_TRACE(c.name);
    const ExtractResult result = ExtractBytesText(c.bytes, c.type, kServiceTextLimit);
    EXPECT_EQ(result.status, ExtractStatus::kOk) << result.message;
    const std::string text = ToNarrow(result.text);
    for (const std::u16string& want : c.present) {
      EXPECT_NE(result.text.find(want), std::u16string::npos)
          << "missing " << ToNarrow(want) << " in: " << text;
    }
    for (const std::u16string& unwanted : c.absent) {
      EXPECT_EQ(result.text.find(unwanted), std::u16string::npos)
          << "unexpected " << ToNarrow(unwanted) << " in: " << text;
    }
  }
}

TEST(TextFiltersTest, ReadsFilesThroughTheSameDispatch) {
  ScratchDir dir;
  const std::string docx = dir.File("名字 (1).docx");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), docx, MakeDocx({"from a file"})), 0);
  const ExtractResult result = ExtractFileText(docx, kServiceTextLimit);
  EXPECT_EQ(result.status, ExtractStatus::kOk);
  EXPECT_EQ(result.text, u"from a file");
  EXPECT_EQ(ExtractFileText(dir.File("missing.txt"), 100).status, ExtractStatus::kUnreadable);
  EXPECT_EQ(ExtractFileText(dir.File("picture.bmp"), 100).status, ExtractStatus::kUnsupported);
  // A FIFO would block a reader that opened it; a directory has no text.
  const std::string fifo = dir.File("pipe.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(ExtractFileText(fifo, 100).status, ExtractStatus::kUnreadable);
  EXPECT_EQ(ExtractFileText(dir.path(), 100).status, ExtractStatus::kUnreadable);
}

struct DamageCase {
  const char* name;
  const char* type;
  std::string bytes;
  std::vector<ExtractStatus> allowed;
  std::u16string kept;  // text that must survive the damage, if any
};

std::string Nested(const std::string& open, int depth, const std::string& inner) {
  std::string s;
  for (int i = 0; i < depth; ++i) s += open;
  return s + inner;
}

TEST(TextFiltersTest, DamagedAndHostileDocumentsGiveAStatusNotACrash) {
  const std::string docx = MakeDocx({"alpha", "beta"});
  const std::vector<DamageCase> cases = {
      {"truncated docx", "DOCX", docx.substr(0, docx.size() / 2), {ExtractStatus::kDamaged}, u""},
      {"garbage named docx", "DOCX", std::string(3000, '\x93'), {ExtractStatus::kDamaged}, u""},
      {"docx without its body part",
       "DOCX",
       MakeZip({{"word/other.xml", "<a/>"}}),
       {ExtractStatus::kDamaged},
       u""},
      {"docx with XML cut short",
       "DOCX",
       MakeZip({{"word/document.xml",
                 "<w:document xmlns:w=\"w\"><w:p><w:t>kept</w:t></w:p><w:p>"
                 "<w:t>cut"}}),
       {ExtractStatus::kPartial},
       u"kept"},
      // 130 MiB of zeros in a few hundred kilobytes: refused at the part limit.
      {"zip bomb",
       "DOCX",
       MakeZipBomb("word/document.xml", 130u << 20),
       {ExtractStatus::kTooLarge},
       u""},
      // An entity bomb must not be expanded (no entity substitution).
      {"billion laughs",
       "DOCX",
       MakeZip({{"word/document.xml",
                 "<?xml version=\"1.0\"?><!DOCTYPE d [<!ENTITY a \"aaaaaaaaaa\">"
                 "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;"
                 "&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
                 "<w:document xmlns:w=\"w\"><w:p><w:t>x&d;&d;&d;&d;</w:t></w:p></w:document>"}}),
       {ExtractStatus::kOk, ExtractStatus::kPartial, ExtractStatus::kDamaged},
       u""},
      {"html nested 100000 deep",
       "HTML",
       Nested("<div>", 100000, "deep text"),
       {ExtractStatus::kOk},
       u""},
      {"binary named txt",
       "TXT",
       std::string("\x00\x01\x02\x03garbage\x00\x00\xFF", 14),
       {ExtractStatus::kDamaged},
       u""},
      {"invalid UTF-8", "TXT", "abc \xFF\xFE\xC3 def \xE4\xB8", {ExtractStatus::kOk}, u"abc"},
      {"rtf nested too deep",
       "RTF",
       "{\\rtf1 top" + Nested("{", 5000, "x"),
       {ExtractStatus::kPartial},
       u"top"},
      {"rtf cut short", "RTF", "{\\rtf1 hello \\'", {ExtractStatus::kPartial}, u"hello"},
      {"rtf with a huge binary count",
       "RTF",
       "{\\rtf1 a\\bin999999999 b}",
       {ExtractStatus::kPartial},
       u"a"},
      {"not rtf", "RTF", "plain words", {ExtractStatus::kDamaged}, u""},
      {"pdf header then garbage",
       "PDF",
       "%PDF-1.4\n" + std::string(500, 'z'),
       {ExtractStatus::kDamaged, ExtractStatus::kOk},
       u""},
      {"pdf cut in half",
       "PDF",
       MakePdf("half").substr(0, 200),
       {ExtractStatus::kDamaged, ExtractStatus::kOk},
       u""},
      {"mail of random bytes",
       "EML",
       std::string(2000, '\xA7'),
       {ExtractStatus::kOk, ExtractStatus::kDamaged},
       u""},
      {"mail nested 100 deep",
       "EML",
       Nested("Content-Type: message/rfc822\r\n\r\n", 100, "Subject: deep\r\n\r\nbody"),
       {ExtractStatus::kPartial, ExtractStatus::kOk},
       u""},
      {"id3 with frame sizes past the end",
       "MP3",
       std::string("ID3\x03\x00\x00\x00\x00\x7F\x7FTIT2\x7F\xFF\xFF\xFF\x00\x00", 20),
       {ExtractStatus::kOk},
       u""},
  };
  for (const DamageCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ExtractResult result = ExtractBytesText(c.bytes, c.type, kServiceTextLimit);
    EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), result.status), c.allowed.end())
        << StatusName(result.status) << ": " << result.message;
    if (!c.kept.empty()) {
      EXPECT_NE(result.text.find(c.kept), std::u16string::npos) << ToNarrow(result.text);
    }
    EXPECT_LE(result.text.size(), kServiceTextLimit);
  }
}

TEST(TextFiltersTest, TextStopsAtTheLimitWithoutSplittingAPair) {
  TextSink sink(5);
  EXPECT_TRUE(sink.Append(u"abcd"));
  EXPECT_FALSE(sink.Append(u"\U0001F600"));  // the pair would straddle the limit
  EXPECT_EQ(sink.text(), u"abcd");
  EXPECT_TRUE(sink.full());

  ScratchDir dir;
  const std::string path = dir.File("long.txt");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, std::string(150000, 'x')), 0);
  const ExtractResult result = FilterText(path);
  EXPECT_EQ(result.status, ExtractStatus::kOk);
  EXPECT_EQ(result.text.size(), kFilterTextLimit);
}

TEST(TextFiltersTest, TextSourceFollowsTheTypeLists) {
  const TypeLists lists{"|DOC|BMP|DOCX|TXT|", "|LOG|", "|PAX|", "|MSN|"};
  struct Case {
    const char* token;
    TextSource source;
  };
  const std::array<Case, 9> cases{{
      {"|DOC|", TextSource::kCrawlService},
      {"|doc|", TextSource::kCrawlService},   // tokens match in any case
      {"|JPG|", TextSource::kNone},           // chosen, but no text to be had
      {"|DOCX|", TextSource::kCrawlService},  // joined the service list
      {"|LOG|", TextSource::kCrawlService},   // other text only
      {"|PAX|", TextSource::kCrawlService},
      {"|MSN|", TextSource::kCrawlService},
      {"|XYZ|", TextSource::kNone},
      {"||", TextSource::kNone},  // no extension
  }};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.token);
    EXPECT_EQ(TextSourceOf(c.token, lists), c.source);
  }
  for (const char* added : {"|DOCX|", "|DOCM|", "|XLSX|", "|XLSM|", "|PPTX|", "|PPTM|", "|EPUB|"}) {
    EXPECT_NE(std::string_view(kServiceExtractableTypes).find(added), std::string_view::npos);
  }
}

// The OpenDocument family had a reader and a category but was never asked
// of the service: every type of it chosen alone must get its text.
TEST(TextFiltersTest, OpenDocumentTypesAreAskedOfTheService) {
  const std::string odt =
      MakeZip({{"content.xml",
                "<office:document-content xmlns:office=\"o\" xmlns:text=\"t\"><office:body>"
                "<office:text><text:p>odf words</text:p></office:text></office:body>"
                "</office:document-content>"}});
  for (const char* type : {"ODT", "OTT", "ODS", "OTS", "ODP", "OTP", "ODG", "OTG", "ODF", "SXW",
                           "STW", "SXC", "STC", "SXI", "STI", "SXD", "SXG", "STM"}) {
    SCOPED_TRACE(type);
    const std::string token = "|" + std::string(type) + "|";
    EXPECT_EQ(TextSourceOf(token, TypeLists{token, "", "", ""}), TextSource::kCrawlService);
    EXPECT_EQ(ExtractBytesText(odt, type, 100).text, u"odf words");
  }
}

TEST(TextFiltersTest, HandlerTableDecidesTheInProcessFilter) {
  ScratchDir dir;
  auto write = [&](const std::string& name, const std::string& data) {
    const std::string path = dir.File(name);
    EXPECT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, data), 0);
    return path;
  };
  // Before start-up registration: mail and .log have no handler.
  EXPECT_EQ(GetPersistentHandler(".htm"), kHtmlFilterClsid);
  EXPECT_EQ(FilterText(write("a.pdf", MakePdf("x"))).status, ExtractStatus::kUnsupported);
  EXPECT_FALSE(RegisterPersistentHandler("", kPlainTextFilterClsid));
  EXPECT_FALSE(RegisterPersistentHandler(".abc", "{not-a-filter}"));

  RegisterStartupHandlers("|LOG|HTM|");
  EXPECT_EQ(GetPersistentHandler(".EML"), kMimeFilterClsid);
  EXPECT_EQ(GetPersistentHandler("log"), kPlainTextFilterClsid);
  EXPECT_EQ(GetPersistentHandler(".htm"), kHtmlFilterClsid);  // an existing handler is kept

  const ExtractResult mail = FilterText(write("m.eml", "Subject: hello mail\r\n\r\nbody text"));
  EXPECT_EQ(mail.status, ExtractStatus::kOk);
  EXPECT_EQ(mail.text, u"hello mail\nbody text");
  EXPECT_EQ(FilterText(write("x.log", "log line")).text, u"log line");
  EXPECT_EQ(FilterText(write("p.htm", "<b>bold</b><script>s</script>")).text, u"bold");
}

TEST(CrawlWireFormatTest, RequestsAndReplies) {
  struct Case {
    std::string buffer;
    RequestScan scan;
    std::string path;
    size_t consumed;
  };
  const std::vector<Case> cases = {
      {std::string("/a.txt\0", 7), RequestScan::kPath, "/a.txt", 7},
      {std::string("/a b\0/c\0", 8), RequestScan::kPath, "/a b", 5},  // one at a time
      {"/partial", RequestScan::kIncomplete, "", 0},
      {std::string("Exit\0", 5), RequestScan::kExit, "", 5},
      {std::string("Exit2\0", 6), RequestScan::kPath, "Exit2", 6},
      {std::string(kMaxRequestPathBytes + 1, 'a'), RequestScan::kTooLong, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.buffer.substr(0, 20));
    std::string path;
    size_t consumed = 0;
    EXPECT_EQ(ScanRequest(c.buffer, &path, &consumed), c.scan);
    EXPECT_EQ(path, c.path);
    EXPECT_EQ(consumed, c.consumed);
  }
  EXPECT_EQ(EncodeReply(u"hi"), std::string("\x04\x00\x00\x00h\x00i\x00", 8));
  const unsigned char minus_one[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(DecodeReplyLength(minus_one), -1);
  EXPECT_EQ(CheckReplyLength(0), ReplyCheck::kNoText);
  EXPECT_EQ(CheckReplyLength(-7), ReplyCheck::kNoText);
  EXPECT_EQ(CheckReplyLength(4), ReplyCheck::kText);
  EXPECT_EQ(CheckReplyLength(3), ReplyCheck::kMalformed);
  EXPECT_EQ(CheckReplyLength(kMaxReplyBytes + 2), ReplyCheck::kMalformed);
  EXPECT_EQ(DecodeUtf16Le(std::string("h\x00i\x00!", 5)), u"hi");
}

// Tag fields are too short for detection: "中文" in GBK was read as
// Cyrillic by it.
TEST(CharsetTest, ShortFieldsTellGbkFromLatin1) {
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"\xD6\xD0\xCE\xC4", u"中文"},
      {"\xE4\xB8\xAD", u"中"},                                     // UTF-8 first
      {"Bj\xF6rk Gu\xF0mundsd\xF3ttir", u"Björk Guðmundsdóttir"},  // GBK-shaped, no GB2312 pair
      {"caf\xE9", u"café"},                                        // a lead byte without a trail
      {"\x88\x40\xD6\xD0", u"園中"},  // a GBK-only character beside a GB2312 one
  };
  for (const auto& [bytes, want] : cases) EXPECT_EQ(DecodeShortField(bytes), want) << bytes;
}

TEST(CharsetTest, DeclaredCharsetsAreFoundInTheHead) {
  EXPECT_EQ(DeclaredHtmlCharset("<meta charset=\"GB2312\">"), "gb2312");
  EXPECT_EQ(DeclaredHtmlCharset("<meta content='text/html; charset=big5'>"), "big5");
  EXPECT_EQ(DeclaredHtmlCharset("<?xml version=\"1.0\" encoding=\"utf-8\"?>"), "utf-8");
  EXPECT_EQ(DeclaredHtmlCharset("<p>no charset</p>"), "");
  // An unknown declared charset falls back to detection.
  EXPECT_EQ(DecodeText("plain", "no-such-charset"), u"plain");
}

// Record types of the PowerPoint binary format the fixtures use.
enum : uint16_t {
  kDocument = 0x03E8,
  kSlide = 0x03EE,
  kMainMaster = 0x03F8,
  kPPDrawing = 0x040C,
  kTextHeaderAtom = 0x0F9F,
  kTextCharsAtom = 0x0FA0,
  kTextBytesAtom = 0x0FA8,
  kSlideListWithText = 0x0FF0,
  kDgContainer = 0xF002,
  kSpgrContainer = 0xF003,
  kSpContainer = 0xF004,
  kClientTextbox = 0xF00D,
};

std::string TextBox(const std::string& atoms) {
  return PptRecord(kTextHeaderAtom, std::string(4, '\0')) + atoms;
}

// A slide whose text sits in its drawing, as PowerPoint 2007 and later
// write it.
std::string DrawingSlide(const std::string& atoms) {
  const std::string shape = PptRecord(kClientTextbox, TextBox(atoms), true);
  return PptRecord(
      kSlide,
      PptRecord(
          kPPDrawing,
          PptRecord(kDgContainer,
                    PptRecord(kSpgrContainer, PptRecord(kSpContainer, shape, true), true), true),
          true),
      true);
}

// PowerPoint 97-2003 slide-list text, drawing text of a 2007 slide, a
// master's prompts and a text held twice.
std::string PowerPointStream() {
  const std::string slide_list =
      PptRecord(kSlideListWithText,
                TextBox(PptRecord(kTextCharsAtom, Utf16LeBytes(u"标题 one\rsecond\vline"))) +
                    TextBox(PptRecord(kTextBytesAtom, "Latin \xE9t\xE9")),
                true);
  const std::string master = PptRecord(
      kMainMaster, TextBox(PptRecord(kTextBytesAtom, "Click to edit Master title style")), true);
  return PptRecord(kDocument, slide_list, true) + master +
         DrawingSlide(PptRecord(kTextBytesAtom, "drawing text") +
                      PptRecord(kTextCharsAtom, Utf16LeBytes(u"中文幻灯片"))) +
         DrawingSlide(PptRecord(kTextCharsAtom, Utf16LeBytes(u"标题 one\rsecond\vline")));
}

TEST(PowerPointTest, ReadsSlideListsAndSlideDrawings) {
  const ExtractResult result =
      ExtractBytesText(MakeOleFile("PowerPoint Document", PowerPointStream()), "PPT", 1000);
  EXPECT_EQ(result.status, ExtractStatus::kOk) << result.message;
  EXPECT_EQ(result.text, u"标题 one\nsecond\nline\nLatin été\ndrawing text\n中文幻灯片");

  // Through a file, as the crawl service reads it; the limit holds.
  ScratchDir dir;
  const std::string path = dir.File("slides.ppt");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path,
                                  MakeOleFile("PowerPoint Document", PowerPointStream())),
            0);
  EXPECT_EQ(ExtractFileText(path, 5).text, u"标题 on");
}

TEST(PowerPointTest, DamagedFilesKeepWhatCameBefore) {
  const std::string good = PptRecord(kTextCharsAtom, Utf16LeBytes(u"kept"));
  // A container whose length runs past the stream: its atoms are still read.
  const std::string cut = PptRecord(kSlide, good + good, true).substr(0, 8 + good.size() + 3);
  EXPECT_EQ(PptStreamText(cut, 100).status, ExtractStatus::kPartial);
  EXPECT_EQ(PptStreamText(cut, 100).text, u"kept");
  std::string deep = good;
  for (int i = 0; i < kPptMaxDepth + 5; ++i) deep = PptRecord(kSlide, deep, true);
  EXPECT_EQ(PptStreamText(deep, 100).status, ExtractStatus::kPartial);
  // An odd byte count of UTF-16 and a stream of noise give no crash.
  EXPECT_EQ(PptStreamText(PptRecord(kTextCharsAtom, "abc"), 100).text, u"\u6261");
  EXPECT_LE(PptStreamText(std::string(5000, '\xFF'), 100).text.size(), 100u);
  EXPECT_EQ(ExtractBytesText(MakeOleFile("Other", "x"), "PPT", 100).status,
            ExtractStatus::kDamaged);
  EXPECT_EQ(ExtractBytesText(std::string(4096, '\0'), "PPT", 100).status, ExtractStatus::kDamaged);
}

TEST(LegacyOfficeTest, BinaryWordFilesNeedAConverter) {
  ScratchDir dir;
  const std::string path = dir.File("old.doc");
  ASSERT_EQ(ReplaceFileAtomically(
                DefaultFileSystem(), path,
                std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0')),
            0);
  const ExtractResult result = ExtractFileText(path, 1000);
  if (!LegacyOfficeAvailable("DOC")) {
    EXPECT_EQ(result.status, ExtractStatus::kUnsupported);
    GTEST_SKIP() << "antiword and catdoc are not installed";
  }
  // A converter runs but the stub document has no text: a status, no crash.
  EXPECT_NE(result.status, ExtractStatus::kOk);
}

}  // namespace
}  // namespace lun
