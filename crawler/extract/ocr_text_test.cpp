// Text recognition in pictures and scanned PDF pages, with a stand-in for
// the engine program (a script that answers a fixed text or never ends), so
// that the wiring, the switch and the limits are tested on any machine. The
// real engine reads real pictures in tests/crawl_service.
#include "crawler/extract/ocr_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "crawler/extract/extract_test_util.h"
#include "crawler/extract/text_filters.h"
#include "platform/file_system.h"
#include "platform/scratch_dir.h"

namespace lun {
namespace {

constexpr char kPng[] = "\x89PNG\r\n\x1a\n";

// Installs a script as the engine program for the life of the object and
// restores the settings after.
class FakeEngine {
 public:
  FakeEngine(const ScratchDir& dir, const std::string& body, bool enabled = true) {
    const std::string path = dir.File("fake-tesseract");
    EXPECT_EQ(ReplaceFileAtomically(DefaultFileSystem(), path, "#!/bin/sh\n" + body + "\n"), 0);
    chmod(path.c_str(), 0755);
    OcrSettings settings = saved_;
    settings.enabled = enabled;
    settings.program = path;
    SetOcrSettings(settings);
  }
  ~FakeEngine() { SetOcrSettings(saved_); }

 private:
  OcrSettings saved_ = GetOcrSettings();
};

// The engine's answer: Chinese spaced out character by character, a blank
// line too many and the page's form feed.
constexpr char kAnswer[] =
    "cat >/dev/null; printf '季 度 销 售 报告\\n\\n\\n\\nQuarterly budget\\n\\f'";
constexpr char16_t kTidyAnswer[] = u"季度销售报告\n\nQuarterly budget";

TEST(OcrTextTest, TidiesTheEnginesOutput) {
  struct Case {
    std::u16string_view in;
    std::u16string_view out;
  };
  for (const Case& c : {
           Case{u"季 度  销售", u"季度销售"},                    // blanks inside Chinese go
           Case{u"budget 季 度 report", u"budget 季度 report"},  // beside Latin they stay
           Case{u"a\n\n\n\nb\n\f", u"a\n\nb"},                   // one empty line at most
           Case{u"，  中", u"，中"},                             // CJK punctuation counts
           Case{u"x\u0001y  ", u"x y"},                          // control characters scrubbed
       }) {
    EXPECT_EQ(TidyRecognizedText(c.in), c.out);
  }
}

TEST(OcrTextTest, PicturesGiveTextOnlyWhileRecognitionIsOn) {
  ScratchDir dir;
  const std::string png = dir.File("scan.png");
  const std::string jpg = dir.File("photo.jpg");
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), png, kPng), 0);
  ASSERT_EQ(ReplaceFileAtomically(DefaultFileSystem(), jpg, MakeJpegWithExif()), 0);
  const std::u16string metadata = ExtractFileText(jpg, 1000).text;
  {
    FakeEngine engine(dir, kAnswer, /*enabled=*/false);
    EXPECT_FALSE(HasReader(png));
    EXPECT_EQ(ExtractFileText(png, 1000).status, ExtractStatus::kUnsupported);
    EXPECT_TRUE(HasReader(jpg));  // a photo still has its metadata
    EXPECT_EQ(ExtractFileText(jpg, 1000).text, metadata);
  }
  ASSERT_FALSE(metadata.empty());
  FakeEngine engine(dir, kAnswer);
  EXPECT_TRUE(HasReader(png));
  const ExtractResult scan = ExtractFileText(png, 1000);
  EXPECT_EQ(scan.status, ExtractStatus::kOk);
  EXPECT_EQ(scan.text, kTidyAnswer);
  EXPECT_EQ(ExtractFileText(jpg, 1000).text, metadata + u"\n" + kTidyAnswer);
  for (const char* type : {"PNG", "JPEG", "TIF", "TIFF", "BMP", "GIF"}) {
    EXPECT_EQ(ExtractBytesText(kPng, type, 1000).text, kTidyAnswer) << type;
  }
  EXPECT_EQ(ExtractBytesText(kPng, "PNG", 6).text, u"季度销售报告");  // the limit holds
}

// A page without a text layer is drawn and read; a page with text is not.
TEST(OcrTextTest, ScannedPdfPagesAreRecognised) {
  ScratchDir dir;
  FakeEngine engine(dir, kAnswer);
  EXPECT_EQ(ExtractBytesText(MakePdf(""), "PDF", 1000).text, kTidyAnswer);
  EXPECT_EQ(ExtractBytesText(MakePdf("Hello PDF"), "PDF", 1000).text, u"Hello PDF");
}

TEST(OcrTextTest, AnEngineThatNeverEndsIsStoppedAtItsLimit) {
  ScratchDir dir;
  FakeEngine engine(dir, "exec sleep 600");
  OcrSettings settings = GetOcrSettings();
  settings.image_deadline_ms = 300;
  settings.file_budget_ms = 500;
  SetOcrSettings(settings);
  const ExtractResult picture = ExtractBytesText(kPng, "PNG", 1000);
  EXPECT_EQ(picture.status, ExtractStatus::kPartial);
  EXPECT_TRUE(picture.text.empty());
  // A photo keeps its metadata when the engine is stopped.
  EXPECT_FALSE(ExtractBytesText(MakeJpegWithExif(), "JPG", 1000).text.empty());
  // A scanned document stops reading pictures once its budget is spent,
  // keeping the text of its pages.
  const ExtractResult pdf = ExtractBytesText(MakePdf(""), "PDF", 1000);
  EXPECT_EQ(pdf.status, ExtractStatus::kPartial);
}

TEST(OcrTextTest, AFailingOrMissingEngineGivesAStatus) {
  ScratchDir dir;
  {
    FakeEngine engine(dir, "cat >/dev/null; echo half; exit 3");
    EXPECT_EQ(RecognizeImageText(kPng, 1000, 5000).status, ExtractStatus::kPartial);
  }
  OcrSettings settings = GetOcrSettings();
  const OcrSettings saved = settings;
  settings.program = dir.File("no-such-program");
  SetOcrSettings(settings);
  EXPECT_NE(RecognizeImageText(kPng, 1000, 5000).status, ExtractStatus::kOk);
  SetOcrSettings(saved);
}

}  // namespace
}  // namespace lun
