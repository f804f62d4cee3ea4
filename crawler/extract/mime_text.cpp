#include "crawler/extract/mime_text.h"

#include <gmime/gmime.h>

#include <memory>
#include <mutex>
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

class MimeReader {
 public:
  explicit MimeReader(size_t limit) : sink_(limit) {}

  void Message(GMimeMessage* message, int depth) {
    if (depth > kMimeMaxDepth) {
      too_deep_ = true;
      return;
    }
    if (const char* subject = g_mime_message_get_subject(message)) Line(subject);
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
    if (attachment && !(plain || html) ) {
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
  GPtr<GMimeMessage> message(g_mime_parser_construct_message(parser.get(), nullptr));
  if (!message) return {ExtractStatus::kDamaged, {}, "not a mail message"};
  MimeReader reader(limit);
  reader.Message(message.get(), 0);
  return reader.Finish();
}

}  // namespace lun
