#include "engine/query/operator_table.h"

#include "config/settings_store.h"
#include "platform/normalize.h"

namespace lun {
namespace {

constexpr size_t kMaxOperatorLength = 16;

void ReadOperator(const SettingsStore& settings, const char* key, std::u16string* slot) {
  std::u16string value = settings.GetValueW(kSearchSection, key, *slot);
  if (value.size() > kMaxOperatorLength) value.resize(kMaxOperatorLength);
  if (!value.empty()) *slot = Normalize(value);
}

}  // namespace

OperatorTable OperatorTable::FromSettings(const SettingsStore& settings) {
  OperatorTable table;
  ReadOperator(settings, "交", &table.intersection);
  ReadOperator(settings, "并", &table.unite);
  ReadOperator(settings, "差", &table.difference);
  return table;
}

}  // namespace lun
