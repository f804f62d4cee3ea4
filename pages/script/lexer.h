// Lexer: turns script text (UTF-16) into tokens with their physical line
// (0-based) and column.
//
// Words are returned as identifiers with their keyword code; the parser
// decides where a keyword is a keyword (after "." every word is a member
// name). "Rem" comments are recognised only where a statement may start
// (line start or after ":"). A line whose last non-blank character is "_"
// with a blank before it continues on the next line.
#ifndef LUN_PAGES_SCRIPT_LEXER_H_
#define LUN_PAGES_SCRIPT_LEXER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"

namespace lun::script {

enum class Tok : std::uint8_t {
  kEof,
  kNewLine,
  kColon,
  kIdent,
  kNumber,
  kString,
  kDate,
  kPlus,
  kMinus,
  kStar,
  kSlash,
  kBackslash,
  kCaret,
  kAmp,
  kEq,
  kNe,
  kLt,
  kGt,
  kLe,
  kGe,
  kLParen,
  kRParen,
  kComma,
  kDot,
};

// Words with a meaning to the grammar. Only words in the reserved list may
// not be used as names; the rest are contextual.
enum class Kw : std::uint8_t {
  kNone,
  // reserved
  kAnd,
  kByRef,
  kByVal,
  kCall,
  kCase,
  kClass,
  kConst,
  kDim,
  kDo,
  kEach,
  kElse,
  kElseIf,
  kEmpty,
  kEnd,
  kEqv,
  kErase,
  kExit,
  kFalse,
  kFor,
  kFunction,
  kGoTo,
  kIf,
  kImp,
  kIn,
  kIs,
  kLoop,
  kMe,
  kMod,
  kNew,
  kNext,
  kNot,
  kNothing,
  kNull,
  kOn,
  kOption,
  kOr,
  kPrivate,
  kPublic,
  kReDim,
  kRem,
  kResume,
  kSelect,
  kSet,
  kSub,
  kThen,
  kTo,
  kTrue,
  kUntil,
  kWend,
  kWhile,
  kWith,
  kXor,
  // contextual
  kExplicit,
  kStep,
  kError,
  kProperty,
  kGet,
  kLet,
  kPreserve,
  kDefault,
  kRandomize,
  kStop,
};

bool IsReserved(Kw kw);

struct Token {
  Tok kind = Tok::kEof;
  Kw kw = Kw::kNone;  // identifiers only; kNone when bracketed
  bool space_before = false;
  int line = 0;
  int column = 0;
  std::u16string text;    // identifier as written, or string value
  std::u16string folded;  // identifier folded to ASCII lower case
  Variant value;          // number or date literal
};

struct LexError {
  int number = 0;
  int line = 0;
  int column = 0;
};

// Identifiers longer than this are error 1030.
inline constexpr std::size_t kMaxIdentifier = 255;

// Tokenizes `source`. Returns false with *error set on the first lexical
// error. The token list always ends with kNewLine then kEof on success.
// `line_starts` (optional) receives the offset where each physical line
// starts, as far as lexing got.
bool Lex(std::u16string_view source, std::vector<Token>* tokens, LexError* error,
         std::vector<std::size_t>* line_starts = nullptr);

// ASCII lower-casing used for every name comparison.
std::u16string FoldName(std::u16string_view name);

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_LEXER_H_
