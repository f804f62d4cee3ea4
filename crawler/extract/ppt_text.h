// Slide text of a legacy PowerPoint file (.ppt, PowerPoint 97 and later),
// read from the "PowerPoint Document" stream of its OLE compound file.
//
// The stream is a tree of records (8-byte header: version and instance,
// type, length; a version of 0xF marks a container). Text lives in text
// atoms: TextCharsAtom (UTF-16LE) and TextBytesAtom (the low bytes of
// UTF-16). PowerPoint 97-2003 keeps slide text in the slide lists of the
// document; PowerPoint 2007 and later keep it in each slide's drawing
// (PPDrawing -> OfficeArt shape containers -> client text boxes). The
// reader walks every container of the stream and takes the atoms of both,
// so slides, notes and drawings all count; what it leaves out:
//  - the master slides, whose text is the template's placeholder prompts;
//  - an atom whose text was already taken: a fast-saved file keeps the
//    old versions of edited records, and one text may sit both in the
//    slide list and in the drawing. (A line repeated on several slides is
//    kept once; for finding the file that loses nothing.)
// Paragraph and line breaks inside an atom become line breaks.
//
// The compound file is read by libgsf. Thread-safe; no state survives a
// call.
#ifndef LUN_CRAWLER_EXTRACT_PPT_TEXT_H_
#define LUN_CRAWLER_EXTRACT_PPT_TEXT_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// Containers nest at most this deep; deeper ones are skipped (kPartial).
inline constexpr int kPptMaxDepth = 32;

// The text of the .ppt in `bytes`: kDamaged when they are no compound file
// or hold no "PowerPoint Document" stream, kPartial when a record runs past
// its container (the text before it is kept), kOk otherwise.
ExtractResult PptText(std::string_view bytes, size_t limit);

// The text of a "PowerPoint Document" stream itself (the part of PptText
// after the compound file), for the tests and the fuzz target. Pure.
ExtractResult PptStreamText(std::string_view stream, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_PPT_TEXT_H_
