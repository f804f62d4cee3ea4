#include "platform/normalize.h"

#include <array>
#include <cstdint>

namespace lun {
namespace {

struct Mapping {
  char16_t from;
  char16_t to;
};

// The generated list of every code unit whose normal form differs from it,
// in ascending order of `from`.
constexpr Mapping kMappings[] = {
#include "normalize_table.inc"
};

struct Table {
  std::array<char16_t, 65536> map;
  constexpr Table() : map() {
    for (uint32_t c = 0; c < 65536; ++c) map[c] = static_cast<char16_t>(c);
    for (const Mapping& m : kMappings) map[m.from] = m.to;
  }
};

// Built by the compiler: no start-up cost and no initialisation order issue.
constinit const Table kTable;

}  // namespace

char16_t NormalizeChar(char16_t c) { return kTable.map[c]; }

void NormalizeInPlace(char16_t* text, size_t length) {
  for (size_t i = 0; i < length; ++i) text[i] = kTable.map[text[i]];
}

void NormalizeInPlace(std::u16string& text) { NormalizeInPlace(text.data(), text.size()); }

std::u16string Normalize(std::u16string_view text) {
  std::u16string out(text);
  NormalizeInPlace(out);
  return out;
}

}  // namespace lun
