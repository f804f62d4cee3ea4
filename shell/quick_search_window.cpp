#include "shell/quick_search_window.h"

#include <QApplication>
#include <QCursor>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QMimeDatabase>
#include <QMoveEvent>
#include <QScreen>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>

#include "app/index_operations.h"
#include "automation/variant.h"
#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "crawler/document_table.h"
#include "engine/query/recordset.h"
#include "engine/query/search_service.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "shell/shell_backend.h"
#include "shell/shell_controller.h"

namespace lun {

namespace {

constexpr int kDockMargin = 5;
constexpr int kStripWidth = 5;
constexpr int kRightInset = 6;
constexpr int kWatchMs = 500;
constexpr int kEditLimit = 2047;
constexpr int kFullSearchTextLimit = 199;
constexpr int kWindowWidth = 300;
constexpr int kWindowHeight = 520;
constexpr int kLabelTextUnits = 80;

enum ItemRole { kPathRole = Qt::UserRole, kTextRole, kRecordRole };

// Replaces `from` by `to` until no `from` is left.
void ReplaceAll(std::string* text, std::string_view from, std::string_view to) {
  size_t at;
  while ((at = text->find(from)) != std::string::npos) text->replace(at, from.size(), to);
}

std::string ColumnText(const Recordset& rows, int column) {
  if (column < 0) return {};
  std::u16string text;
  if (ToText(rows.Value(column), &text) != S_OK) return {};
  return ToNarrow(text);
}

QIcon IconFor(const QString& path) {
  const QFileInfo info(path);
  if (!info.exists()) return ApplicationIcon();
  static const QMimeDatabase mime_database;
  const QMimeType type = mime_database.mimeTypeForFile(info);
  // Without an icon theme the desktop has no file icons: the application's
  // stands in.
  for (const QString& name : {type.iconName(), type.genericIconName()}) {
    if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
  }
  return ApplicationIcon();
}

}  // namespace

std::string QuickSearchQuery(std::string_view text, bool in_content) {
  const std::string t(text);
  if (t.empty()) return "[文档]:";
  if (in_content) return "[文档]:文本内容=(" + t + ")+文件名称=(" + t + ") order by 相关度 desc";
  return "[文档]:文件名称=(" + t + ") order by 相关度 desc";
}

std::string CollapseBlankLines(std::string text) {
  // Stored text keeps the line breaks of its source: both forms collapse.
  ReplaceAll(&text, "\r\n\r\n", "\r\n");
  ReplaceAll(&text, "\n\n", "\n");
  if (text.ends_with("\r\n")) {
    text.resize(text.size() - 2);
  } else if (text.ends_with("\n")) {
    text.pop_back();
  }
  return text;
}

QString QuickSearchStatus(bool in_content, uint32_t count, double seconds) {
  return QStringLiteral("在%1中搜索到%2结果,耗时%3秒")
      .arg(in_content ? QStringLiteral("内容") : QStringLiteral("文件"))
      .arg(count)
      .arg(seconds, 0, 'f', 3);
}

QuickSearchResult RunQuickSearch(SearchService& search, std::string_view text, bool in_content) {
  QuickSearchResult result;
  std::unique_ptr<Recordset> rows;
  if (search.Search(QuickSearchQuery(text, in_content), &rows) != 0 || !rows) return result;
  result.ok = true;
  result.count = rows->count();
  result.seconds = rows->elapsed_seconds;
  const int text_column = rows->FindColumn(doc::kText);
  const int path_column = rows->FindColumn(doc::kPath);
  rows->MoveFirst();
  for (int i = 0; i < kQuickSearchLimit && !rows->IsEOF(); ++i, rows->MoveNext()) {
    QuickHit hit;
    hit.text = CollapseBlankLines(ColumnText(*rows, text_column));
    hit.path = ColumnText(*rows, path_column);
    hit.record = rows->RecordNumber();
    result.hits.push_back(std::move(hit));
  }
  return result;
}

std::string EncodeQueryText(std::string_view text) {
  return QUrl::toPercentEncoding(
             QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())))
      .toStdString();
}

DockEdge DockEdgeOf(const QRect& frame, const QRect& screen) {
  if (std::abs(frame.left() - screen.left()) <= kDockMargin) return DockEdge::kLeft;
  if (std::abs(frame.right() - screen.right()) <= kDockMargin) return DockEdge::kRight;
  if (std::abs(frame.top() - screen.top()) <= kDockMargin) return DockEdge::kTop;
  return DockEdge::kNone;
}

QPoint HiddenPosition(const QRect& frame, const QRect& screen, DockEdge edge) {
  switch (edge) {
    case DockEdge::kLeft:
      return QPoint(screen.left() - frame.width() + kStripWidth, frame.top());
    case DockEdge::kRight:
      return QPoint(screen.right() + 1 - kStripWidth, frame.top());
    case DockEdge::kTop:
      return QPoint(frame.left(), screen.top() - frame.height() + kStripWidth);
    case DockEdge::kNone:
      break;
  }
  return frame.topLeft();
}

QuickSearchWindow::QuickSearchWindow(ShellBackend& backend)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint), backend_(backend) {
  setWindowTitle(QStringLiteral("快速搜索"));
  setWindowIcon(ApplicationIcon());
  edit_.setMaxLength(kEditLimit);
  edit_.setObjectName(QStringLiteral("edit201"));
  full_search_.setText(QStringLiteral("桌面搜索"));
  full_search_.setObjectName(QStringLiteral("button1044"));
  list_.setObjectName(QStringLiteral("list210"));
  list_.setIconSize(QSize(16, 16));
  list_.setContextMenuPolicy(Qt::CustomContextMenu);
  list_.setWordWrap(false);
  list_.setTextElideMode(Qt::ElideRight);
  list_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  status_.setObjectName(QStringLiteral("static202"));
  menu_button_.setText(QStringLiteral("菜单"));
  menu_button_.setPopupMode(QToolButton::InstantPopup);
  menu_button_.hide();

  auto* top = new QHBoxLayout;
  top->addWidget(&edit_, 1);
  top->addWidget(&full_search_);
  top->addWidget(&menu_button_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addLayout(top);
  layout->addWidget(&list_, 1);
  layout->addWidget(&status_);

  const struct {
    int command;
    const char* text;
  } kItems[] = {{kOpen, "打开"},
                {kFolder, "所在目录"},
                {kSnapshot, "内容快照"},
                {kSame, "相同文件"},
                {kHistory, "历史版本"}};
  for (const auto& item : kItems) {
    QAction* a = item_menu_.addAction(QString::fromUtf8(item.text));
    a->setData(item.command);
  }

  connect(&edit_, &QLineEdit::textChanged, this, &QuickSearchWindow::Search);
  connect(&full_search_, &QPushButton::clicked, this, &QuickSearchWindow::OpenFullSearch);
  connect(&list_, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
    emit PreviewRequested(item->data(kPathRole).toString(), item->data(kTextRole).toString());
  });
  connect(&list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
    QListWidgetItem* item = list_.itemAt(at);
    if (!item) return;
    const int row = list_.row(item);
    if (QAction* chosen = item_menu_.exec(list_.viewport()->mapToGlobal(at))) {
      RunItemCommand(chosen->data().toInt(), row);
    }
  });
  dock_timer_.setInterval(kWatchMs);
  connect(&dock_timer_, &QTimer::timeout, this, [this] { WatchCursor(QCursor::pos()); });
}

void QuickSearchWindow::SetCommandMenu(QMenu* menu) {
  menu_button_.setMenu(menu);
  menu_button_.show();
}

QRect QuickSearchWindow::ScreenArea() const {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
}

void QuickSearchWindow::PlaceAtRightEdge() {
  const QRect area = ScreenArea();
  const int height = std::min(kWindowHeight, area.height());
  resize(kWindowWidth, height);
  MoveBy(QPoint(area.right() + 1 - kRightInset - kWindowWidth, area.bottom() + 1 - height));
  dock_ = DockEdge::kRight;
}

void QuickSearchWindow::ShowAndSearch() {
  if (!placed_) {
    PlaceAtRightEdge();
    placed_ = true;
  }
  if (slid_out_) SlideIn();
  show();
  raise();
  activateWindow();
  dock_timer_.start();
  const bool was_empty = edit_.text().isEmpty();
  edit_.clear();
  // Clearing an empty edit changes nothing and so searches nothing.
  if (was_empty) Search();
  edit_.setFocus();
}

void QuickSearchWindow::Search() {
  std::unique_lock lock(search_mutex_, std::try_to_lock);
  if (!lock.owns_lock()) {
    search_again_ = true;
    return;
  }
  do {
    search_again_ = false;
    RunSearch();
  } while (search_again_);
}

void QuickSearchWindow::RunSearch() {
  QToolTip::hideText();
  list_.clear();
  status_.clear();
  SearchService* search = backend_.operations().search();
  if (!search) return;
  const std::string text = edit_.text().trimmed().toStdString();
  const bool in_content =
      backend_.settings().GetValue(kSearchSection, key::kQuickSearchContent) == kTrue;
  const QuickSearchResult result = RunQuickSearch(*search, text, in_content);
  if (!result.ok) return;
  status_.setText(QuickSearchStatus(in_content, result.count, result.seconds));
  for (const QuickHit& hit : result.hits) AddHit(hit);
}

void QuickSearchWindow::AddHit(const QuickHit& hit) {
  const QString path = QString::fromStdString(hit.path);
  const QString text = QString::fromStdString(hit.text);
  QString name = QFileInfo(path).fileName();
  if (name.isEmpty()) name = path;
  // One line per hit: the file's name, then the start of its text.
  QString line = text.left(kLabelTextUnits).simplified();
  auto* item = new QListWidgetItem(IconFor(path), line.isEmpty() ? name : name + "  " + line);
  item->setData(kPathRole, path);
  item->setData(kTextRole, text);
  item->setData(kRecordRole, static_cast<qlonglong>(hit.record));
  item->setToolTip(path + "\n" + text.left(400));
  list_.addItem(item);
}

void QuickSearchWindow::OpenFullSearch() {
  const std::string text = edit_.text().left(kFullSearchTextLimit).trimmed().toStdString();
  backend_.Open(backend_.PageBaseUrl() + "Search.shl?SearchText=" + EncodeQueryText(text) +
                "&IDCODE=" + backend_.SessionCode());
}

void QuickSearchWindow::RunItemCommand(int command, int row) {
  const QListWidgetItem* item = list_.item(row);
  if (!item) return;
  const std::string path = item->data(kPathRole).toString().toStdString();
  const std::string record = std::to_string(item->data(kRecordRole).toLongLong());
  const std::string code = "&IDCODE=" + backend_.SessionCode();
  const std::string base = backend_.PageBaseUrl();
  switch (command) {
    case kOpen:
      backend_.Open(path);
      break;
    case kFolder:
      backend_.Open(DirName(path));
      break;
    case kSnapshot:
      backend_.Open(base + "ShowFile.shl?RecordNO=" + record + "&SearchText=*" +
                    EncodeQueryText(edit_.text().trimmed().toStdString()) + code);
      break;
    case kSame:
      backend_.Open(base + "Same.shl?RecordNO=" + record + code);
      break;
    case kHistory:
      backend_.Open(base + "History.shl?RecordNO=" + record + code);
      break;
    default:
      break;
  }
}

void QuickSearchWindow::MoveBy(const QPoint& to) {
  moving_ = true;
  move(to);
  moving_ = false;
}

void QuickSearchWindow::moveEvent(QMoveEvent* event) {
  QWidget::moveEvent(event);
  // Only the user's drags decide docking; the window's own moves (placing,
  // sliding) arrive here too, possibly later, from the window manager.
  if (moving_ || slid_out_ || !isVisible()) return;
  const QRect area = ScreenArea();
  if (pos() == QPoint(area.right() + 1 - kRightInset - width(), pos().y())) return;
  dock_ = DockEdgeOf(frameGeometry(), area);
}

void QuickSearchWindow::WatchCursor(const QPoint& cursor) {
  if (dock_ == DockEdge::kNone || !isVisible()) return;
  // A menu of the window (the item menu) is open over the desktop.
  if (QApplication::activePopupWidget()) return;
  const bool inside = frameGeometry().contains(cursor);
  // A window the user is typing in stays, wherever the cursor is: shown
  // from the tray, it would otherwise slide away before the cursor got to
  // it.
  if (!slid_out_ && !inside && !isActiveWindow()) {
    SlideOut();
  } else if (slid_out_ && inside) {
    SlideIn();
  }
}

void QuickSearchWindow::SlideOut() {
  shown_position_ = pos();
  slid_out_ = true;
  MoveBy(HiddenPosition(frameGeometry(), ScreenArea(), dock_));
}

void QuickSearchWindow::SlideIn() {
  MoveBy(shown_position_);
  slid_out_ = false;
}

}  // namespace lun
