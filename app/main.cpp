// lun: the desktop search application.
//
//   lun [--home DIR] [--headless] [--port N] [--help] [--version]
//
// Runs the start-up sequence, prints the address of the search pages and
// keeps the index current until it is asked to end (SIGINT, SIGTERM), then
// runs the shutdown sequence. A second start with the same application home
// ends at once, silently, with status 0.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "app/application.h"
#include "app/update_handover.h"
#include "app/user_interface.h"
#include "platform/paths.h"

namespace {

constexpr char kUsage[] =
    "用法: lun [--home 目录] [--headless] [--port 端口] [--help] [--version]\n"
    "  --home 目录   应用目录 (默认: $LUN_HOME, 否则 ~/.local/share/tamrix-lun)\n"
    "  --headless    不显示桌面界面, 通知写到标准输出和日志\n"
    "  --port 端口   本次运行使用的网页端口 (不写入设置)\n"
    "  --help        显示本说明\n"
    "  --version     显示版本\n";

struct CommandLine {
  std::string home;
  bool headless = false;
  std::optional<uint16_t> port;
  bool help = false;
  bool version = false;
};

// Parses the arguments; nullopt (after a message) when they are wrong.
std::optional<CommandLine> ParseCommandLine(int argc, char** argv) {
  CommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--home" && has_value) {
      line.home = argv[++i];
    } else if (arg == "--port" && has_value) {
      char* end = nullptr;
      const long port = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || port < 1 || port > 65535) {
        std::fprintf(stderr, "lun: 端口无效: %s\n", argv[i]);
        return std::nullopt;
      }
      line.port = static_cast<uint16_t>(port);
    } else if (arg == "--headless") {
      line.headless = true;
    } else if (arg == "--help") {
      line.help = true;
    } else if (arg == "--version") {
      line.version = true;
    } else {
      std::fprintf(stderr, "lun: 未知参数: %s\n%s", arg.c_str(), kUsage);
      return std::nullopt;
    }
  }
  return line;
}

// Waits for SIGINT, SIGTERM or SIGHUP: the ways a headless lun is asked to end.
void WaitForEndSignal() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  int received = 0;
  sigwait(&signals, &received);
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<CommandLine> line = ParseCommandLine(argc, argv);
  if (!line) return 2;
  if (line->help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (line->version) {
    std::printf("lun %s\n", lun::kLocalVersion);
    return 0;
  }
  // The end signals are taken by WaitForEndSignal only: block them before
  // any thread starts, so that every thread inherits the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A client that goes away mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);

  lun::ApplicationOptions options;
  options.home = lun::ResolveApplicationHome(line->home);
  options.port = line->port;
  options.argv.assign(argv, argv + argc);
  // A staged update takes over before anything else runs (the home is set
  // first, so that a failed hand-over is logged where the user looks).
  if (!lun::SetApplicationHome(options.home)) {
    std::fprintf(stderr, "lun: 无法创建应用目录: %s\n", options.home.c_str());
    return 1;
  }
  if (lun::HandOverPendingUpdate(options.home)) return 0;
  lun::HeadlessInterface ui;
  lun::Application app(options, ui);
  if (!app.Startup()) return 0;
  const std::string url = app.HomeUrl();
  if (url.empty()) {
    std::printf("网页服务未能启动, 搜索页面不可用。\n");
  } else {
    std::printf("搜索页面: %s\n", url.c_str());
  }
  std::fflush(stdout);
  WaitForEndSignal();
  app.Shutdown();
  return 0;
}
