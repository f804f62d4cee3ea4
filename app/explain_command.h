// `lun --explain PATH [--home DIR]`: says on the terminal whether a file is
// in the index's scope and, when not, why (crawler/scope_explain.h), under
// the settings of the home (the permitted roots, forbidden paths and type
// lists lun would use). The settings file is only read.
//
// Prints the judged absolute path, a stable verdict key and one sentence.
// Exit status: 0 in scope (a file over the size limit is, by its name), 1
// out of scope or missing, 2 a wrong command line.
#ifndef LUN_APP_EXPLAIN_COMMAND_H_
#define LUN_APP_EXPLAIN_COMMAND_H_

#include <string>
#include <vector>

namespace lun {

// `args` are the words after "--explain".
int RunExplainCommand(const std::vector<std::string>& args);

}  // namespace lun

#endif  // LUN_APP_EXPLAIN_COMMAND_H_
