#include "config/ini_text.h"

namespace lun {
namespace {

std::string Clean(std::string_view text, std::string_view forbidden) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n' || forbidden.find(c) != std::string_view::npos) c = ' ';
  }
  return out;
}

std::string CleanKey(std::string_view key) {
  std::string out = Clean(key, "=");
  if (!out.empty() && out[0] == '[') out[0] = ' ';
  return out;
}

}  // namespace

IniDocument::Section& IniDocument::SectionNamed(const std::string& name) {
  auto [it, inserted] = section_index_.try_emplace(name, sections_.size());
  if (inserted) {
    sections_.push_back(Section{name, {}});
    key_index_.emplace_back();
  }
  return sections_[it->second];
}

IniDocument IniDocument::Parse(std::string_view text) {
  IniDocument doc;
  size_t section = SIZE_MAX;  // lines before the first section are ignored
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::string name(line.substr(1, line.find(']') - 1));
      doc.SectionNamed(name);
      section = doc.section_index_[name];
      continue;
    }
    if (section == SIZE_MAX) continue;
    const size_t eq = line.find('=');
    std::string key(line.substr(0, eq));
    std::string value(eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1));
    auto& entries = doc.sections_[section].entries;
    auto [it, inserted] = doc.key_index_[section].try_emplace(key, entries.size());
    if (inserted) {
      entries.emplace_back(std::move(key), std::move(value));
    } else {
      entries[it->second].second = std::move(value);
    }
  }
  return doc;
}

std::string IniDocument::Serialize() const {
  std::string out;
  for (const Section& s : sections_) {
    out += '[';
    out += s.name;
    out += "]\r\n";
    for (const auto& [key, value] : s.entries) {
      out += key;
      out += '=';
      out += value;
      out += "\r\n";
    }
  }
  return out;
}

const std::string* IniDocument::Find(std::string_view section, std::string_view key) const {
  const auto s = section_index_.find(std::string(section));
  if (s == section_index_.end()) return nullptr;
  const auto& keys = key_index_[s->second];
  const auto k = keys.find(std::string(key));
  if (k == keys.end()) return nullptr;
  return &sections_[s->second].entries[k->second].second;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  const std::string name = Clean(section, "]");
  Section& s = SectionNamed(name);
  auto& keys = key_index_[section_index_[name]];
  std::string clean_key = CleanKey(key);
  auto [it, inserted] = keys.try_emplace(clean_key, s.entries.size());
  if (inserted) {
    s.entries.emplace_back(std::move(clean_key), Clean(value, ""));
  } else {
    s.entries[it->second].second = Clean(value, "");
  }
}

}  // namespace lun
