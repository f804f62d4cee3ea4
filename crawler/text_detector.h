// The unknown-type text detector: whether a file whose type no list admits
// (README, Makefile, an mbox file, LICENSE) holds text, judged by its first
// bytes, so that it can be indexed as text in the category "其它".
//
// Text is: UTF-16 with a byte order mark; or, with no NUL byte in the first
// 8 KB, valid UTF-8 (a sequence cut by the end of the prefix counts as
// valid) with few control characters; or valid GB18030 in which most
// multi-byte characters are Chinese characters. An empty file is not text.
//
// Thread-safe; no state.
#ifndef LUN_CRAWLER_TEXT_DETECTOR_H_
#define LUN_CRAWLER_TEXT_DETECTOR_H_

#include <string>
#include <string_view>

namespace lun {

// How much of a file the detector looks at.
inline constexpr size_t kTextProbeBytes = 8192;

// Judges `prefix`, the first bytes of a file (at most kTextProbeBytes are
// looked at; `complete` says that the prefix is the whole file, so that a
// cut sequence at its end is not excused).
bool LooksLikeText(std::string_view prefix, bool complete);

// Reads the first kTextProbeBytes of `path` and judges them; false when the
// file cannot be read.
bool FileLooksLikeText(const std::string& path);

}  // namespace lun

#endif  // LUN_CRAWLER_TEXT_DETECTOR_H_
