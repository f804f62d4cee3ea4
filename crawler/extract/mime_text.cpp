#include "crawler/extract/mime_text.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "crawler/extract/charset.h"
#include "crawler/extract/html_text.h"

namespace lun {
namespace {

struct GObjectUnref {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

// Header bytes written raw in 8 bits are read as UTF-8, else GB18030: the
// charsets Chinese mail services send them in. Without them GMime falls
// back to Latin-1 and the sender's name becomes mojibake.
GMimeParserOptions* ParserOptions() {
  static GMimeParserOptions* options = [] {
    GMimeParserOptions* o = g_mime_parser_options_new();
    const char* fallback[] = {"utf-8", "gb18030", nullptr};
    g_mime_parser_options_set_fallback_charsets(o, fallback);
    return o;
  }();
  return options;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Base64 that stops at its padding and skips what is not base64.
std::string DecodeBase64(std::string_view text) {
  std::string out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const int v = Base64Value(c);
    if (v < 0) continue;
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The "Q" encoding of encoded-words: "_" is a blank, "=XX" a byte.
std::string DecodeQ(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out.push_back(' ');
    } else if (text[i] == '=' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

struct EncodedWord {
  std::string charset;  // without a "*language" suffix
  std::string bytes;    // the decoded payload
  size_t end = 0;       // offset just past "?="
};

// The encoded-word "=?charset?B|Q?text?=" starting at `pos`, if one does.
std::optional<EncodedWord> EncodedWordAt(std::string_view text, size_t pos) {
  if (text.substr(pos, 2) != "=?") return std::nullopt;
  const size_t q1 = text.find('?', pos + 2);
  if (q1 == std::string_view::npos || q1 + 2 >= text.size() || text[q1 + 2] != '?') {
    return std::nullopt;
  }
  const size_t close = text.find("?=", q1 + 3);
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view payload = text.substr(q1 + 3, close - q1 - 3);
  if (payload.find_first_of(" \t") != std::string_view::npos) return std::nullopt;
  EncodedWord word;
  word.charset = std::string(text.substr(pos + 2, q1 - pos - 2));
  word.charset = word.charset.substr(0, word.charset.find('*'));
  const char encoding = text[q1 + 1];
  if (encoding == 'B' || encoding == 'b') {
    word.bytes = DecodeBase64(payload);
  } else if (encoding == 'Q' || encoding == 'q') {
    word.bytes = DecodeQ(payload);
  } else {
    return std::nullopt;
  }
  word.end = close + 2;
  return word;
}

}  // namespace

std::u16string DecodeHeaderText(std::string_view raw) {
  std::u16string out;
  std::string words;  // payload of adjacent encoded-words in one charset
  std::string words_charset;
  std::string plain;  // raw text since the last encoded-word
  auto flush_words = [&] {
    if (words.empty()) return;
    std::u16string text;
    if (!DecodeWithCharset(words, words_charset, &text)) text = DecodeUtf8OrGb18030(words);
    out += text;
    words.clear();
  };
  size_t i = 0;
  while (i < raw.size()) {
    std::optional<EncodedWord> word = EncodedWordAt(raw, i);
    if (!word) {
      if (raw[i] != '\r' && raw[i] != '\n') plain.push_back(raw[i]);  // unfolding
      ++i;
      continue;
    }
    // White space between two encoded-words is not part of the text.
    const bool blank_gap = plain.find_first_not_of(" \t") == std::string::npos;
    if (!(blank_gap && !words.empty())) {
      flush_words();
      out += DecodeUtf8OrGb18030(plain);
    }
    plain.clear();
    // Mailers cut a multi-byte character between two words of one charset:
    // the payloads are joined before they are decoded, each decoded from
    // base64 on its own (a padded first word ends its own payload only).
    if (words_charset != word->charset) flush_words();
    words_charset = word->charset;
    words += word->bytes;
    i = word->end;
  }
  flush_words();
  out += DecodeUtf8OrGb18030(plain);
  const size_t first = out.find_first_not_of(u" \t");
  const size_t last = out.find_last_not_of(u" \t");
  return first == std::u16string::npos ? std::u16string() : out.substr(first, last - first + 1);
}

namespace {

class MimeReader {
 public:
  explicit MimeReader(size_t limit) : sink_(limit) {}

  void Message(GMimeMessage* message, int depth) {
    if (depth > kMimeMaxDepth) {
      too_deep_ = true;
      return;
    }
    Subject(message);
    AddressLine(g_mime_message_get_from(message));
    AddressLine(g_mime_message_get_to(message));
    AddressLine(g_mime_message_get_cc(message));
    if (GDateTime* date = g_mime_message_get_date(message)) {
      if (gchar* text = g_date_time_format(date, "%Y-%m-%d %H:%M:%S")) {
        Line(text);
        g_free(text);
      }
    }
    if (GMimeObject* body = g_mime_message_get_mime_part(message)) Part(body, depth);
  }

  ExtractResult Finish() {
    ExtractResult result;
    std::u16string& text = sink_.text();
    while (!text.empty() && text.back() == u'\n') text.pop_back();
    ScrubControlCharacters(&text);
    result.text = sink_.Take();
    if (too_deep_) {
      result.status = ExtractStatus::kPartial;
      result.message = "messages nested too deep";
    }
    return result;
  }

 private:
  void Line(std::string_view utf8) {
    if (utf8.empty()) return;
    sink_.AppendUtf8(utf8);
    sink_.NewLine();
  }

  // The subject from its raw header, through DecodeHeaderText: GMime joins
  // the base64 of adjacent encoded-words before decoding and loses all
  // after a padded first word.
  void Subject(GMimeMessage* message) {
    GMimeHeaderList* headers = g_mime_object_get_header_list(GMIME_OBJECT(message));
    GMimeHeader* header = headers ? g_mime_header_list_get_header(headers, "Subject") : nullptr;
    const char* raw = header ? g_mime_header_get_raw_value(header) : nullptr;
    if (!raw) return;
    const std::u16string subject = DecodeHeaderText(raw);
    if (subject.empty()) return;
    sink_.Append(subject);
    sink_.NewLine();
  }

  void AddressLine(InternetAddressList* list) {
    if (!list || internet_address_list_length(list) == 0) return;
    if (gchar* text = internet_address_list_to_string(list, nullptr, FALSE)) {
      Line(text);
      g_free(text);
    }
  }

  static bool IsText(GMimeObject* object, const char* subtype) {
    GMimeContentType* type = g_mime_object_get_content_type(object);
    return type && g_mime_content_type_is_type(type, "text", subtype);
  }

  void Part(GMimeObject* object, int depth) {
    if (sink_.full()) return;
    if (depth > kMimeMaxDepth) {
      too_deep_ = true;
      return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
      if (GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object))) {
        sink_.NewLine();
        Message(inner, depth + 1);
      }
      return;
    }
    if (GMIME_IS_MULTIPART(object)) {
      GMimeMultipart* multi = GMIME_MULTIPART(object);
      const int count = g_mime_multipart_get_count(multi);
      GMimeContentType* type = g_mime_object_get_content_type(object);
      if (type && g_mime_content_type_is_type(type, "multipart", "alternative")) {
        // The same text several times over: take the plain version, else the first.
        for (int i = 0; i < count; ++i) {
          GMimeObject* child = g_mime_multipart_get_part(multi, i);
          if (IsText(child, "plain")) return Part(child, depth + 1);
        }
        if (count > 0) Part(g_mime_multipart_get_part(multi, 0), depth + 1);
        return;
      }
      for (int i = 0; i < count && !sink_.full(); ++i) {
        Part(g_mime_multipart_get_part(multi, i), depth + 1);
      }
      return;
    }
    if (!GMIME_IS_PART(object)) return;
    GMimePart* part = GMIME_PART(object);
    const char* filename = g_mime_part_get_filename(part);
    const bool attachment = g_mime_part_is_attachment(part) || filename;
    const bool plain = IsText(object, "plain");
    const bool html = IsText(object, "html");
    if (attachment && !(plain || html)) {
      if (filename) Line(filename);
      return;
    }
    if (!plain && !html) return;
    if (attachment && filename) Line(filename);
    GMimeDataWrapper* content = g_mime_part_get_content(part);
    if (!content) return;
    GPtr<GMimeStream> memory(g_mime_stream_mem_new());
    if (g_mime_data_wrapper_write_to_stream(content, memory.get()) < 0) return;
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memory.get()));
    if (!bytes) return;
    const std::string_view data(reinterpret_cast<const char*>(bytes->data), bytes->len);
    const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
    sink_.NewLine();
    if (html) {
      HtmlToText(data, &sink_, charset ? charset : "");
    } else {
      sink_.Append(DecodeText(data, charset ? charset : ""));
    }
    sink_.NewLine();
  }

  TextSink sink_;
  bool too_deep_ = false;
};

}  // namespace

ExtractResult MimeText(std::string_view bytes, size_t limit) {
  InitGMime();
  GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size()));
  if (!stream) return {ExtractStatus::kDamaged, {}, "cannot read the message"};
  GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), ParserOptions()));
  if (!message) return {ExtractStatus::kDamaged, {}, "not a mail message"};
  MimeReader reader(limit);
  reader.Message(message.get(), 0);
  return reader.Finish();
}

}  // namespace lun
