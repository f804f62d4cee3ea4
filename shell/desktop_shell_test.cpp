#include "shell/desktop_shell.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "config/settings_keys.h"
#include "config/settings_store.h"
#include "platform/env_guard.h"
#include "platform/process.h"
#include "platform/scratch_dir.h"
#include "shell/instance_channel.h"

namespace lun {
namespace {

// A loopback port nobody listens on now.
uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

// Waits (at most 60 s) for `pid` to end; its exit status, or -1.
int WaitForExit(pid_t pid) {
  for (int i = 0; i < 6000; ++i) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

TEST(DesktopAvailableTest, NeedsADisplay) {
  EnvGuard env;
  env.Set("DISPLAY", nullptr);
  env.Set("WAYLAND_DISPLAY", "");
  EXPECT_FALSE(DesktopAvailable());
  env.Set("WAYLAND_DISPLAY", "wayland-0");
  EXPECT_TRUE(DesktopAvailable());
  env.Set("WAYLAND_DISPLAY", nullptr);
  env.Set("DISPLAY", ":0");
  EXPECT_TRUE(DesktopAvailable());
}

// The whole run: start-up on the event loop, a second start that reaches
// the first, and SIGTERM ending it with the shutdown sequence.
TEST(RunDesktopShellTest, StartsServesASecondStartAndEndsOnSigterm) {
  ScratchDir home;
  const std::string port = std::to_string(FreePort());
  const std::string probe = LUN_SHELL_PROBE;
  pid_t prepare = 0;
  ASSERT_EQ(SpawnProcess({probe, home.path(), port, "--prepare"}, {}, &prepare), 0);
  ASSERT_EQ(WaitForExit(prepare), 0);

  pid_t first = 0;
  ASSERT_EQ(SpawnProcess({probe, home.path(), port}, {}, &first), 0);
  const QString socket = InstanceChannel::SocketPath(home.path());
  bool listening = false;
  for (int i = 0; i < 6000 && !listening; ++i) {
    listening = access(socket.toUtf8().constData(), F_OK) == 0;
    if (!listening) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(listening) << "the shell never finished its start-up";

  pid_t second = 0;
  ASSERT_EQ(SpawnProcess({probe, home.path(), port}, {}, &second), 0);
  EXPECT_EQ(WaitForExit(second), 0);

  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(first), 0);
  // The shutdown saved the settings of this run.
  SettingsStore settings;
  ASSERT_TRUE(settings.Load(home.File("Setting")));
  EXPECT_FALSE(settings.GetValue(kSearchSection, key::kLocalUserId).empty());
}

}  // namespace
}  // namespace lun
