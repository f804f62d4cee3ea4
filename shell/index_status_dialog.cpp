#include "shell/index_status_dialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/index_operations.h"
#include "shell/shell_backend.h"
#include "shell/shell_controller.h"

namespace lun {

namespace {

constexpr int kRefreshMs = 500;
constexpr int kTicksPerOversizeCount = 10;
// Rows of the drop-down: 高速, 正常, 低速.
constexpr int kModeOfRow[] = {1, 0, 2};

}  // namespace

int SpeedRowOfMode(int mode) {
  for (int row = 0; row < 3; ++row) {
    if (kModeOfRow[row] == mode) return row;
  }
  return -1;
}

int SpeedModeOfRow(int row) { return row >= 0 && row < 3 ? kModeOfRow[row] : -1; }

IndexStatusDialog::IndexStatusDialog(ShellBackend& backend,
                                     std::function<void(const std::string&)> open_page)
    : backend_(backend) {
  setWindowTitle(QStringLiteral("索引状态"));
  setWindowIcon(ApplicationIcon());
  setModal(true);
  counts_.setText(QStringLiteral("扫描：0，索引：0"));
  counts_.setObjectName(QStringLiteral("static203"));
  index_label_.setText(QStringLiteral("正在索引："));
  index_label_.setObjectName(QStringLiteral("static1001"));
  for (QLabel* path : {&index_path_, &scan_path_}) {
    path->setMinimumWidth(360);
    // A long path must not stretch the window on every tick.
    path->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
  }
  index_path_.setObjectName(QStringLiteral("static204"));
  scan_path_.setObjectName(QStringLiteral("static207"));
  speed_.addItems({QStringLiteral("高速"), QStringLiteral("正常"), QStringLiteral("低速")});
  speed_.setObjectName(QStringLiteral("combo205"));
  run_.setText(QStringLiteral("索  引"));
  run_.setCheckable(true);
  run_.setObjectName(QStringLiteral("button206"));

  oversize_.setObjectName(QStringLiteral("oversize"));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(&counts_);
  layout->addWidget(&watching_);
  layout->addWidget(&oversize_);
  auto* paths = new QFormLayout;
  paths->addRow(&index_label_, &index_path_);
  paths->addRow(QStringLiteral("预先扫描："), &scan_path_);
  layout->addLayout(paths);
  auto* controls = new QHBoxLayout;
  controls->addWidget(&speed_);
  controls->addStretch(1);
  controls->addWidget(&run_);
  layout->addLayout(controls);
  status_page_.setText(QStringLiteral("详细状态"));
  diagnosis_.setText(QStringLiteral("索引诊断"));
  auto* pages = new QHBoxLayout;
  pages->addWidget(&status_page_);
  pages->addWidget(&diagnosis_);
  pages->addStretch(1);
  layout->addLayout(pages);
  connect(&status_page_, &QPushButton::clicked, this, [open_page] { open_page("Status.shl"); });
  connect(&diagnosis_, &QPushButton::clicked, this, [open_page] { open_page("Diagnose.shl"); });

  const IndexActivity activity = backend_.operations().Activity();
  run_.setChecked(activity.can_index && !activity.paused);
  speed_.setCurrentIndex(activity.can_index ? SpeedRowOfMode(static_cast<int>(activity.speed))
                                            : -1);
  speed_.setEnabled(activity.can_index);
  run_.setEnabled(activity.can_index);
  connect(&run_, &QPushButton::toggled, this,
          [this](bool checked) { backend_.operations().SetPaused(!checked); });
  connect(&speed_, &QComboBox::activated, this, [this](int row) {
    const int mode = SpeedModeOfRow(row);
    if (mode >= 0) backend_.operations().SetSpeedMode(static_cast<SpeedMode>(mode));
  });
  timer_.setInterval(kRefreshMs);
  connect(&timer_, &QTimer::timeout, this, &IndexStatusDialog::Refresh);
  connect(this, &QDialog::finished, &timer_, &QTimer::stop);
  timer_.start();
  Refresh();
}

void IndexStatusDialog::RefreshWatching(const IndexActivity& activity) {
  QString text = QString::fromStdString(activity.watch_status);
  QString unwatched;
  for (const std::string& tree : activity.unwatched) {
    unwatched += QString::fromStdString(tree) + QLatin1Char('\n');
  }
  if (activity.reconcile_checked) {
    if (!text.isEmpty()) text += QStringLiteral("，");
    text += QStringLiteral("正在核对索引: %1").arg(*activity.reconcile_checked);
  }
  watching_.setText(text);
  watching_.setToolTip(unwatched.trimmed());
}

void IndexStatusDialog::Refresh() {
  const IndexActivity activity = backend_.operations().Activity();
  {
    const QSignalBlocker quiet(&run_);
    run_.setChecked(activity.can_index && !activity.paused);
  }
  counts_.setText(QStringLiteral("扫描：%1，索引：%2").arg(activity.queued).arg(activity.indexed));
  RefreshWatching(activity);
  if (ticks_++ % kTicksPerOversizeCount == 0) {
    const int oversize = backend_.operations().OversizeDocuments();
    oversize_.setText(
        oversize < 0 ? QString()
                     : QStringLiteral("超过 20 MB、只按名称和属性索引的文件：%1").arg(oversize));
  }
  // Records are checked against older ones unless the table is being filled
  // from empty (fast insert).
  index_label_.setText(activity.deduplicating ? QStringLiteral("正在索引：(自动去重)")
                                              : QStringLiteral("正在索引："));
  if (activity.paused) {
    index_path_.setText(QStringLiteral("已暂停"));
    scan_path_.setText(QStringLiteral("已暂停"));
  } else if (activity.can_index) {
    index_path_.setText(QString::fromStdString(activity.index_position));
    scan_path_.setText(QString::fromStdString(activity.scan_position));
  }
}

}  // namespace lun
