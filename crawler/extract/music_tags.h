// Text of a music file: its tags (title, artist, album, then the others:
// year, genre, comment, lyrics, composer ...), one per line, read with
// TagLib. MP3 (ID3v1, ID3v2), FLAC, Ogg Vorbis and Opus, M4A, WMA, WAV and
// AIFF. Tags stored as "Latin-1" (ID3v1, ID3v2 encoding 0, RIFF INFO) are
// in practice in the writer's local code page, Chinese GBK above all: their
// bytes go through DecodeShortField (charset.h).
// Thread-safe; no state survives a call.
#ifndef LUN_CRAWLER_EXTRACT_MUSIC_TAGS_H_
#define LUN_CRAWLER_EXTRACT_MUSIC_TAGS_H_

#include <string_view>

#include "crawler/extract/extract_result.h"

namespace lun {

// True for the upper-case extensions read here: MP3, FLAC, OGG, OGA, OPUS,
// M4A, WMA, WAV, AIF, AIFF, AIFC.
bool IsMusicType(std::string_view type);

// kOk with the tag text (empty when the file has no tags), kDamaged when
// TagLib cannot read `bytes` as the format `type` names.
ExtractResult MusicTagText(std::string_view bytes, std::string_view type, size_t limit);

}  // namespace lun

#endif  // LUN_CRAWLER_EXTRACT_MUSIC_TAGS_H_
