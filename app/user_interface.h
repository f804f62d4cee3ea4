// The one way the application core talks to the user: notices, count-down
// message boxes, the tray tip and the first-run wizard.
//
// The desktop shell implements it with windows; headless mode (no display,
// or --headless) with lines on standard output and in the engine log. The
// core never knows which one it has, and never includes a widget toolkit.
//
// Thread safety: every member may be called from any thread (crawler,
// monitor and mail threads raise notices); an implementation that must show
// windows on one thread marshals the call there.
#ifndef LUN_APP_USER_INTERFACE_H_
#define LUN_APP_USER_INTERFACE_H_

#include <mutex>
#include <string>
#include <string_view>

namespace lun {

class SettingsStore;

// The buttons of a count-down message box.
enum class BoxButtons { kOk, kYesNo, kYesNoCancel };

// The answers of a count-down message box. kTimedOut is 0: a box that closed
// itself when its time ran out (the exit dialogue takes it as consent).
enum BoxAnswer { kTimedOut = 0, kAnswerOk = 1, kAnswerCancel = 2, kAnswerYes = 6, kAnswerNo = 7 };

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A notification popup with a title and a text. Never blocks.
  virtual void Notify(std::string_view title, std::string_view text) = 0;

  // A message box that closes itself after `milliseconds` (0: only when the
  // user closes it) and returns the answer: the button pressed, or
  // kTimedOut. Blocks the calling thread while it is shown.
  virtual int Countdown(std::string_view caption, std::string_view text, int milliseconds,
                        BoxButtons buttons) = 0;

  // The tip of the tray icon (at most 63 characters are shown).
  virtual void SetTip(std::string_view tip) = 0;

  // The first-run wizard "系统初始化": lets the user choose the settings of a
  // new installation and writes them into `settings`. Returns when done.
  virtual void RunFirstRunWizard(SettingsStore& settings) = 0;

  // True when the interface has a settings window that itself offers the
  // rescan after the user changed the document types. Otherwise (the pages
  // are the only settings there are) the application asks when a type list
  // gains a type.
  virtual bool OffersRescanItself() const { return false; }
};

// The interface of a process without a display: a notice or a box becomes a
// line on standard output and in the engine log, a box takes its default
// answer at once (kTimedOut, the answer of a box nobody touched), the wizard
// keeps the defaults (first_run_defaults.h) and the tip is only remembered.
class HeadlessInterface : public UserInterface {
 public:
  void Notify(std::string_view title, std::string_view text) override;
  int Countdown(std::string_view caption, std::string_view text, int milliseconds,
                BoxButtons buttons) override;
  void SetTip(std::string_view tip) override;
  void RunFirstRunWizard(SettingsStore& settings) override;

  std::string tip() const;

 private:
  void Say(std::string_view kind, std::string_view title, std::string_view text);

  mutable std::mutex tip_mutex_;
  std::string tip_;
};

}  // namespace lun

#endif  // LUN_APP_USER_INTERFACE_H_
