// Error numbers and their standard descriptions, for run-time errors
// (source "Microsoft VBScript runtime error") and compile errors (source
// "Microsoft VBScript compilation error"). Script errors travel as HRESULT
// 0x800A0000 + number.
#ifndef LUN_PAGES_SCRIPT_SCRIPT_ERRORS_H_
#define LUN_PAGES_SCRIPT_SCRIPT_ERRORS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/hresult.h"

namespace lun::script {

inline constexpr std::u16string_view kRuntimeSource = u"Microsoft VBScript runtime error";
inline constexpr std::u16string_view kCompileSource = u"Microsoft VBScript compilation error";

// Run-time error numbers the interpreter raises.
enum RuntimeError : int {
  kErrInvalidCall = 5,
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrFixedArray = 10,
  kErrDivisionByZero = 11,
  kErrTypeMismatch = 13,
  kErrOutOfStringSpace = 14,
  kErrOutOfStack = 28,
  kErrInternal = 51,
  kErrForNotInitialized = 92,
  kErrInvalidNull = 94,
  kErrObjectRequired = 424,
  kErrCannotCreate = 429,
  kErrNoMember = 438,
  kErrAutomation = 440,
  kErrNoAction = 445,
  kErrNotOptional = 449,
  kErrArgCount = 450,
  kErrNotCollection = 451,
  kErrDuplicateKey = 457,
  kErrUndefined = 500,
  kErrIllegalAssignment = 501,
  kErrUnqualified = 505,
  kErrClassNotDefined = 506,
  kErrElementNotFound = 32811,
};

// Compile error numbers.
enum CompileError : int {
  kCeOutOfMemory = 1001,
  kCeSyntax = 1002,
  kCeExpectedLParen = 1005,
  kCeExpectedRParen = 1006,
  kCeExpectedIdentifier = 1010,
  kCeExpectedEquals = 1011,
  kCeExpectedIf = 1012,
  kCeExpectedTo = 1013,
  kCeExpectedEnd = 1014,
  kCeExpectedFunction = 1015,
  kCeExpectedSub = 1016,
  kCeExpectedThen = 1017,
  kCeExpectedWend = 1018,
  kCeExpectedLoop = 1019,
  kCeExpectedNext = 1020,
  kCeExpectedCase = 1021,
  kCeExpectedSelect = 1022,
  kCeExpectedExpression = 1023,
  kCeExpectedStatement = 1024,
  kCeExpectedEndOfStatement = 1025,
  kCeExpectedInteger = 1026,
  kCeExpectedWhileUntil = 1027,
  kCeExpectedWhileUntilEnd = 1028,
  kCeExpectedWith = 1029,
  kCeIdentifierTooLong = 1030,
  kCeInvalidNumber = 1031,
  kCeInvalidCharacter = 1032,
  kCeUnterminatedString = 1033,
  kCeLoopWithoutDo = 1038,
  kCeInvalidExit = 1039,
  kCeInvalidForVariable = 1040,
  kCeNameRedefined = 1041,
  kCeParenthesesInSubCall = 1044,
  kCeExpectedLiteral = 1045,
  kCeExpectedIn = 1046,
  kCeExpectedClass = 1047,
  kCeMustBeInClass = 1048,
  kCeExpectedLetSetGet = 1049,
  kCeExpectedProperty = 1050,
  kCeMultipleDefault = 1052,
  kCeInitializeArguments = 1053,
  kCePropertyNeedsArgument = 1054,
  kCeDefaultNeedsPublic = 1057,
  kCeUnexpectedNext = 1055,
};

// Standard description of an error number; "Unknown runtime error" for a
// number with none.
std::u16string_view ErrorDescription(int number);

// True when the table has a text for `number`.
bool HasErrorDescription(int number);

}  // namespace lun::script

#endif  // LUN_PAGES_SCRIPT_SCRIPT_ERRORS_H_
