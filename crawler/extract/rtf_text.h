// Text of an RTF document, read by our own small parser.
//
// Understood: groups, control words and symbols, \uN escapes with their \ucN
// fallback counts, \'hh bytes in the document's code page (\ansicpg) or the
// current font's charset (\fcharset of the font table), \binN data, and the
// destinations that carry no body text (font, colour and style tables,
// pictures, objects, document information, "\*" destinations), which are
// skipped. Paragraphs and rows become lines, cells and \tab tabs.
//
// Pure: works on bytes in memory, any input is safe (this parser is fuzzed).
// Thread-safe.
#ifndef LUN_CRAWLER_EXTRACT_RTF_TEXT_H_
#define LUN_CRAWLER_EXTRACT_RTF_TEXT_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// Groups nest at most this deep; deeper input stops with kPartial.
inline constexpr int kRtfMaxDepth = 1024;

// kDamaged when `bytes` do not start with "{\rtf"; kPartial (with the text
// so far) when the document ends inside a group or nests too deep.
ExtractResult RtfText(std::string_view bytes, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_RTF_TEXT_H_
