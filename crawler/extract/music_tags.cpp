#include "crawler/extract/music_tags.h"

#include <taglib/aifffile.h>
#include <taglib/asffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "crawler/extract/charset.h"
#include "platform/text.h"

namespace lun {
namespace {

TagLib::String FromLocalBytes(const TagLib::ByteVector& data) {
  std::string_view bytes(data.data(), data.size());
  // Fixed-size ID3v1 fields are padded with NULs and blanks.
  while (!bytes.empty() && (bytes.back() == '\0' || bytes.back() == ' ')) bytes.remove_suffix(1);
  return TagLib::String(ToNarrow(DecodeShortField(bytes)), TagLib::String::UTF8);
}

class Id3v1Handler : public TagLib::ID3v1::StringHandler {
 public:
  TagLib::String parse(const TagLib::ByteVector& data) const override {
    return FromLocalBytes(data);
  }
};

class Id3v2Handler : public TagLib::ID3v2::Latin1StringHandler {
 public:
  TagLib::String parse(const TagLib::ByteVector& data) const override {
    return FromLocalBytes(data);
  }
};

class InfoHandler : public TagLib::RIFF::Info::StringHandler {
 public:
  TagLib::String parse(const TagLib::ByteVector& data) const override {
    return FromLocalBytes(data);
  }
};

// TagLib's handlers are process-wide; they are set once and never change.
void InstallStringHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    static const Id3v1Handler id3v1;
    static const Id3v2Handler id3v2;
    static const InfoHandler info;
    TagLib::ID3v1::Tag::setStringHandler(&id3v1);
    TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
    TagLib::RIFF::Info::Tag::setStringHandler(&info);
  });
}

std::unique_ptr<TagLib::File> OpenMusic(TagLib::IOStream* stream, std::string_view type) {
  // Audio properties are not wanted: only the tags are read.
  constexpr bool kNoProperties = false;
  if (type == "MP3") {
    return std::make_unique<TagLib::MPEG::File>(stream, TagLib::ID3v2::FrameFactory::instance(),
                                                kNoProperties);
  }
  if (type == "FLAC") {
    return std::make_unique<TagLib::FLAC::File>(stream, TagLib::ID3v2::FrameFactory::instance(),
                                                kNoProperties);
  }
  if (type == "OGG" || type == "OGA") {
    return std::make_unique<TagLib::Ogg::Vorbis::File>(stream, kNoProperties);
  }
  if (type == "OPUS") return std::make_unique<TagLib::Ogg::Opus::File>(stream, kNoProperties);
  if (type == "M4A") return std::make_unique<TagLib::MP4::File>(stream, kNoProperties);
  if (type == "WMA") return std::make_unique<TagLib::ASF::File>(stream, kNoProperties);
  if (type == "WAV") return std::make_unique<TagLib::RIFF::WAV::File>(stream, kNoProperties);
  if (type == "AIF" || type == "AIFF" || type == "AIFC") {
    return std::make_unique<TagLib::RIFF::AIFF::File>(stream, kNoProperties);
  }
  return nullptr;
}

// Tags that are numbers or bookkeeping rather than words a user searches.
bool IsTechnicalTag(const TagLib::String& key) {
  static constexpr std::array<const char*, 6> kKeys = {"TRACKNUMBER", "DISCNUMBER", "BPM",
                                                       "ENCODING",    "ENCODEDBY",  "LENGTH"};
  for (const char* k : kKeys) {
    if (key == k) return true;
  }
  return key.startsWith("REPLAYGAIN_") || key.startsWith("MUSICBRAINZ_");
}

void AppendValues(const TagLib::StringList& values, TextSink* sink) {
  for (const TagLib::String& value : values) {
    const std::string utf8 = value.to8Bit(true);
    if (utf8.find_first_not_of(" \t\r\n") == std::string::npos) continue;
    sink->AppendUtf8(utf8);
    sink->NewLine();
  }
}

}  // namespace

bool IsMusicType(std::string_view type) {
  for (std::string_view t :
       {"MP3", "FLAC", "OGG", "OGA", "OPUS", "M4A", "WMA", "WAV", "AIF", "AIFF", "AIFC"}) {
    if (t == type) return true;
  }
  return false;
}

ExtractResult MusicTagText(std::string_view bytes, std::string_view type, size_t limit) {
  InstallStringHandlers();
  TagLib::ByteVector data(bytes.data(), static_cast<unsigned int>(bytes.size()));
  TagLib::ByteVectorStream stream(data);
  std::unique_ptr<TagLib::File> file = OpenMusic(&stream, type);
  if (!file) return {ExtractStatus::kUnsupported, {}, "not a music type"};
  if (!file->isValid()) return {ExtractStatus::kDamaged, {}, "TagLib cannot read the file"};
  const TagLib::PropertyMap tags = file->properties();
  TextSink sink(limit);
  // The names first, in the order a listener reads them; then the rest.
  static constexpr std::array<const char*, 3> kFirst = {"TITLE", "ARTIST", "ALBUM"};
  for (const char* key : kFirst) {
    if (tags.contains(key)) AppendValues(tags[key], &sink);
  }
  for (const auto& [key, values] : tags) {
    bool first = false;
    for (const char* k : kFirst) first = first || key == k;
    if (!first && !IsTechnicalTag(key)) AppendValues(values, &sink);
  }
  std::u16string& text = sink.text();
  while (!text.empty() && text.back() == u'\n') text.pop_back();
  ScrubControlCharacters(&text);
  return {ExtractStatus::kOk, sink.Take(), {}};
}

}  // namespace lun
