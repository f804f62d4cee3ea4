// The file preview window: shows the text of a file dropped on it (or of a
// quick-search hit). Always on top, centred on the screen, read-only.
//
// Only the first of several dropped files is previewed. A file whose text
// cannot be extracted shows its path and "<未能提取出文本>" on the next line.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_FILE_PREVIEW_WINDOW_H_
#define LUN_SHELL_FILE_PREVIEW_WINDOW_H_

#include <QList>
#include <QPlainTextEdit>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <string>

namespace lun {

inline constexpr char kNoTextNote[] = "<未能提取出文本>";

// Where a preview's text comes from.
using PreviewTextSource = std::function<std::u16string(const std::string& path)>;

// The text of the file at `path` through the in-process filters only (plain
// text, web pages, mail files); empty when they yield none. A running lun
// previews through IndexOperations::DocumentText, which asks the crawl service
// for the other types.
std::u16string PreviewTextOf(const std::string& path);

class FilePreviewWindow : public QWidget {
  Q_OBJECT

 public:
  explicit FilePreviewWindow(PreviewTextSource text_of = PreviewTextOf);

  // Shows the window centred on the screen (only the first time it is
  // placed).
  void ShowCentered();
  // Extracts and shows the text of `path`.
  void PreviewPath(const QString& path);
  // Shows `text` as the text of `path` (a recorded text).
  void ShowText(const QString& path, const QString& text);
  // A drop of `urls`: the first local file is previewed, the rest ignored.
  void DropUrls(const QList<QUrl>& urls);

  QPlainTextEdit* view() { return &view_; }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  PreviewTextSource text_of_;
  QPlainTextEdit view_;
  bool placed_ = false;
};

}  // namespace lun

#endif  // LUN_SHELL_FILE_PREVIEW_WINDOW_H_
