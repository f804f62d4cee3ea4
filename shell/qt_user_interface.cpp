#include "shell/qt_user_interface.h"

#include <QCoreApplication>
#include <QThread>
#include <memory>

#include "shell/notification_popup.h"
#include "shell/settings_window.h"
#include "shell/shell_controller.h"

namespace lun {

namespace {

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon IconOf(BoxButtons buttons) {
  return buttons == BoxButtons::kOk ? QMessageBox::Warning : QMessageBox::Question;
}

}  // namespace

QtUserInterface::QtUserInterface(PopupCenter& popups, AskFunction ask)
    : popups_(popups), ask_(std::move(ask)) {}

void QtUserInterface::Attach(ShellBackend* backend, ShellController* controller) {
  backend_ = backend;
  controller_ = controller;
}

void QtUserInterface::BeginClosing() {
  std::lock_guard lock(mutex_);
  closing_ = true;
  answered_.notify_all();
}

bool QtUserInterface::OnUiThread() const { return QThread::currentThread() == thread(); }

void QtUserInterface::Notify(std::string_view title, std::string_view text) {
  QMetaObject::invokeMethod(
      this, [this, t = Q(title), m = Q(text)] { popups_.Show(t, m); }, Qt::QueuedConnection);
}

int QtUserInterface::Countdown(std::string_view caption, std::string_view text, int milliseconds,
                               BoxButtons buttons) {
  const QString c = Q(caption);
  const QString t = Q(text);
  if (OnUiThread()) return ask_(c, t, milliseconds, buttons, IconOf(buttons));
  // The answer travels back through shared state rather than a blocking
  // queued call: the UI thread may itself be waiting for this thread (the
  // shutdown joins the crawler's threads), and then the box must give way.
  struct Answer {
    bool done = false;
    int value = kTimedOut;
  };
  auto answer = std::make_shared<Answer>();
  {
    std::lock_guard lock(mutex_);
    if (closing_) return kTimedOut;
  }
  QMetaObject::invokeMethod(
      this,
      [this, answer, c, t, milliseconds, buttons] {
        {
          // The asking thread has given up on a closing shell.
          std::lock_guard lock(mutex_);
          if (closing_) return;
        }
        const int value = ask_(c, t, milliseconds, buttons, IconOf(buttons));
        std::lock_guard lock(mutex_);
        answer->value = value;
        answer->done = true;
        answered_.notify_all();
      },
      Qt::QueuedConnection);
  std::unique_lock lock(mutex_);
  answered_.wait(lock, [&] { return answer->done || closing_; });
  return answer->done ? answer->value : kTimedOut;
}

void QtUserInterface::SetTip(std::string_view tip) {
  QMetaObject::invokeMethod(
      this,
      [this, text = Q(tip)] {
        if (controller_) controller_->SetStatusTip(text);
      },
      Qt::QueuedConnection);
}

void QtUserInterface::RunFirstRunWizard(SettingsStore& /*settings*/) {
  // The pages write through the backend's store, which is this one (the
  // process-wide store); the wizard runs during start-up, on this thread.
  if (!backend_ || !OnUiThread()) return;
  FirstRunWizard wizard(*backend_, ask_);
  wizard.exec();
}

}  // namespace lun
