#include "config/tab_fields.h"

namespace lun {

std::string EscapeField(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::vector<std::string> SplitFields(std::string_view line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields.emplace_back();
    } else if (c == '\\' && i + 1 < line.size()) {
      const char e = line[++i];
      fields.back().push_back(e == 't' ? '\t' : e == 'n' ? '\n' : e == 'r' ? '\r' : e);
    } else {
      fields.back().push_back(c);
    }
  }
  return fields;
}

}  // namespace lun
