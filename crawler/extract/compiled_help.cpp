#include "crawler/extract/compiled_help.h"

#include <chm_lib.h>
#include <strings.h>

#include <cstring>
#include <memory>
#include <vector>

#include "crawler/extract/child_pipe.h"
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
  const LONGINT64 got = ui->length == 0 ? 0
                                        : chm_retrieve_object(chm, ui, bytes.data(), 0,
                                                              static_cast<LONGINT64>(ui->length));
  // A page that cannot be read is skipped; the walk goes on.
  if (got < 0 || static_cast<uint64_t>(got) != ui->length) return CHM_ENUMERATOR_CONTINUE;
  const uint32_t path_len = static_cast<uint32_t>(inner.size());
  const uint64_t size = ui->length;
  const bool ok =
      WriteAllToFd(fd, &path_len, sizeof path_len) && WriteAllToFd(fd, inner.data(), path_len) &&
      WriteAllToFd(fd, &size, sizeof size) && WriteAllToFd(fd, bytes.data(), bytes.size());
  return ok ? CHM_ENUMERATOR_CONTINUE : CHM_ENUMERATOR_FAILURE;
}

void RunChild(int fd, const char* path) {
  struct chmFile* chm = chm_open(path);
  const unsigned char opened = chm ? 1 : 0;
  WriteAllToFd(fd, &opened, 1);
  if (chm) {
    ChildWalk walk{fd};
    chm_enumerate(chm, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, &SendEntry, &walk);
    chm_close(chm);
    WriteAllToFd(fd, &kEndOfPages, sizeof kEndOfPages);
  }
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
  std::unique_ptr<ChildPipe> child =
      ChildPipe::Start([&chm_path](int fd) { RunChild(fd, chm_path.c_str()); });
  if (!child) return false;
  auto read_exactly = [&](void* buf, size_t n) {
    return child->ReadExactly(buf, n, stop, kCompiledHelpSilenceMs);
  };
  unsigned char opened = 0;
  const bool is_chm = read_exactly(&opened, 1) && opened == 1;
  while (is_chm) {
    uint32_t path_len = 0;
    if (!read_exactly(&path_len, sizeof path_len) || path_len == kEndOfPages || path_len == 0 ||
        path_len > CHM_MAX_PATHLEN) {
      break;
    }
    std::string inner(path_len, '\0');
    uint64_t size = 0;
    if (!read_exactly(inner.data(), path_len) || !read_exactly(&size, sizeof size) ||
        size > kCompiledHelpMaxPage) {
      break;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!read_exactly(bytes.data(), bytes.size())) break;
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
  return is_chm;
}

}  // namespace lun
