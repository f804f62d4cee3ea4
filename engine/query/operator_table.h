// The operator strings of the query language. Intersection, union and
// difference are configurable (settings "交", "并", "差" in "检索设置";
// defaults "*", "+", "-"), at most 16 characters each, each matched as a
// whole string; the parentheses are fixed.
#ifndef LUN_ENGINE_QUERY_OPERATOR_TABLE_H_
#define LUN_ENGINE_QUERY_OPERATOR_TABLE_H_

#include <string>

namespace lun {

class SettingsStore;

struct OperatorTable {
  std::u16string intersection = u"*";
  std::u16string unite = u"+";
  std::u16string difference = u"-";
  char16_t open = u'(';
  char16_t close = u')';

  // Reads the three configurable operators. They are normalised like query
  // text, because the expression is normalised before it is tokenised: an
  // operator configured as "AND" must still match the "and" it becomes. An
  // empty setting keeps the default (an empty operator would match
  // everywhere).
  static OperatorTable FromSettings(const SettingsStore& settings);
};

}  // namespace lun

#endif  // LUN_ENGINE_QUERY_OPERATOR_TABLE_H_
