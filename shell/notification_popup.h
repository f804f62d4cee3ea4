// Notification popups: small windows that slide up from the bottom-right
// corner of the screen with a title and a message, stay five seconds and
// fade out. A click fades the popup out at once and is reported by
// PopupCenter::Clicked, so that the shell can open what the notice is about.
//
// Five slots decide how high a popup stands: a new popup takes the first
// free slot, or slot 0 when all five are taken (it then overlaps the popup
// already there). A popup frees its slot when it closes.
//
// Thread safety: user-interface thread only (QtUserInterface marshals
// notices from other threads here).
#ifndef LUN_SHELL_NOTIFICATION_POPUP_H_
#define LUN_SHELL_NOTIFICATION_POPUP_H_

#include <QIcon>
#include <QPointer>
#include <QPropertyAnimation>
#include <QRect>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <array>

namespace lun {

// The slot table: which of the five heights are taken.
class PopupSlots {
 public:
  static constexpr int kCount = 5;
  // The first free slot, or 0 when every slot is taken; marks it taken.
  int Take();
  void Free(int slot);
  bool taken(int slot) const { return taken_[slot]; }

 private:
  std::array<bool, kCount> taken_{};
};

class NotificationPopup : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kWidth = 200;
  static constexpr int kHeight = 120;
  static constexpr int kRisePerTick = 3;
  static constexpr int kTickMs = 10;
  static constexpr int kShowMs = 5000;
  static constexpr int kFadeMs = 500;
  static constexpr int kEarlyFadeMs = 800;

  // Where a popup of `slot` starts (below the work area's bottom) before it
  // slides up by its own height.
  static QPoint StartPosition(const QRect& work_area, int slot);

  NotificationPopup(const QString& title, const QString& message, int slot, const QIcon& icon);

  // Places the popup and starts sliding it in.
  void Start(const QRect& work_area);
  // Fades the popup out and closes it (500 ms; 800 ms while still sliding).
  void FadeOut();

  int slot() const { return slot_; }
  const QString& title() const { return title_; }
  const QString& message() const { return message_; }

 signals:
  void Closed(int slot);
  // The user clicked the popup (it fades out).
  void Clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void Rise();

  QString title_;
  QString message_;
  int slot_;
  QIcon icon_;
  int risen_ = 0;
  bool fading_ = false;
  QTimer slide_timer_;
  QTimer stay_timer_;
  QPropertyAnimation fade_;
};

// Owns the slot table and shows popups on the primary screen.
class PopupCenter : public QObject {
  Q_OBJECT

 public:
  explicit PopupCenter(QIcon icon, QObject* parent = nullptr);
  ~PopupCenter() override;

  // Takes a slot and shows a popup; returns it (it deletes itself when it
  // has faded out).
  NotificationPopup* Show(const QString& title, const QString& message);
  // Closes every popup at once (at exit).
  void CloseAll();

  const PopupSlots& slot_table() const { return slots_; }

 signals:
  // A popup was clicked; `title` is its title.
  void Clicked(const QString& title);

 private:
  QIcon icon_;
  PopupSlots slots_;
  std::vector<QPointer<NotificationPopup>> open_;
};

}  // namespace lun

#endif  // LUN_SHELL_NOTIFICATION_POPUP_H_
