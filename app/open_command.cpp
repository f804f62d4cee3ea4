#include "app/open_command.h"

#include <cstdio>
#include <cstdlib>

#include "app/instance_socket.h"

namespace lun {
namespace {

constexpr std::string_view kOpenVerb = "OPEN";
constexpr std::string_view kOkPrefix = "OK ";
// Starting a program takes a moment; the instance answers at once after.
constexpr int kAskTimeoutMs = 10000;

}  // namespace

std::string OpenRequestLine(std::string_view query) {
  std::string line(kOpenVerb);
  if (query.empty()) return line;
  line.push_back(' ');
  for (char c : query) line.push_back(c == '\n' || c == '\r' ? ' ' : c);
  return line;
}

bool ParseOpenRequest(std::string_view line, std::string* query) {
  if (line == kOpenVerb) {
    query->clear();
    return true;
  }
  if (!line.starts_with(kOpenVerb) || line.size() <= kOpenVerb.size() ||
      line[kOpenVerb.size()] != ' ') {
    return false;
  }
  query->assign(line.substr(kOpenVerb.size() + 1));
  return true;
}

std::vector<std::string> BrowserCommand(const std::string& url) {
  const char* browser = std::getenv("LUN_BROWSER");
  if (browser != nullptr && *browser != '\0') return {browser, url};
  return {"xdg-open", url};
}

std::string AnswerOpenRequest(const std::string& url,
                              const std::function<bool(const std::vector<std::string>&)>& launch) {
  if (url.empty()) return "ERROR 网页服务没有运行";
  const std::vector<std::string> command = BrowserCommand(url);
  if (!launch(command)) return "ERROR 无法启动浏览器: " + command.front();
  return std::string(kOkPrefix) + url;
}

int RunOpenCommand(const std::string& home, std::string_view query) {
  std::string answer;
  if (!AskInstance(home, OpenRequestLine(query), &answer, kAskTimeoutMs)) {
    std::fprintf(stderr, "lun: 没有正在运行的 lun (%s)\n", home.c_str());
    return 1;
  }
  while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
  if (!answer.starts_with(kOkPrefix)) {
    std::fprintf(stderr, "lun: %s\n", answer.c_str());
    return 1;
  }
  std::printf("%s\n", answer.substr(kOkPrefix.size()).c_str());
  return 0;
}

}  // namespace lun
