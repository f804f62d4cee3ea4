// The index of a home opened by a command of the terminal (`lun search`,
// `lun --explain`) when no lun runs with that home: only read, never
// written, with the home's instance lock held for the moment (a lun started
// meanwhile ends at once, as with any running instance). The settings file
// is only read.
#ifndef LUN_APP_HOME_INDEX_H_
#define LUN_APP_HOME_INDEX_H_

#include <functional>
#include <string>

namespace lun {

class SearchProject;
class SearchService;

// Opens the index of `home` and calls `use` with it. Returns "" when `use`
// ran, else the message for the user (no index yet, a lun runs that did not
// answer, the index cannot be opened).
std::string WithHomeIndex(const std::string& home,
                          const std::function<void(SearchProject&, SearchService&)>& use);

}  // namespace lun

#endif  // LUN_APP_HOME_INDEX_H_
