// Fuzz target for the query language: splitting, normalising, tokenising and
// postfix conversion, then evaluation over a three-record table.
//
// Oracles beyond "no crash": a parsed list evaluates without error (the
// parser only hands out well-formed postfix lists), and the result only
// holds records that exist, ascending.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/query/evaluator.h"
#include "engine/query/query_parser.h"
#include "fuzz/fuzz_check.h"

namespace {

// Three records; a term's records are picked from its text's length.
class TinyTable : public lun::TermSource {
 public:
  uint32_t SlotCount() const override { return 3; }
  std::vector<int32_t> AnyFieldList() const override { return {0, 1}; }
  std::span<const uint32_t> Deletions() const override { return deleted_; }
  bool Lookup(int32_t field, std::u16string_view text, lun::Comparison,
              lun::ResultSet* out) override {
    Check(field >= 0 && field <= 1);
    for (uint32_t r = 0; r < 3; ++r) {
      if ((text.size() >> r) & 1) {
        out->records.push_back(r);
        out->weights.push_back(static_cast<uint32_t>(text.size()));
      }
    }
    return true;
  }

 private:
  std::vector<uint32_t> deleted_ = {1};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view query(reinterpret_cast<const char*>(data), size);
  lun::QueryParts parts;
  if (lun::SplitQuery(query, &parts) != 0) return 0;
  const auto postfix = lun::ParseExpression(
      {}, lun::NormalizeQueryText(parts.expression),
      [](std::string_view name) { return name == "f" ? 0 : name == "g" ? 1 : lun::kUnknownField; });
  if (!postfix) return 0;
  TinyTable table;
  lun::ResultSet result;
  Check(lun::EvaluatePostfix(*postfix, table, parts.in_all, &result) == lun::EvaluateStatus::kOk);
  for (size_t i = 0; i < result.count(); ++i) {
    Check(result.records[i] < 3);
    Check(i == 0 || result.records[i - 1] < result.records[i]);
  }
  return 0;
}
