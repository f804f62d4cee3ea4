#include "config/bar_list.h"

namespace lun {

std::vector<std::string> SplitBarList(std::string_view list) {
  std::vector<std::string> items;
  size_t start = 0;
  while (start <= list.size()) {
    size_t bar = list.find('|', start);
    if (bar == std::string_view::npos) bar = list.size();
    if (bar > start) items.emplace_back(list.substr(start, bar - start));
    start = bar + 1;
  }
  return items;
}

std::string JoinBarList(const std::vector<std::string>& items) {
  std::string list;
  for (const std::string& item : items) {
    if (item.empty()) continue;
    list += list.empty() ? "|" : "";
    list += item;
    list += '|';
  }
  return list;
}

}  // namespace lun
