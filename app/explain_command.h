// `lun --explain PATH [--home DIR]`: says on the terminal what the index
// knows of a file and why (crawler/file_diagnosis.h): whether it is in the
// index's scope and, when not, why; whether it has a record, the state of
// the file that record holds, how much text was extracted and how it
// starts, and why text is missing when that is known.
//
// A running lun of the home is asked through lun.socket, so the answer is
// the one its diagnosis page gives (with what its crawler remembers of
// failed extractions). When none runs, the scope is judged under the home's
// settings and the index is opened only for reading (home_index.h); the
// home is left as it was.
//
// Prints the judged absolute path, a stable verdict key, the scope sentence
// and then one "label: value" line per fact. Exit status: 0 in scope (a
// file over the size limit is, by its name), 1 out of scope or missing, 2 a
// wrong command line.
#ifndef LUN_APP_EXPLAIN_COMMAND_H_
#define LUN_APP_EXPLAIN_COMMAND_H_

#include <string>
#include <string_view>
#include <vector>

namespace lun {

// The request line that asks a running lun for the diagnosis of `path`
// (absolute), and its reading; the answer is DiagnosisText.
std::string ExplainRequestLine(std::string_view path);
bool ParseExplainRequest(std::string_view line, std::string* path);

// `args` are the words after "--explain".
int RunExplainCommand(const std::vector<std::string>& args);

}  // namespace lun

#endif  // LUN_APP_EXPLAIN_COMMAND_H_
