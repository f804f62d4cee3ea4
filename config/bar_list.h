// The "|a|b|" list form of the settings: the permitted and forbidden paths
// ("允许扫描", "禁止扫描", "Maildir目录"), the type lists ("文档类型" ...)
// and the plug-in type lists. Items are separated by "|"; a stored list
// starts and ends with "|", so that "|item|" can be searched for in it,
// and a list without items is the empty text. An item cannot hold "|".
#ifndef LUN_CONFIG_BAR_LIST_H_
#define LUN_CONFIG_BAR_LIST_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The non-empty items of `list` in their order ("|/a||/b|" and "/a|/b" give
// {"/a", "/b"}).
std::vector<std::string> SplitBarList(std::string_view list);

// The stored form of `items`: "|a|b|", or "" when there is no non-empty
// item. Empty items are left out.
std::string JoinBarList(const std::vector<std::string>& items);

}  // namespace lun

#endif  // LUN_CONFIG_BAR_LIST_H_
