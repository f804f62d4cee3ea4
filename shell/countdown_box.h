// The count-down message box: a message box that closes itself when its
// time runs out.
//
// With a time-out of 0 it is a plain message box. Otherwise its caption is
// "%s, 剩余时间: %d秒" (the caption, the whole seconds left), updated once a
// second; when the time runs out the box closes and returns kTimedOut (0),
// which the exit dialogue takes as consent. A box closed by the user returns
// the button pressed (kAnswerOk, kAnswerYes, kAnswerNo, kAnswerCancel); the
// window's close button and Escape give No, Cancel or OK, whichever the box
// has.
//
// The box is application-modal and stays on top. A timer of the event loop
// counts down, so no thread is needed.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_COUNTDOWN_BOX_H_
#define LUN_SHELL_COUNTDOWN_BOX_H_

#include <QMessageBox>
#include <QString>
#include <QTimer>
#include <functional>

#include "app/user_interface.h"

namespace lun {

// "caption, 剩余时间: N秒".
QString CountdownCaption(const QString& caption, int seconds_left);

class CountdownBox : public QMessageBox {
  Q_OBJECT

 public:
  CountdownBox(const QString& caption, const QString& text, int milliseconds, BoxButtons buttons,
               QMessageBox::Icon icon, QWidget* parent = nullptr);

  // Shows the box modally; returns a BoxAnswer.
  int Run();

 private:
  void Tick();

  QString caption_;
  int seconds_left_;
  QTimer timer_;
};

// Shows a count-down box and returns its answer.
int ShowCountdown(const QString& caption, const QString& text, int milliseconds, BoxButtons buttons,
                  QMessageBox::Icon icon = QMessageBox::Information);

// How the shell's windows ask the user a question (ShowCountdown for real;
// tests answer without a window).
using AskFunction = std::function<int(const QString& caption, const QString& text, int milliseconds,
                                      BoxButtons buttons, QMessageBox::Icon icon)>;

}  // namespace lun

#endif  // LUN_SHELL_COUNTDOWN_BOX_H_
