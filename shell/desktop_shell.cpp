#include "shell/desktop_shell.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdlib>

#include "app/instance_answer.h"
#include "shell/countdown_box.h"
#include "shell/instance_channel.h"
#include "shell/notification_popup.h"
#include "shell/password_check.h"
#include "shell/qt_user_interface.h"
#include "shell/shell_backend.h"
#include "shell/shell_controller.h"

namespace lun {

namespace {

// The real backend, which also tells the user interface that the shell is
// closing before the shutdown sequence waits for the crawler's threads.
class DesktopBackend : public ApplicationBackend {
 public:
  DesktopBackend(Application& app, bool manage_autostart, QtUserInterface& ui)
      : ApplicationBackend(app, manage_autostart), ui_(ui) {}
  void Shutdown() override {
    ui_.BeginClosing();
    ApplicationBackend::Shutdown();
  }

 private:
  QtUserInterface& ui_;
};

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

bool DesktopAvailable() { return Set("DISPLAY") || Set("WAYLAND_DISPLAY"); }

int RunDesktopShell(const ApplicationOptions& options, int argc, char** argv) {
  // The end signals are read from a descriptor on the event loop: blocked
  // before any thread starts, so that every thread inherits the mask.
  sigset_t end_signals;
  sigemptyset(&end_signals);
  sigaddset(&end_signals, SIGINT);
  sigaddset(&end_signals, SIGTERM);
  sigaddset(&end_signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &end_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  QApplication qt(argc, argv);
  QApplication::setQuitOnLastWindowClosed(false);
  QApplication::setApplicationName(QStringLiteral("lun"));
  QApplication::setDesktopFileName(QStringLiteral("lun"));
  QApplication::setWindowIcon(ApplicationIcon());

  if (InstanceChannel::AskRunningInstance(options.home, kQuickSearchRequest)) return 0;

  const AskFunction ask = [](const QString& caption, const QString& text, int ms,
                             BoxButtons buttons, QMessageBox::Icon icon) {
    return ShowCountdown(caption, text, ms, buttons, icon);
  };
  PopupCenter popups(ApplicationIcon());
  QtUserInterface ui(popups, ask);
  Application app(options, ui);
  DesktopBackend backend(app, options.manage_autostart, ui);
  DialogPasswordPrompter passwords;
  ShellController controller(backend, popups, passwords, ask);
  ui.Attach(&backend, &controller);
  InstanceChannel channel;
  QObject::connect(&controller, &ShellController::QuitRequested, &qt, &QCoreApplication::quit);
  QObject::connect(&channel, &InstanceChannel::QuickSearchRequested, &controller,
                   [&controller] { controller.ShowQuickSearch(); });

  const int signal_fd = signalfd(-1, &end_signals, SFD_CLOEXEC | SFD_NONBLOCK);
  std::unique_ptr<QSocketNotifier> signal_notifier;
  if (signal_fd >= 0) {
    signal_notifier = std::make_unique<QSocketNotifier>(signal_fd, QSocketNotifier::Read);
    QObject::connect(signal_notifier.get(), &QSocketNotifier::activated, &controller,
                     [signal_fd, &controller] {
                       signalfd_siginfo info;
                       while (read(signal_fd, &info, sizeof info) == sizeof info) {
                       }
                       controller.Exit();
                     });
  }

  bool started = false;
  QTimer::singleShot(0, &controller, [&] {
    if (!app.Startup()) {
      QCoreApplication::exit(0);
      return;
    }
    started = true;
    controller.AddTrayIcon();
    channel.SetRequestHandler(
        [&app](std::string_view request) { return AnswerInstanceRequest(app, request); });
    (void)channel.Listen(options.home);
    // Without a tray host the quick search window is the way in.
    if (!controller.tray_visible()) controller.ShowQuickSearch();
  });
  const int code = QApplication::exec();
  signal_notifier.reset();
  if (signal_fd >= 0) close(signal_fd);
  if (started) backend.Shutdown();
  return code;
}

}  // namespace lun
