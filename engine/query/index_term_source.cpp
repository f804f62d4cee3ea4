#include "engine/query/index_term_source.h"

#include "engine/index/field_generations.h"
#include "engine/index/field_lookup.h"
#include "engine/storage/data_table.h"

namespace lun {
namespace {

class IndexTermSource final : public TermSource {
 public:
  IndexTermSource(DataTable& table, const std::atomic<bool>* cancel)
      : table_(table), cancel_(cancel), deleted_(table.DeletedRecords()) {}

  uint32_t SlotCount() const override { return table_.record_count(); }

  std::vector<int32_t> AnyFieldList() const override {
    return {table_.any_fields().begin(), table_.any_fields().end()};
  }

  std::span<const uint32_t> Deletions() const override { return deleted_; }

  bool Lookup(int32_t field, std::u16string_view text, Comparison comparison,
              ResultSet* out) override {
    const TableField* f = table_.FieldAt(field);
    if (!f) return false;
    FieldLookupRequest request;
    request.field_type = f->type;
    request.index_kind = f->index_kind;
    request.index = dynamic_cast<const FieldGenerations*>(f->index.get());
    const int position = f->position;
    request.stored.record_count = table_.record_count();
    request.stored.read = [this, position](uint32_t record) {
      return table_.GetFieldValue(record, position);
    };
    request.term = text;
    request.comparison = static_cast<int>(comparison);
    request.cancel = cancel_;
    LookupResult result(out->records.get_allocator().resource());
    if (FieldLookup(request, &result) != LookupStatus::kOk) return false;
    out->records.swap(result.records);
    if (result.has_weights) {
      out->weights.swap(result.weights);
    } else {
      out->weights.clear();
    }
    return true;
  }

 private:
  DataTable& table_;
  const std::atomic<bool>* cancel_;
  const std::vector<uint32_t> deleted_;  // taken under the search's read lock
};

}  // namespace

std::unique_ptr<TermSource> MakeIndexTermSource(DataTable& table,
                                                const std::atomic<bool>* cancel) {
  return std::make_unique<IndexTermSource>(table, cancel);
}

}  // namespace lun
