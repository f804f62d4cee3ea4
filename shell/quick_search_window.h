// The quick search window: a small always-on-top window docked at the right
// edge of the screen that runs a query on the engine directly (not through
// the web server) on every change of its text and lists up to 25 hits.
//
// Query: an empty text gives "[文档]:"; otherwise, when "在内容中快速搜索" is
// "TRUE", "[文档]:文本内容=(T)+文件名称=(T) order by 相关度 desc", else
// "[文档]:文件名称=(T) order by 相关度 desc". A failed query leaves the list
// empty and the status line blank, without a message.
//
// Docking: the window starts docked at the right edge. While docked and not
// the active window, a cursor outside the window slides it out so that a
// 5-pixel strip stays visible at its edge; the cursor over the strip brings
// it back. Dragging
// the window within 5 pixels of the left, right or top edge docks it there.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_QUICK_SEARCH_WINDOW_H_
#define LUN_SHELL_QUICK_SEARCH_WINDOW_H_

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace lun {

class SearchService;
class ShellBackend;

inline constexpr int kQuickSearchLimit = 25;

// The query for `text` (already trimmed).
std::string QuickSearchQuery(std::string_view text, bool in_content);

// Replaces every "\r\n\r\n" by "\r\n" until none is left (so blank lines
// vanish), then drops one trailing line break.
std::string CollapseBlankLines(std::string text);

// The status line: "在内容中搜索到N结果,耗时S秒" or "在文件中搜索到N结果,耗时S秒".
QString QuickSearchStatus(bool in_content, uint32_t count, double seconds);

struct QuickHit {
  std::string path;
  std::string text;  // "文本内容", blank lines collapsed
  int64_t record = -1;
};

struct QuickSearchResult {
  bool ok = false;  // the query ran
  uint32_t count = 0;
  double seconds = 0;
  std::vector<QuickHit> hits;  // at most kQuickSearchLimit
};

// Runs the quick query for `text` on `search`.
QuickSearchResult RunQuickSearch(SearchService& search, std::string_view text, bool in_content);

// "Search.shl?SearchText=...&IDCODE=..." and the other pages of a hit: the
// search text is percent-encoded as UTF-8.
std::string EncodeQueryText(std::string_view text);

// The edge a window is docked to.
enum class DockEdge { kNone, kLeft, kRight, kTop };

// The edge a window at `frame` on `screen` docks to: within 5 pixels of the
// left, right or top edge (tested in that order), else none.
DockEdge DockEdgeOf(const QRect& frame, const QRect& screen);

// Where a window docked to `edge` stands while slid out: only 5 pixels of
// it remain on `screen`.
QPoint HiddenPosition(const QRect& frame, const QRect& screen, DockEdge edge);

class QuickSearchWindow : public QWidget {
  Q_OBJECT

 public:
  // `backend` must outlive the window.
  explicit QuickSearchWindow(ShellBackend& backend);

  // Shows the window (placing it at the right edge the first time), clears
  // the text and searches with the empty text.
  void ShowAndSearch();
  // Runs the search for the current text.
  void Search();

  // Adds a button that opens `menu` (the command menu, for desktops without
  // a tray). `menu` must outlive the window.
  void SetCommandMenu(QMenu* menu);

  // The context menu's commands on the item of `row`.
  enum ItemCommand {
    kOpen = 32796,
    kFolder = 32798,
    kSnapshot = 32797,
    kSame = 32799,
    kHistory = 32800
  };
  void RunItemCommand(int command, int row);
  // The "桌面搜索" button.
  void OpenFullSearch();

  QLineEdit* edit() { return &edit_; }
  QListWidget* list() { return &list_; }
  QLabel* status() { return &status_; }
  QMenu* item_menu() { return &item_menu_; }
  DockEdge dock_edge() const { return dock_; }
  bool slid_out() const { return slid_out_; }
  // One tick of the auto-hide watch, with the cursor at `cursor`.
  void WatchCursor(const QPoint& cursor);

 signals:
  // Double-click on a hit: its path and recorded text.
  void PreviewRequested(const QString& path, const QString& text);

 protected:
  void moveEvent(QMoveEvent* event) override;

 private:
  void RunSearch();
  void AddHit(const QuickHit& hit);
  void PlaceAtRightEdge();
  void SlideOut();
  void SlideIn();
  // Moves the window without taking the move for a drag.
  void MoveBy(const QPoint& to);
  QRect ScreenArea() const;

  ShellBackend& backend_;
  QLineEdit edit_;
  QPushButton full_search_;
  QListWidget list_;
  QLabel status_;
  QToolButton menu_button_;
  QMenu item_menu_;
  QTimer dock_timer_;
  // One search at a time: a change arriving while a search runs (from a
  // nested event loop) asks for one more run instead of interleaving.
  std::mutex search_mutex_;
  bool search_again_ = false;
  bool placed_ = false;
  bool moving_ = false;
  bool slid_out_ = false;
  DockEdge dock_ = DockEdge::kRight;
  QPoint shown_position_;
};

}  // namespace lun

#endif  // LUN_SHELL_QUICK_SEARCH_WINDOW_H_
