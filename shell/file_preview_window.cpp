#include "shell/file_preview_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QScreen>
#include <QVBoxLayout>

#include "crawler/extract/text_filters.h"
#include "platform/text.h"
#include "shell/shell_controller.h"

namespace lun {

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

}  // namespace

std::u16string PreviewTextOf(const std::string& path) {
  ExtractResult filtered = FilterText(path);
  return filtered.has_text() ? std::move(filtered.text) : std::u16string();
}

FilePreviewWindow::FilePreviewWindow(PreviewTextSource text_of)
    : QWidget(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), text_of_(std::move(text_of)) {
  setWindowTitle(QStringLiteral("文件预览"));
  setWindowIcon(ApplicationIcon());
  setAcceptDrops(true);
  view_.setReadOnly(true);
  // The window, not the text view, takes the drops.
  view_.setAcceptDrops(false);
  view_.setObjectName(QStringLiteral("view212"));
  view_.setPlainText(QStringLiteral("把文件拖放进来即可快速预览文本。"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(&view_);
  resize(kWidth, kHeight);
}

void FilePreviewWindow::ShowCentered() {
  if (!placed_) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
    placed_ = true;
  }
  show();
  raise();
  activateWindow();
}

void FilePreviewWindow::PreviewPath(const QString& path) {
  const std::u16string text = text_of_(path.toStdString());
  ShowText(path, QString::fromStdU16String(text));
}

void FilePreviewWindow::ShowText(const QString& path, const QString& text) {
  setWindowTitle(QStringLiteral("文件预览: ") + path);
  if (text.isEmpty()) {
    view_.setPlainText(path + "\n" + QString::fromUtf8(kNoTextNote));
  } else {
    view_.setPlainText(text);
  }
  view_.setFocus();
}

void FilePreviewWindow::DropUrls(const QList<QUrl>& urls) {
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) {
      PreviewPath(url.toLocalFile());
      return;
    }
  }
}

void FilePreviewWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void FilePreviewWindow::dropEvent(QDropEvent* event) {
  DropUrls(event->mimeData()->urls());
  event->acceptProposedAction();
}

}  // namespace lun
