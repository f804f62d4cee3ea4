// Parser: builds the syntax tree of a whole script and checks everything a
// compile error covers (section numbers of errors in script_errors.h).
// Names are not resolved here; the interpreter binds them once the host's
// named items are known.
#ifndef LUN_PAGES_SCRIPT_PARSER_H_
#define LUN_PAGES_SCRIPT_PARSER_H_

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "pages/script/ast.h"

namespace lun::script {

struct ParseError {
  int number = 0;  // compile error number (1001..1055)
  int line = 0;    // 0-based physical line of the offending token
  int column = 0;
};

struct ParseLimits {
  // Deepest expression tree accepted (a longer operator chain is error
  // 1001): bounds the evaluator's recursion and the tree's destruction.
  int max_expression_depth = 1000;
  // Stack the parser may use for nested blocks and parentheses before it
  // gives up with error 1001.
  std::size_t stack_bytes = 512 * 1024;
};

// Parses `source`. On success returns the program; on failure returns null
// with *error set. `line_starts` receives the offset of each physical line
// the lexer reached (also on failure), to quote the line of an error.
std::unique_ptr<Program> ParseProgram(std::u16string_view source, ParseError* error,
                                      std::vector<std::size_t>* line_starts,
                                      const ParseLimits& limits = {});

// Parses `source` as one expression (the text of Eval). Null with *error
// set when it is not exactly one expression.
ExprPtr ParseExpression(std::u16string_view source, ParseError* error,
                        const ParseLimits& limits = {});

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_PARSER_H_
