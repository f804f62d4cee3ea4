// How a second start of lun reaches the one already running: a local
// socket "lun.socket" in the application home (mode 0700, so only the user
// can connect). The second start sends one request line and ends; the
// running instance shows its quick search window. This is what the desktop
// entry does when lun runs already, and how a desktop without a tray host
// gets the window back. A search request (`lun search`, app/search_command.h)
// is answered on the same connection by the search handler.
//
// Thread safety: user-interface thread only.
#ifndef LUN_SHELL_INSTANCE_CHANNEL_H_
#define LUN_SHELL_INSTANCE_CHANNEL_H_

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <functional>
#include <string>
#include <string_view>

namespace lun {

inline constexpr char kQuickSearchRequest[] = "quick-search";

class InstanceChannel : public QObject {
  Q_OBJECT

 public:
  static QString SocketPath(const std::string& home);

  // Sends `request` to the instance running with `home`; true when one took
  // it (waits at most a second).
  static bool AskRunningInstance(const std::string& home, const char* request);

  // Listens in `home`, replacing a socket left by a run that died. Call only
  // while holding the instance lock of `home`. False when it cannot listen.
  bool Listen(const std::string& home);

  // Answers a request line that is not the quick search's; an empty answer
  // for a request it does not know.
  void SetRequestHandler(std::function<std::string(std::string_view)> handler) {
    handler_ = std::move(handler);
  }

 signals:
  void QuickSearchRequested();

 private:
  void Serve();

  QLocalServer server_;
  std::function<std::string(std::string_view)> handler_;
};

}  // namespace lun

#endif  // LUN_SHELL_INSTANCE_CHANNEL_H_
