#include "pages/page_translator.h"

#include <cerrno>

#include "config/packed_text.h"
#include "platform/file_system.h"
#include "platform/paths.h"

namespace lun {
namespace {

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return out;
}

void ReplaceAll(std::string* text, std::string_view from, std::string_view to, size_t start) {
  for (size_t at = text->find(from, start); at != std::string::npos;
       at = text->find(from, at + to.size())) {
    text->replace(at, from.size(), to);
  }
}

std::string DoubleQuotes(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 8);
  for (const char c : s) {
    out.push_back(c);
    if (c == '"') out.push_back('"');
  }
  return out;
}

// Expands includes in `text` from `from` on; `depth` counts how many
// include expansions enclose this position.
bool Expand(std::string* text, size_t from, const std::string& dir, int depth) {
  size_t p = text->find("<!--", from);
  while (p != std::string::npos) {
    const size_t close = text->find("-->", p + 4);
    if (close == std::string::npos) {
      p = text->find("<!--", p + 4);
      continue;
    }
    const std::string directive = text->substr(p, close + 3 - p);
    const std::string lower = LowerAscii(directive);
    const size_t q1 = lower.find('"');
    const size_t q2 = q1 == std::string::npos ? q1 : lower.find('"', q1 + 1);
    if (lower.find("#include") == std::string::npos || q2 == std::string::npos) {
      p = text->find("<!--", close + 3);
      continue;
    }
    if (depth >= kMaxIncludeDepth) return false;
    std::string included;
    if (!LoadPageFile(JoinPath(dir, lower.substr(q1 + 1, q2 - q1 - 1)), &included)) return false;
    ReplaceAll(text, directive, included, p);
    if (text->size() > kMaxPageBytes) return false;
    // The pasted text may hold includes of its own: expand them one level
    // deeper before going on behind it.
    const size_t after = p + included.size();
    std::string tail = text->substr(after);
    text->resize(after);
    if (!Expand(text, p, dir, depth + 1)) return false;
    const size_t resume = text->size();
    text->append(tail);
    p = text->find("<!--", resume);
  }
  return true;
}

}  // namespace

bool LoadPageFile(const std::string& path, std::string* text) {
  text->clear();
  std::string file;
  const int rc = ReadWholeFile(DefaultFileSystem(), path, &file, kMaxPageBytes);
  if (rc == ENOENT) return true;
  if (rc != 0) return false;
  switch (UnpackText(file, text, kMaxPageBytes)) {
    case UnpackResult::kNotPacked: *text = std::move(file); break;
    case UnpackResult::kOk: break;
    case UnpackResult::kDamaged: return false;
  }
  if (const size_t nul = text->find('\0'); nul != std::string::npos) text->resize(nul);
  return true;
}

bool ExpandIncludes(std::string_view page, const std::string& page_directory, std::string* out) {
  *out = std::string(page);
  return Expand(out, 0, page_directory, 0);
}

std::string LiteralToScript(std::string_view literal) {
  std::string script;
  size_t pos = 0;
  for (size_t end; (end = literal.find("\r\n", pos)) != std::string_view::npos; pos = end + 2) {
    script += "Response.Write \"" + DoubleQuotes(literal.substr(pos, end - pos)) +
              "\" & vbCrLf\r\n";
  }
  const std::string_view last = literal.substr(pos);
  script += last.empty() ? "\r\n" : "Response.Write \"" + DoubleQuotes(last) + "\"\r\n";
  return script;
}

bool ScriptFromPage(std::string_view page, std::string* script) {
  script->clear();
  while (!page.empty()) {
    const size_t open = page.find("<%");
    if (open == std::string_view::npos) {
      *script += LiteralToScript(page);
      return true;
    }
    *script += LiteralToScript(page.substr(0, open));
    const size_t close = page.find("%>", open + 2);
    if (close == std::string_view::npos) return false;
    std::string_view code = page.substr(open + 2, close - open - 2);
    while (!code.empty() && (code.front() == ' ' || code.front() == '\t' ||
                             code.front() == '\r' || code.front() == '\n')) {
      code.remove_prefix(1);
    }
    if (!code.empty() && code.front() == '=') {
      *script += "Response.Write ";
      code.remove_prefix(1);
    }
    *script += std::string(code) + "\r\n";
    page = page.substr(close + 2);
  }
  return true;
}

}  // namespace lun
