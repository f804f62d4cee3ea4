#include "engine/query/evaluator.h"

#include <gtest/gtest.h>

#include <map>

#include "engine/query/query_parser.h"
#include "platform/text.h"

namespace lun {
namespace {

// A table of 10 records (0-9) whose "index" is a map from (field, term) to
// records and weights. Fields 0 and 1 form the any-field list.
class FakeTable : public TermSource {
 public:
  std::map<std::pair<int32_t, std::u16string>, std::vector<std::pair<uint32_t, uint32_t>>> index;
  std::vector<uint32_t> deleted;
  std::vector<std::pair<int32_t, std::u16string>> lookups;

  uint32_t SlotCount() const override { return 10; }
  std::vector<int32_t> AnyFieldList() const override { return {0, 1}; }
  std::span<const uint32_t> Deletions() const override { return deleted; }
  bool Lookup(int32_t field, std::u16string_view text, Comparison, ResultSet* out) override {
    lookups.emplace_back(field, std::u16string(text));
    const auto it = index.find({field, std::u16string(text)});
    if (it == index.end()) return true;
    for (const auto& [record, weight] : it->second) {
      out->records.push_back(record);
      out->weights.push_back(weight);
    }
    return true;
  }
};

int32_t Fields(std::string_view name) {
  if (name == "f0") return 0;
  if (name == "f1") return 1;
  return kUnknownField;
}

std::string Evaluate(FakeTable& table, const char* expression, bool in_all = false) {
  const auto postfix = ParseExpression({}, NormalizeQueryText(expression), Fields);
  if (!postfix) return "syntax error";
  ResultSet result;
  if (EvaluatePostfix(*postfix, table, in_all, &result) != EvaluateStatus::kOk) return "failed";
  std::string out;
  for (size_t i = 0; i < result.count(); ++i) {
    if (!out.empty()) out += ' ';
    out += std::to_string(result.records[i]);
    if (result.has_weights()) out += ":" + std::to_string(result.weights[i]);
  }
  return out;
}

TEST(EvaluatorTest, OperatorsCombineRecordsAndWeights) {
  FakeTable t;
  t.index[{0, u"a"}] = {{5, 2}, {9, 3}};
  t.index[{0, u"b"}] = {{9, 1}};
  t.index[{0, u"c"}] = {{1, 1}, {9, 1}};
  t.index[{1, u"a"}] = {{2, 7}, {5, 1}};
  t.deleted = {1, 4};
  struct Case {
    const char* expression;
    bool in_all;
    const char* result;
  };
  const Case cases[] = {
      {"f0=a*b", false, "9:4"},
      {"f0=a+b", false, "5:2 9:4"},
      {"f0=a-b", false, "5:2"},
      {"f0=c", false, "9:1"},  // deleted records leave the result
      {"f0=c", true, "1:1 9:1"},
      {"-(f0=a)", false, "0 2 3 6 7 8"},
      {"-(f0=a)", true, "0 1 2 3 4 6 7 8"},
      {"f0=nothing", false, ""},
      {"", false, "0 2 3 5 6 7 8 9"},
      // Any field: the union of the fields of the any-field list, no weights.
      {"a", false, "2 5 9"},
      {"a*f0=b", false, "9:1"},
      // Deleted records count inside the expression; only the end removes them.
      {"f0=a+c-c", true, "5:2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    EXPECT_EQ(Evaluate(t, c.expression, c.in_all), c.result);
  }
}

TEST(EvaluatorTest, EscapesAreDecodedBeforeTheLookUp) {
  FakeTable t;
  t.index[{1, u"a b*c"}] = {{3, 1}};
  EXPECT_EQ(Evaluate(t, "f1=a%0x0020%b%0x002A%c"), "3:1");
  ASSERT_EQ(t.lookups.size(), 1u);
  EXPECT_EQ(t.lookups[0].second, u"a b*c");
}

TEST(EvaluatorTest, CancelledAndMalformedListsGiveNoResult) {
  FakeTable t;
  const auto postfix = ParseExpression({}, u"a*b", Fields);
  ASSERT_TRUE(postfix);
  std::atomic<bool> cancel{true};
  ResultSet result;
  EXPECT_EQ(EvaluatePostfix(*postfix, t, false, &result, &cancel), EvaluateStatus::kCancelled);
  TokenList malformed = {QueryToken{TokenType::kIntersection, Comparison::kMatch, u"", 0}};
  EXPECT_EQ(EvaluatePostfix(malformed, t, false, &result), EvaluateStatus::kMalformed);
}

TEST(ResultSetTest, UnsortedLookUpsAreNormalised) {
  ResultSet a;
  a.records = {7, 3, 7, 1};
  a.weights = {1, 2, 4, 8};
  Normalize(a);
  EXPECT_EQ(std::vector<uint32_t>(a.records.begin(), a.records.end()), (std::vector<uint32_t>{1, 3, 7}));
  EXPECT_EQ(std::vector<uint32_t>(a.weights.begin(), a.weights.end()), (std::vector<uint32_t>{8, 2, 5}));
}

}  // namespace
}  // namespace lun
