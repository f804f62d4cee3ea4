// The local socket "lun.socket" in the application home, without the
// desktop shell: a running headless lun answers requests of other starts of
// lun on it (one request line, one answer, then the connection ends). The
// desktop shell listens on the same path with its own channel
// (shell/instance_channel.h) and answers the same requests.
//
// The socket is made with mode 0600 inside the home (0700), so only the
// user reaches it. Requests are served one after another on one thread.
#ifndef LUN_APP_INSTANCE_SOCKET_H_
#define LUN_APP_INSTANCE_SOCKET_H_

#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace lun {

// The longest request line taken; a longer one is cut off unanswered.
inline constexpr size_t kInstanceRequestLimit = 4096;

// The path of the socket of `home`.
std::string InstanceSocketPath(const std::string& home);

// Sends `request` (one line, without its line end) to the instance running
// with `home` and reads its whole answer into `*answer`. False when no
// instance listens or it does not answer within `timeout_ms`.
bool AskInstance(const std::string& home, std::string_view request, std::string* answer,
                 int timeout_ms);

class InstanceSocketServer {
 public:
  // Returns the answer to one request line (without its line end).
  using Handler = std::function<std::string(std::string_view request)>;

  InstanceSocketServer() = default;
  ~InstanceSocketServer();  // Stop()
  InstanceSocketServer(const InstanceSocketServer&) = delete;
  InstanceSocketServer& operator=(const InstanceSocketServer&) = delete;

  // Listens in `home`, replacing a socket left by a run that died (call only
  // while holding the instance lock of `home`), and serves on a thread of
  // its own. False when it cannot listen.
  bool Listen(const std::string& home, Handler handler);
  // Ends the serving thread and removes the socket.
  void Stop();

 private:
  void Serve();
  void ServeOne(int client);

  Handler handler_;
  std::string path_;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
};

}  // namespace lun

#endif  // LUN_APP_INSTANCE_SOCKET_H_
