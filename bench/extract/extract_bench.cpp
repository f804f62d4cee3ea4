// Extraction throughput per format, and the cost of a crawl service round
// trip (client -> luncrawl -> worker process -> reply).
//
//   extract_bench [--render RENDER_TEXT_IMAGE] [LUNCRAWL] [FILES]
//
// Documents are generated here (the same fixtures the tests use, made
// larger); each format is read repeatedly for about a second and reported as
// documents/s and MB/s of input. An archive is timed through its member walk
// (every member read, in this process), an Outlook data file of 2,000
// messages through its message walk (libpff, in this process) as
// messages/s. With --render (tests/crawl_service/render_text_image), a page
// of text drawn by it is read by Tesseract three times: seconds per page.
// With LUNCRAWL given, FILES small text files
// (default 2000) are written to a scratch directory and fetched through a
// service started on a free port; reported as files/s, with the in-process
// reading of the same files for comparison.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "app/crawl_service_client.h"
#include "crawler/extract/archive_members.h"
#include "crawler/extract/crawl_wire_format.h"
#include "crawler/extract/extract_test_util.h"
#include "crawler/extract/ocr_text.h"
#include "crawler/extract/pst_messages.h"
#include "crawler/extract/pst_test_writer.h"
#include "crawler/extract/text_filters.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::string Words(int n) {
  static const char* const kWords[] = {"search", "index",  "document", "全文", "检索",
                                       "text",   "engine", "crawler",  "桌面", "query"};
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += kWords[i % 10];
    out += ' ';
  }
  return out;
}

// `n` GBK characters (中文 repeated); 10 fit the width of the page.
std::string GbkText(int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += i % 2 ? "\xCE\xC4" : "\xD6\xD0";
  return out;
}

// A .ppt whose slide list holds one text atom per paragraph.
std::string PowerPoint(const std::vector<std::string>& paragraphs) {
  std::string atoms;
  // Distinct paragraphs: the reader keeps a repeated text once.
  for (size_t i = 0; i < paragraphs.size(); ++i) {
    atoms += lun::PptRecord(0x0FA8, paragraphs[i] + std::to_string(i));  // TextBytesAtom
  }
  const std::string slides = lun::PptRecord(0x0FF0, atoms, true);
  return lun::MakeOleFile("PowerPoint Document", lun::PptRecord(0x03E8, slides, true));
}

// An MP3 of 64 KiB of frame bytes after an ID3v2.3 tag with two text frames.
std::string Id3Mp3() {
  auto frame = [](const std::string& id, const std::string& text) {
    const std::string body = std::string(1, '\0') + text;
    const uint32_t n = static_cast<uint32_t>(body.size());
    return id +
           std::string{static_cast<char>(n >> 24),
                       static_cast<char>(n >> 16),
                       static_cast<char>(n >> 8),
                       static_cast<char>(n),
                       0,
                       0} +
           body;
  };
  const std::string frames = frame("TIT2", "Bench Title") + frame("TPE1", "Bench Artist");
  const uint32_t n = static_cast<uint32_t>(frames.size());
  return std::string("ID3\x03\x00\x00", 6) +
         std::string{static_cast<char>((n >> 21) & 0x7F), static_cast<char>((n >> 14) & 0x7F),
                     static_cast<char>((n >> 7) & 0x7F), static_cast<char>(n & 0x7F)} +
         frames + std::string(64 * 1024, '\xFF');
}

std::string ZipOfDocx(int n) {
  lun::ZipEntries entries;
  for (int i = 0; i < n; ++i) {
    entries.push_back(
        {"docs/d" + std::to_string(i) + ".docx", lun::MakeDocx({Words(40), Words(40)})});
  }
  return lun::MakeZip(entries);
}

// The text of `f`: archives through the member walk, all else through the
// reader of the type.
size_t TextChars(const std::string& bytes, const std::string& type) {
  if (type != "ZIP") return lun::ExtractBytesText(bytes, type, lun::kServiceTextLimit).text.size();
  size_t chars = 0;
  lun::WalkArchiveBytes(
      bytes, "/bench.zip", [](std::string_view) { return true; },
      [&](const lun::ArchiveMember& m) {
        chars += m.text.size();
        return true;
      });
  return chars;
}

struct Format {
  const char* name;
  const char* type;
  std::string bytes;
};

std::vector<Format> Formats() {
  std::vector<std::string> paragraphs(2000, Words(12));
  std::string html = "<html><head><title>t</title><script>var x;</script></head><body>";
  std::string odt_body;
  for (const std::string& p : paragraphs) {
    html += "<p>" + p + "</p>";
    odt_body += "<text:p>" + p + "</text:p>";
  }
  html += "</body></html>";
  std::string mail =
      "From: a@example.com\r\nTo: b@example.com\r\nSubject: bench\r\nMIME-Version: 1.0\r\n"
      "Content-Type: text/plain; charset=utf-8\r\n\r\n";
  for (int i = 0; i < 1000; ++i) mail += Words(10) + "\r\n";
  std::string rtf = "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0 Arial;}}";
  for (int i = 0; i < 2000; ++i)
    rtf += "\\f0 " + std::string("plain words here ") + "\\'c4\\'e3\\par ";
  rtf += "}";
  return {
      {"TXT", "TXT", Words(20000)},
      {"HTML", "HTML", html},
      {"EML", "EML", mail},
      {"RTF", "RTF", rtf},
      {"DOCX", "DOCX", lun::MakeDocx(paragraphs)},
      {"ODT", "ODT",
       lun::MakeZip({{"content.xml",
                      "<office:document-content xmlns:office=\"o\" xmlns:text=\"t\"><office:body>"
                      "<office:text>" +
                          odt_body +
                          "</office:text></office:body>"
                          "</office:document-content>"}})},
      {"PDF (1 page)", "PDF", lun::MakePdf("Hello PDF benchmark page with a line of text")},
      {"PDF GBK/WinAnsi", "PDF", lun::MakeWinAnsiPdf("#D0#A1#B1#EA#CB#CE_GB2312", GbkText(10))},
      {"PPT", "PPT", PowerPoint(paragraphs)},
      {"MP3 (ID3v2)", "MP3", Id3Mp3()},
      {"FLAC", "FLAC", lun::MakeFlac({"TITLE=" + Words(5), "ARTIST=" + Words(2), "ALBUM=x"})},
      {"JPEG EXIF", "JPG", lun::MakeJpegWithExif()},
      {"ZIP (50 DOCX)", "ZIP", ZipOfDocx(50)},
  };
}

// 10 folders of 200 messages, a tenth with an HTML body and one text
// attachment each.
std::string OutlookStore() {
  std::vector<lun::TestPstFolder> folders;
  for (int f = 0; f < 10; ++f) {
    lun::TestPstFolder folder{"folder " + std::to_string(f), {}, {}};
    for (int m = 0; m < 200; ++m) {
      lun::TestPstMessage message{
          "subject " + Words(6), "张三", "李四; Bob", Words(120), "", 1700000000 + m, {}, 0};
      if (m % 10 == 0) {
        message.html = "<p>" + Words(120) + "</p>";
        message.body.clear();
        message.attachments = {{"notes.txt", Words(60)}};
      }
      folder.messages.push_back(message);
    }
    folders.push_back(folder);
  }
  return lun::MakeTestPst(folders);
}

void BenchOutlookStore() {
  lun::ScratchDir dir;
  const std::string path = dir.File("bench.pst");
  const std::string bytes = OutlookStore();
  if (bytes.empty() || lun::ReplaceFileAtomically(lun::DefaultFileSystem(), path, bytes) != 0) {
    std::fprintf(stderr, "cannot write the Outlook data file\n");
    return;
  }
  const auto start = Clock::now();
  int runs = 0;
  size_t messages = 0, chars = 0;
  while (Seconds(start) < 2.0) {
    messages = chars = 0;
    lun::WalkMailStore(
        path, path, {}, [](std::string_view type) { return type == "TXT"; },
        [&](const lun::ArchiveMember& m) {
          ++messages;
          chars += m.text.size();
          return true;
        });
    ++runs;
  }
  const double s = Seconds(start);
  std::printf("%-14s %10.1f %12zu %10.1f %10.2f %14.2f   (%zu messages: %.0f messages/s)\n",
              "PST (2000 msg)", bytes.size() / 1024.0, chars, runs / s,
              runs * bytes.size() / s / 1e6, runs * chars / s / 1e6, messages, runs * messages / s);
}

// Seconds per page of text recognition, on a page drawn by `render`.
void BenchRecognition(const std::string& render) {
  lun::ScratchDir dir;
  const std::string page = dir.File("page.png");
  std::string command = "'" + render + "' '" + page + "'";
  for (int i = 0; i < 12; ++i) {
    command += i % 2 ? " '季度销售报告第" + std::to_string(i) + "页 桌面搜索全文检索'"
                     : " 'Quarterly budget review line " + std::to_string(i) + " of the report'";
  }
  std::string image;
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0 ||
      lun::ReadWholeFile(lun::DefaultFileSystem(), page, &image) != 0) {
    std::fprintf(stderr, "cannot draw the page with %s\n", render.c_str());
    return;
  }
  std::vector<double> seconds;
  size_t chars = 0;
  for (int i = 0; i < 3; ++i) {
    const auto start = Clock::now();
    chars = lun::RecognizeImageText(image, lun::kServiceTextLimit, 120000).text.size();
    seconds.push_back(Seconds(start));
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf(
      "\ntext recognition (tesseract chi_sim+eng), one page of 12 lines, %.0f KB PNG:\n"
      "  %.2f s per page (min %.2f, max %.2f of 3), %zu characters read\n",
      image.size() / 1024.0, seconds[1], seconds[0], seconds[2], chars);
}

}  // namespace

int main(int argc, char** argv) {
  std::string render;
  if (argc >= 3 && std::string(argv[1]) == "--render") {
    render = argv[2];
    argc -= 2;
    argv += 2;
  }
  std::printf("%-14s %10s %12s %10s %10s %14s\n", "format", "input KB", "text chars", "docs/s",
              "input MB/s", "Mchars/s out");
  for (const Format& f : Formats()) {
    const auto start = Clock::now();
    int runs = 0;
    size_t chars = 0;
    while (Seconds(start) < 1.0) {
      chars = TextChars(f.bytes, f.type);
      ++runs;
    }
    const double s = Seconds(start);
    std::printf("%-14s %10.1f %12zu %10.1f %10.2f %14.2f\n", f.name, f.bytes.size() / 1024.0, chars,
                runs / s, runs * f.bytes.size() / s / 1e6, runs * chars / s / 1e6);
  }
  BenchOutlookStore();
  if (!render.empty()) BenchRecognition(render);
  if (argc < 2) return 0;

  const int files = argc > 2 ? std::atoi(argv[2]) : 2000;
  lun::ScratchDir dir;
  std::vector<std::string> paths;
  for (int i = 0; i < files; ++i) {
    paths.push_back(dir.File("f" + std::to_string(i) + ".txt"));
    (void)lun::ReplaceFileAtomically(lun::DefaultFileSystem(), paths.back(), Words(400));
  }
  auto start = Clock::now();
  size_t in_process = 0;
  for (const std::string& p : paths)
    in_process += lun::ExtractFileText(p, lun::kServiceTextLimit).text.size();
  const double local_s = Seconds(start);

  const uint16_t port = lun::FreeLoopbackPort();
  lun::CrawlServiceClientOptions options;
  options.executable = argv[1];
  options.port = port;
  options.extra_arguments = {"--port", std::to_string(port)};
  options.connect_retry_ms = 50;
  options.after_launch_ms = 100;
  lun::CrawlServiceClient client(options);
  if (!client.Launch()) {
    std::fprintf(stderr, "cannot start %s\n", argv[1]);
    return 1;
  }
  start = Clock::now();
  size_t served = 0;
  int failures = 0;
  std::u16string text;
  for (const std::string& p : paths) {
    if (client.Extract(p, &text) == lun::CrawlOutcome::kText) {
      served += text.size();
    } else {
      ++failures;
    }
  }
  const double service_s = Seconds(start);
  client.SendExit();
  // The same number of small DOCX files: these go through a worker process.
  std::vector<std::string> docx;
  for (int i = 0; i < files / 4; ++i) {
    docx.push_back(dir.File("d" + std::to_string(i) + ".docx"));
    (void)lun::ReplaceFileAtomically(lun::DefaultFileSystem(), docx.back(),
                                     lun::MakeDocx({Words(40), Words(40)}));
  }
  lun::CrawlServiceClient client2(options);
  client2.Launch();
  start = Clock::now();
  int docx_failures = 0;
  for (const std::string& p : docx) {
    if (client2.Extract(p, &text) != lun::CrawlOutcome::kText) ++docx_failures;
  }
  const double docx_s = Seconds(start);
  client2.SendExit();
  std::printf("\n%d text files of %zu bytes\n", files, Words(400).size());
  std::printf("in process:   %8.0f files/s (%zu chars)\n", files / local_s, in_process);
  std::printf("via luncrawl: %8.0f files/s (%zu chars, %d failures), %.3f ms per round trip\n",
              files / service_s, served, failures, service_s * 1000 / files);
  std::printf("docx via luncrawl (worker per file): %8.0f files/s (%d failures), %.3f ms each\n",
              docx.size() / docx_s, docx_failures, docx_s * 1000 / docx.size());
  return 0;
}
