// The user-interface seam of the application core, implemented with the
// shell's windows: notices are popups, count-down boxes are CountdownBox,
// the tip goes to the tray icon, the first-run wizard is FirstRunWizard.
//
// Thread safety: every member may be called from any thread. Calls from
// other threads are carried to the user-interface thread; a count-down box
// asked from another thread blocks that thread until the user answers, or
// returns kTimedOut at once once the shell is closing (so that a crawler
// thread never keeps the shutdown waiting for a box nobody will see).
#ifndef LUN_SHELL_QT_USER_INTERFACE_H_
#define LUN_SHELL_QT_USER_INTERFACE_H_

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <mutex>

#include "app/user_interface.h"
#include "shell/countdown_box.h"

namespace lun {

class PopupCenter;
class ShellBackend;
class ShellController;

class QtUserInterface : public QObject, public UserInterface {
  Q_OBJECT

 public:
  // Create on the user-interface thread. `popups` must outlive this object.
  QtUserInterface(PopupCenter& popups, AskFunction ask);

  // The backend the wizard's pages use and the controller that owns the
  // tip; both must outlive this object (or be reset to null first).
  void Attach(ShellBackend* backend, ShellController* controller);
  // From now on boxes asked from other threads answer kTimedOut at once.
  void BeginClosing();

  void Notify(std::string_view title, std::string_view text) override;
  int Countdown(std::string_view caption, std::string_view text, int milliseconds,
                BoxButtons buttons) override;
  void SetTip(std::string_view tip) override;
  void RunFirstRunWizard(SettingsStore& settings) override;
  // The settings window asks after a type change (settings_window.h).
  bool OffersRescanItself() const override { return true; }

 private:
  bool OnUiThread() const;

  PopupCenter& popups_;
  AskFunction ask_;
  ShellBackend* backend_ = nullptr;
  QPointer<ShellController> controller_;
  std::mutex mutex_;
  std::condition_variable answered_;
  bool closing_ = false;
};

}  // namespace lun

#endif  // LUN_SHELL_QT_USER_INTERFACE_H_
