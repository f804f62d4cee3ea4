#include "crawler/extract/compiled_help.h"

#include <chm_lib.h>
#include <strings.h>

#include <memory>
#include <vector>

#include "crawler/extract/charset.h"
#include "crawler/extract/html_text.h"

namespace lun {
namespace {

bool IsPageName(std::string_view path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || path.find('/', dot) != std::string_view::npos) return false;
  const std::string ext(path.substr(dot + 1));
  return strcasecmp(ext.c_str(), "htm") == 0 || strcasecmp(ext.c_str(), "html") == 0;
}

struct Walk {
  std::string chm_path;
  const std::atomic<bool>* stop;
  const std::function<bool(const CompiledHelpPage&)>* on_page;
};

int OnEntry(struct chmFile* chm, struct chmUnitInfo* ui, void* context) {
  auto* walk = static_cast<Walk*>(context);
  if (walk->stop && walk->stop->load()) return CHM_ENUMERATOR_FAILURE;
  const std::string_view inner(ui->path);
  // Entries starting with "#" or "$" are the file's own tables, not pages.
  if (inner.size() < 2 || inner[0] != '/' || inner[1] == '#' || inner[1] == '$' ||
      !IsPageName(inner) || ui->length > kCompiledHelpMaxPage) {
    return CHM_ENUMERATOR_CONTINUE;
  }
  std::string bytes(static_cast<size_t>(ui->length), '\0');
  const LONGINT64 got = ui->length == 0 ? 0
      : chm_retrieve_object(chm, ui, reinterpret_cast<unsigned char*>(bytes.data()), 0,
                            static_cast<LONGINT64>(ui->length));
  // A page that cannot be read is skipped; the walk goes on.
  if (got < 0 || static_cast<uint64_t>(got) != ui->length) return CHM_ENUMERATOR_CONTINUE;
  CompiledHelpPage page;
  const size_t slash = inner.rfind('/');
  page.name = std::string(inner.substr(slash + 1));
  page.key = CompiledHelpKey(walk->chm_path, inner);
  page.size = ui->length;
  TextSink sink(kFilterTextLimit);
  HtmlToText(bytes, &sink);
  std::u16string& text = sink.text();
  while (!text.empty() && text.back() == u'\n') text.pop_back();
  page.text = sink.Take();
  return (*walk->on_page)(page) ? CHM_ENUMERATOR_CONTINUE : CHM_ENUMERATOR_FAILURE;
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
  std::unique_ptr<chmFile, decltype(&chm_close)> chm(chm_open(chm_path.c_str()), &chm_close);
  if (!chm) return false;
  Walk walk{chm_path, stop, &on_page};
  chm_enumerate(chm.get(), CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, &OnEntry, &walk);
  return true;
}

}  // namespace lun
