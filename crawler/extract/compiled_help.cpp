#include "crawler/extract/compiled_help.h"

#include <chm_lib.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "crawler/extract/html_text.h"
#include "platform/process.h"

namespace lun {
namespace {

// The child's frames on the pipe, all integers in host order:
//   opened   1 byte: 1 when chm_open succeeded, 0 otherwise (then nothing more)
//   page     uint32 path length (1-512), the inner path, uint64 size, the bytes
//   end      uint32 0xFFFFFFFF
constexpr uint32_t kEndOfPages = 0xFFFFFFFFu;

bool IsPageName(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return false;
  const std::string ext(path.substr(dot + 1));
  return strcasecmp(ext.c_str(), "htm") == 0 || strcasecmp(ext.c_str(), "html") == 0;
}

struct ChildWalk {
  int fd;
};

int SendEntry(struct chmFile* chm, struct chmUnitInfo* ui, void* context) {
  const int fd = static_cast<ChildWalk*>(context)->fd;
  const std::string_view inner(ui->path);
  // Entries starting with "#" or "$" are the file's own tables, not pages.
  if (inner.size() < 2 || inner[0] != '/' || inner[1] == '#' || inner[1] == '$' ||
      !IsPageName(inner) || ui->length > kCompiledHelpMaxPage) {
    return CHM_ENUMERATOR_CONTINUE;
  }
  std::vector<unsigned char> bytes(static_cast<size_t>(ui->length));
  const LONGINT64 got =
      ui->length == 0 ? 0
                      : chm_retrieve_object(chm, ui, bytes.data(), 0,
                                            static_cast<LONGINT64>(ui->length));
  // A page that cannot be read is skipped; the walk goes on.
  if (got < 0 || static_cast<uint64_t>(got) != ui->length) return CHM_ENUMERATOR_CONTINUE;
  const uint32_t path_len = static_cast<uint32_t>(inner.size());
  const uint64_t size = ui->length;
  const bool ok = WriteAllToFd(fd, &path_len, sizeof path_len) && WriteAllToFd(fd, inner.data(), path_len) &&
                  WriteAllToFd(fd, &size, sizeof size) && WriteAllToFd(fd, bytes.data(), bytes.size());
  return ok ? CHM_ENUMERATOR_CONTINUE : CHM_ENUMERATOR_FAILURE;
}

[[noreturn]] void RunChild(int fd, const char* path) {
  struct chmFile* chm = chm_open(path);
  const unsigned char opened = chm ? 1 : 0;
  WriteAllToFd(fd, &opened, 1);
  if (chm) {
    ChildWalk walk{fd};
    chm_enumerate(chm, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, &SendEntry, &walk);
    chm_close(chm);
    WriteAllToFd(fd, &kEndOfPages, sizeof kEndOfPages);
  }
  _exit(0);
}

// Reads exactly `n` bytes from the child. False on end of data, an error,
// silence past the limit, or a raised stop flag.
bool ReadExactly(int fd, void* buf, size_t n, const std::atomic<bool>* stop) {
  char* p = static_cast<char*>(buf);
  int64_t deadline = MonotonicMs() + kCompiledHelpSilenceMs;
  while (n > 0) {
    if (stop && stop->load()) return false;
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    struct pollfd pfd{fd, POLLIN, 0};
    // Wake now and then to look at the stop flag.
    const int rc = poll(&pfd, 1, static_cast<int>(left < 200 ? left : 200));
    if (rc < 0 && errno != EINTR) return false;
    if (rc <= 0) continue;
    const ssize_t got = read(fd, p, n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    n -= static_cast<size_t>(got);
    deadline = MonotonicMs() + kCompiledHelpSilenceMs;
  }
  return true;
}

}  // namespace

std::string CompiledHelpKey(std::string_view chm_path, std::string_view inner_path) {
  std::string key = kCompiledHelpKeyPrefix;
  key.append(chm_path);
  key.append("::");
  if (inner_path.empty() || inner_path[0] != '/') key.push_back('/');
  key.append(inner_path);
  return key;
}

bool ForEachCompiledHelpPage(const std::string& chm_path, const std::atomic<bool>* stop,
                             const std::function<bool(const CompiledHelpPage&)>& on_page) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (pid == 0) {
    close(fds[0]);
    RunChild(fds[1], chm_path.c_str());
  }
  close(fds[1]);
  unsigned char opened = 0;
  const bool is_chm = ReadExactly(fds[0], &opened, 1, stop) && opened == 1;
  while (is_chm) {
    uint32_t path_len = 0;
    if (!ReadExactly(fds[0], &path_len, sizeof path_len, stop) || path_len == kEndOfPages ||
        path_len == 0 || path_len > CHM_MAX_PATHLEN) {
      break;
    }
    std::string inner(path_len, '\0');
    uint64_t size = 0;
    if (!ReadExactly(fds[0], inner.data(), path_len, stop) ||
        !ReadExactly(fds[0], &size, sizeof size, stop) || size > kCompiledHelpMaxPage) {
      break;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!ReadExactly(fds[0], bytes.data(), bytes.size(), stop)) break;
    CompiledHelpPage page;
    page.name = inner.substr(inner.rfind('/') + 1);
    page.key = CompiledHelpKey(chm_path, inner);
    page.size = size;
    TextSink sink(kFilterTextLimit);
    HtmlToText(bytes, &sink);
    std::u16string& text = sink.text();
    while (!text.empty() && text.back() == u'\n') text.pop_back();
    page.text = sink.Take();
    if (!on_page(page)) break;
  }
  close(fds[0]);
  kill(pid, SIGKILL);  // done, stopped or stuck: the child goes either way
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  return is_chm;
}

}  // namespace lun
