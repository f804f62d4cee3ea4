#include "pages/script/script_errors.h"

namespace lun::script {

namespace {

struct ErrorText {
  int number;
  std::u16string_view text;
};

constexpr ErrorText kErrors[] = {
    {5, u"Invalid procedure call or argument"},
    {6, u"Overflow"},
    {7, u"Out of memory"},
    {9, u"Subscript out of range"},
    {10, u"This array is fixed or temporarily locked"},
    {11, u"Division by zero"},
    {13, u"Type mismatch"},
    {14, u"Out of string space"},
    {28, u"Out of stack space"},
    {35, u"Sub or Function not defined"},
    {51, u"Internal error"},
    {91, u"Object variable not set"},
    {92, u"For loop not initialized"},
    {94, u"Invalid use of Null"},
    {424, u"Object required"},
    {429, u"ActiveX component can't create object"},
    {438, u"Object doesn't support this property or method"},
    {440, u"Automation error"},
    {445, u"Object doesn't support this action"},
    {449, u"Argument not optional"},
    {450, u"Wrong number of arguments or invalid property assignment"},
    {451, u"Object not a collection"},
    {457, u"This key is already associated with an element of this collection"},
    {500, u"Variable is undefined"},
    {501, u"Illegal assignment"},
    {505, u"Invalid or unqualified reference"},
    {506, u"Class not defined"},
    {32811, u"Element not found"},
    {1001, u"Out of memory"},
    {1002, u"Syntax error"},
    {1005, u"Expected '('"},
    {1006, u"Expected ')'"},
    {1010, u"Expected identifier"},
    {1011, u"Expected '='"},
    {1012, u"Expected 'If'"},
    {1013, u"Expected 'To'"},
    {1014, u"Expected 'End'"},
    {1015, u"Expected 'Function'"},
    {1016, u"Expected 'Sub'"},
    {1017, u"Expected 'Then'"},
    {1018, u"Expected 'Wend'"},
    {1019, u"Expected 'Loop'"},
    {1020, u"Expected 'Next'"},
    {1021, u"Expected 'Case'"},
    {1022, u"Expected 'Select'"},
    {1023, u"Expected expression"},
    {1024, u"Expected statement"},
    {1025, u"Expected end of statement"},
    {1026, u"Expected integer constant"},
    {1027, u"Expected 'While' or 'Until'"},
    {1028, u"Expected 'While', 'Until' or end of statement"},
    {1029, u"Expected 'With'"},
    {1030, u"Identifier too long"},
    {1031, u"Invalid number"},
    {1032, u"Invalid character"},
    {1033, u"Unterminated string constant"},
    {1037, u"Invalid use of 'Me' keyword"},
    {1038, u"'loop' without 'do'"},
    {1039, u"Invalid 'exit' statement"},
    {1040, u"Invalid 'for' loop control variable"},
    {1041, u"Name redefined"},
    {1042, u"Must be first statement on the line"},
    {1044, u"Cannot use parentheses when calling a Sub"},
    {1045, u"Expected literal constant"},
    {1046, u"Expected 'In'"},
    {1047, u"Expected 'Class'"},
    {1048, u"Must be defined inside a Class"},
    {1049, u"Expected Let or Set or Get in property declaration"},
    {1050, u"Expected 'Property'"},
    {1051, u"Number of arguments must be consistent across the Property procedures of one name"},
    {1052, u"Cannot have multiple default property/method in a Class"},
    {1053, u"Class initialize or terminate do not have arguments"},
    {1054, u"Property set or let must have at least one argument"},
    {1055, u"Unexpected 'Next'"},
    {1057, u"'Default' specification must also specify 'Public'"},
};

}  // namespace

std::u16string_view ErrorDescription(int number) {
  for (const auto& e : kErrors) {
    if (e.number == number) return e.text;
  }
  return u"Unknown runtime error";
}

bool HasErrorDescription(int number) {
  for (const auto& e : kErrors) {
    if (e.number == number) return true;
  }
  return false;
}

}  // namespace lun::script
