#include "crawler/extract/id3_text.h"

#include <cstdint>
#include <string>

#include "crawler/extract/charset.h"

namespace lun {
namespace {

uint32_t SyncSafe(const unsigned char* p) {
  return (uint32_t{p[0] & 0x7Fu} << 21) | (uint32_t{p[1] & 0x7Fu} << 14) |
         (uint32_t{p[2] & 0x7Fu} << 7) | uint32_t{p[3] & 0x7Fu};
}

uint32_t BigEndian(const unsigned char* p, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// A text frame's body: one encoding byte, then the text.
std::u16string FrameText(std::string_view body) {
  if (body.empty()) return {};
  const unsigned char encoding = static_cast<unsigned char>(body[0]);
  std::string_view text = body.substr(1);
  std::u16string out;
  switch (encoding) {
    case 1: out = DecodeText(text); break;  // UTF-16 with BOM
    case 2: DecodeWithCharset(text, "UTF-16BE", &out); break;
    case 3: out = DecodeText(text, "UTF-8"); break;
    default: out = DecodeText(text); break;  // "Latin-1", in practice any local code page
  }
  // Several strings are separated by NULs; make them blanks.
  for (char16_t& c : out) {
    if (c == 0) c = u' ';
  }
  while (!out.empty() && out.back() == u' ') out.pop_back();
  return out;
}

bool WantedFrame(std::string_view id) {
  static constexpr std::string_view kIds[] = {"TIT2", "TPE1", "TALB", "TYER", "TDRC", "TCON",
                                             "TCOM", "TPE2", "COMM", "USLT", "TT2",  "TP1",
                                             "TAL",  "TYE",  "TCO",  "COM",  "ULT"};
  for (std::string_view k : kIds) {
    if (k == id) return true;
  }
  return false;
}

void ReadId3v2(std::string_view bytes, TextSink* sink) {
  if (bytes.size() < 10 || bytes.substr(0, 3) != "ID3") return;
  const auto* h = reinterpret_cast<const unsigned char*>(bytes.data());
  const int version = h[3];
  if (version < 2 || version > 4) return;
  const size_t size = SyncSafe(h + 6);
  if (size > bytes.size() - 10) return;
  std::string_view tag = bytes.substr(10, size);
  if (h[5] & 0x40 && version >= 3 && tag.size() >= 4) {  // extended header
    const auto* e = reinterpret_cast<const unsigned char*>(tag.data());
    const size_t ext = version == 4 ? SyncSafe(e) : BigEndian(e, 4) + 4;
    if (ext > tag.size()) return;
    tag = tag.substr(ext);
  }
  const size_t id_len = version == 2 ? 3 : 4;
  const size_t header_len = version == 2 ? 6 : 10;
  size_t pos = 0;
  while (pos + header_len <= tag.size() && !sink->full()) {
    const auto* f = reinterpret_cast<const unsigned char*>(tag.data() + pos);
    if (f[0] == 0) break;  // padding
    const std::string_view id = tag.substr(pos, id_len);
    const size_t len = version == 2   ? BigEndian(f + 3, 3)
                       : version == 4 ? SyncSafe(f + 4)
                                      : BigEndian(f + 4, 4);
    if (len > tag.size() - pos - header_len) break;
    std::string_view body = tag.substr(pos + header_len, len);
    pos += header_len + len;
    if (!WantedFrame(id)) continue;
    if (id[0] == 'C' || id[0] == 'U') {
      // Comments and lyrics: encoding, a 3-byte language, a description, then the text.
      if (body.size() < 4) continue;
      const char encoding = body[0];
      std::string_view rest = body.substr(4);
      const bool wide = encoding == 1 || encoding == 2;
      size_t end = 0;
      if (wide) {
        while (end + 1 < rest.size() && !(rest[end] == 0 && rest[end + 1] == 0)) end += 2;
        end += 2;
      } else {
        end = rest.find('\0');
        end = end == std::string_view::npos ? rest.size() : end + 1;
      }
      if (end > rest.size()) continue;
      std::string text(1, encoding);
      text.append(rest.substr(end));
      body = text;
      const std::u16string value = FrameText(body);
      if (!value.empty()) {
        sink->Append(value);
        sink->NewLine();
      }
      continue;
    }
    const std::u16string value = FrameText(body);
    if (!value.empty()) {
      sink->Append(value);
      sink->NewLine();
    }
  }
}

void ReadId3v1(std::string_view bytes, TextSink* sink) {
  if (bytes.size() < 128) return;
  const std::string_view tag = bytes.substr(bytes.size() - 128);
  if (tag.substr(0, 3) != "TAG") return;
  const struct {
    size_t offset, length;
  } kFields[] = {{3, 30}, {33, 30}, {63, 30}, {93, 4}, {97, 28}};
  for (const auto& field : kFields) {
    std::string_view value = tag.substr(field.offset, field.length);
    const size_t nul = value.find('\0');
    if (nul != std::string_view::npos) value = value.substr(0, nul);
    while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
    if (value.empty()) continue;
    sink->Append(DecodeText(value));
    sink->NewLine();
  }
}

}  // namespace

ExtractResult Id3Text(std::string_view bytes, size_t limit) {
  TextSink sink(limit);
  ReadId3v2(bytes, &sink);
  if (sink.size() == 0) ReadId3v1(bytes, &sink);
  std::u16string& text = sink.text();
  while (!text.empty() && text.back() == u'\n') text.pop_back();
  ScrubControlCharacters(&text);
  return {ExtractStatus::kOk, sink.Take(), {}};
}

}  // namespace lun
