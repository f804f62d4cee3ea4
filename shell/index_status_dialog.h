// The index status window: the crawler's progress (queued and indexed
// counts, the paths being indexed and pre-scanned), the speed drop-down and
// the push-like pause button, refreshed every 500 ms; the change monitor's
// watched directories with the trees it could not watch (listed in the
// tooltip: they are reconciled on a timer instead) and the progress of a
// reconciliation; and how many files are
// over the size limit of text reading (found by name only), counted when the
// window opens and every 5 s, as it reads the whole table.
//
// Two buttons open the web pages that say more: the status page
// ("详细状态", Status.shl) and the index diagnosis ("索引诊断", Diagnose.shl),
// through `open_page` with the page's name.
//
// Speed entries, in order: "高速" (mode 1), "正常" (mode 0), "低速" (mode 2).
// The button is checked while indexing runs; unchecking it pauses.
//
// Thread safety: user-interface thread only; the crawler's counters are
// read without locking (a momentarily stale value is fine).
#ifndef LUN_SHELL_INDEX_STATUS_DIALOG_H_
#define LUN_SHELL_INDEX_STATUS_DIALOG_H_

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>

namespace lun {

struct IndexActivity;
class ShellBackend;

// The drop-down row of a speed mode (-1 for a mode outside 0-2), and back.
int SpeedRowOfMode(int mode);
int SpeedModeOfRow(int row);

class IndexStatusDialog : public QDialog {
  Q_OBJECT

 public:
  // `backend` must outlive the dialog.
  IndexStatusDialog(ShellBackend& backend, std::function<void(const std::string&)> open_page);

  // One refresh (the timer's tick).
  void Refresh();

  QLabel* counts() { return &counts_; }
  QLabel* oversize() { return &oversize_; }
  QLabel* watching() { return &watching_; }
  QLabel* index_label() { return &index_label_; }
  QLabel* index_path() { return &index_path_; }
  QLabel* scan_path() { return &scan_path_; }
  QComboBox* speed() { return &speed_; }
  QPushButton* run_button() { return &run_; }
  QPushButton* status_page_button() { return &status_page_; }
  QPushButton* diagnosis_button() { return &diagnosis_; }

 private:
  void RefreshWatching(const IndexActivity& activity);

  ShellBackend& backend_;
  QLabel counts_;
  QLabel oversize_;
  QLabel watching_;
  int ticks_ = 0;
  QLabel index_label_;
  QLabel index_path_;
  QLabel scan_path_;
  QComboBox speed_;
  QPushButton run_;
  QPushButton status_page_;
  QPushButton diagnosis_;
  QTimer timer_;
};

}  // namespace lun

#endif  // LUN_SHELL_INDEX_STATUS_DIALOG_H_
