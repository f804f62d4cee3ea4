// lun: the desktop search application.
//
//   lun [--home DIR] [--headless] [--port N] [--help] [--version]
//   lun [--home DIR] --index-once ROOT...
//   lun [--home DIR] --open [QUERY]
//   lun search QUERY... [--home DIR] [--limit N] [--json] [--files-only]
//
// With a display (and the desktop shell built) the shell runs the
// application: tray icon, quick search, windows. Headless (no display, or
// --headless) it runs the start-up sequence, prints the address of the
// search pages and keeps the index current until it is asked to end
// (SIGINT, SIGTERM), then runs the shutdown sequence. With --index-once it indexes the given
// folders into the index of the home, printing progress, and ends when they
// are done. A second start with the same application home
// ends at once, silently, with status 0.
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/explain_command.h"
#include "app/instance_answer.h"
#include "app/instance_socket.h"
#include "app/open_command.h"
#include "app/search_command.h"
#include "app/update_handover.h"
#if defined(LUN_HAVE_DESKTOP_SHELL)
#include "shell/desktop_shell.h"
#endif
#include "app/user_interface.h"
#include "platform/paths.h"

namespace {

constexpr char kUsage[] =
    "用法: lun [--home 目录] [--headless] [--port 端口] [--help] [--version]\n"
    "      lun [--home 目录] --index-once 文件夹...\n"
    "      lun [--home 目录] --open [查询]\n"
    "      lun search 查询... [--home 目录] [--limit N] [--json] [--files-only]\n"
    "      lun --explain 路径 [--home 目录]   说明文件是否在索引范围内, 不在时为什么\n"
    "  --home 目录   应用目录 (默认: $LUN_HOME, 否则 ~/.local/share/tamrix-lun)\n"
    "  --headless    不显示桌面界面, 通知写到标准输出和日志\n"
    "  --port 端口   本次运行使用的网页端口 (不写入设置)\n"
    "  --index-once  把给出的文件夹索引一次后退出 (显示进度)\n"
    "  --open        让正在运行的 lun 在浏览器中打开首页或查询结果\n"
    "  --help        显示本说明\n"
    "  --version     显示版本\n";

struct CommandLine {
  std::string home;
  bool headless = false;
  std::optional<uint16_t> port;
  bool help = false;
  bool version = false;
  std::vector<std::string> index_once;  // folders of --index-once
  std::optional<std::string> open;      // --open and its query ("" for none)
};

std::string AbsolutePath(const std::string& path) {
  std::error_code ignored;
  std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
  while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
  return absolute;
}

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
    } else if (arg == "--index-once") {
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
        line.index_once.push_back(AbsolutePath(argv[++i]));
      }
      if (line.index_once.empty()) {
        std::fprintf(stderr, "lun: --index-once 需要至少一个文件夹\n");
        return std::nullopt;
      }
    } else if (arg == "--open") {
      // The words after it, up to the next option, are the query.
      std::string query;
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0) {
        if (!query.empty()) query.push_back(' ');
        query += argv[++i];
      }
      line.open = std::move(query);
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

// The signals that ask lun to end: SIGINT, SIGTERM, SIGHUP.
sigset_t EndSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  return signals;
}

// Waits up to `ms` for an end signal; true when one came.
bool EndSignalWithin(int ms) {
  const sigset_t signals = EndSignals();
  const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
  return sigtimedwait(&signals, nullptr, &wait) > 0;
}

// The one-shot indexing: progress once a second until the folders are done
// (or an end signal comes). Returns the exit status.
int IndexOnce(lun::Application& app, const std::vector<std::string>& roots) {
  for (const std::string& root : roots) {
    const std::string why = app.scope().WhyRootSkipped(root);
    if (!why.empty()) std::printf("跳过 %s: %s\n", root.c_str(), why.c_str());
  }
  const auto start = std::chrono::steady_clock::now();
  bool interrupted = false;
  while (!app.IndexingDone()) {
    if (EndSignalWithin(1000)) {
      interrupted = true;
      break;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%6.1f 秒: 已索引 %llu 个文件, 等待 %u 个\n", seconds,
                static_cast<unsigned long long>(app.files_indexed()), app.files_waiting());
    std::fflush(stdout);
  }
  const uint64_t indexed = app.files_indexed();
  app.Shutdown();  // finishes the entry in hand and flushes the indexes
  std::printf("%s: 已索引 %llu 个文件\n", interrupted ? "已中断" : "完成",
              static_cast<unsigned long long>(indexed));
  return interrupted ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "search") == 0) {
    return lun::RunSearchCommand({argv + 2, argv + argc});
  }
  if (argc >= 2 && std::strcmp(argv[1], "--explain") == 0) {
    return lun::RunExplainCommand({argv + 2, argv + argc});
  }
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
  if (line->open) return lun::RunOpenCommand(lun::ResolveApplicationHome(line->home), *line->open);
  lun::ApplicationOptions options;
  options.home = lun::ResolveApplicationHome(line->home);
  options.port = line->port;
  options.argv.assign(argv, argv + argc);
  options.index_once_roots = line->index_once;
  // The crawl service serves one lun at a time; several instances of lun
  // with homes of their own (tests run side by side) each need their own.
  if (const char* crawl_port = std::getenv("LUN_CRAWL_PORT")) {
    const long port = std::strtol(crawl_port, nullptr, 10);
    if (port > 0 && port < 65536) options.crawl_service_port = static_cast<uint16_t>(port);
  }
  // A staged update takes over before anything else runs (the home is set
  // first, so that a failed hand-over is logged where the user looks).
  if (!lun::SetApplicationHome(options.home)) {
    std::fprintf(stderr, "lun: 无法创建应用目录: %s\n", options.home.c_str());
    return 1;
  }
  if (lun::HandOverPendingUpdate(options.home)) return 0;
#if defined(LUN_HAVE_DESKTOP_SHELL)
  // With a display the desktop shell runs the application on its event loop.
  if (!line->headless && line->index_once.empty() && lun::DesktopAvailable()) {
    return lun::RunDesktopShell(options, argc, argv);
  }
#endif
  // The end signals are only taken by waiting for them: block them before
  // any thread starts, so that every thread inherits the mask.
  const sigset_t signals = EndSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  // A client that goes away mid-answer must not end the process.
  signal(SIGPIPE, SIG_IGN);

  lun::HeadlessInterface ui;
  lun::Application app(options, ui);
  if (!app.Startup()) return 0;
  if (!line->index_once.empty()) return IndexOnce(app, line->index_once);
  // Other starts of lun (`lun search`, `lun --open`) ask this one through
  // lun.socket.
  lun::InstanceSocketServer instance_socket;
  (void)instance_socket.Listen(options.home, [&app](std::string_view request) {
    return lun::AnswerInstanceRequest(app, request);
  });
  const std::string url = app.HomeUrl();
  if (url.empty()) {
    std::printf("网页服务未能启动, 搜索页面不可用。\n");
  } else {
    std::printf("搜索页面: %s\n", url.c_str());
  }
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  instance_socket.Stop();
  app.Shutdown();
  return 0;
}
