// Test fixture maker: draws lines of text, black on white, with a font of
// the machine, into an image file (PNG, JPEG, BMP: by the name's extension)
// or into a PDF page that holds the text only as a picture (no text layer),
// so that the text can be had only by reading the pixels.
//
//   render_text_image OUT LINE...
//
// Runs with the offscreen platform; needs no display.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QStringList>
#include <cstdio>

namespace {

QImage DrawLines(const QStringList& lines) {
  QFont font(QStringLiteral("WenQuanYi Micro Hei"));
  font.setPixelSize(56);
  const int line_height = 96;
  QImage image(1400, 60 + line_height * static_cast<int>(lines.size()), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  painter.setFont(font);
  painter.setPen(Qt::black);
  for (int i = 0; i < lines.size(); ++i) painter.drawText(40, 90 + i * line_height, lines[i]);
  return image;
}

bool WritePdf(const QString& path, const QImage& image) {
  QPdfWriter pdf(path);
  // The picture as a 300 dpi scan of text of ordinary size.
  pdf.setResolution(300);
  QPainter painter(&pdf);
  if (!painter.isActive()) return false;
  painter.drawImage(QPoint(0, 0), image);
  return painter.end();
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() < 3) {
    std::fprintf(stderr, "usage: render_text_image OUT LINE...\n");
    return 64;
  }
  const QString out = args[1];
  const QImage image = DrawLines(args.mid(2));
  const bool ok = out.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive) ? WritePdf(out, image)
                                                                            : image.save(out);
  if (!ok) std::fprintf(stderr, "render_text_image: cannot write %s\n", argv[1]);
  return ok ? 0 : 1;
}
