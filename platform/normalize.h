// Text normalisation shared by indexing, queries, stored-text comparison and
// highlighting.
//
// One table of 65,536 UTF-16 code units, applied one unit at a time:
// full-width ASCII and symbols to their half-width forms (U+3000, the
// ideographic space, stays as it is), then simple lower-casing of the whole
// BMP, then traditional to simplified Chinese. Only one-to-one mappings are
// taken, so a normalised string has exactly the length of its source and
// positions in it are positions in the source.
//
// The table is generated at build time with ICU; using it costs one look-up
// per code unit and needs no initialisation. Thread-safe.
#ifndef LUN_PLATFORM_NORMALIZE_H_
#define LUN_PLATFORM_NORMALIZE_H_

#include <string>
#include <string_view>

namespace lun {

char16_t NormalizeChar(char16_t c);

// Normalises `text` in place.
void NormalizeInPlace(std::u16string& text);
void NormalizeInPlace(char16_t* text, size_t length);

std::u16string Normalize(std::u16string_view text);

}  // namespace lun

#endif  // LUN_PLATFORM_NORMALIZE_H_
