#include "crawler/extract/ppt_text.h"

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-utils.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "crawler/extract/charset.h"

namespace lun {
namespace {

constexpr uint16_t kMainMaster = 0x03F8;
constexpr uint16_t kTextCharsAtom = 0x0FA0;
constexpr uint16_t kTextBytesAtom = 0x0FA8;
constexpr size_t kHeaderBytes = 8;

uint16_t U16(std::string_view b, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                               (static_cast<unsigned char>(b[at + 1]) << 8));
}

uint32_t U32(std::string_view b, size_t at) {
  return static_cast<uint32_t>(U16(b, at)) | (static_cast<uint32_t>(U16(b, at + 2)) << 16);
}

class RecordWalker {
 public:
  explicit RecordWalker(size_t limit) : sink_(limit) {}

  // Reads the records of `data` (the body of a container, or the stream).
  void Walk(std::string_view data, int depth) {
    if (depth > kPptMaxDepth) {
      damaged_ = true;
      return;
    }
    size_t at = 0;
    while (at + kHeaderBytes <= data.size() && !sink_.full()) {
      const uint16_t ver_instance = U16(data, at);
      const uint16_t type = U16(data, at + 2);
      const uint32_t length = U32(data, at + 4);
      at += kHeaderBytes;
      if (length > data.size() - at) {
        damaged_ = true;  // cut short: what fits is still read
        Record(type, ver_instance, data.substr(at), depth);
        return;
      }
      Record(type, ver_instance, data.substr(at, length), depth);
      at += length;
    }
  }

  ExtractResult Finish() {
    std::u16string& text = sink_.text();
    while (!text.empty() && text.back() == u'\n') text.pop_back();
    ScrubControlCharacters(&text);
    ExtractResult result{ExtractStatus::kOk, sink_.Take(), {}};
    if (damaged_) {
      result.status = ExtractStatus::kPartial;
      result.message = "records run past their container";
    }
    return result;
  }

 private:
  void Record(uint16_t type, uint16_t ver_instance, std::string_view body, int depth) {
    const bool container = (ver_instance & 0x0F) == 0x0F;
    if (container) {
      if (type != kMainMaster) Walk(body, depth + 1);
      return;
    }
    if (type == kTextCharsAtom) {
      std::u16string text(body.size() / 2, u'\0');
      for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(U16(body, 2 * i));
      Take(std::move(text));
    } else if (type == kTextBytesAtom) {
      std::u16string text(body.size(), u'\0');
      for (size_t i = 0; i < body.size(); ++i) {
        text[i] = static_cast<unsigned char>(body[i]);
      }
      Take(std::move(text));
    }
  }

  void Take(std::u16string text) {
    for (char16_t& c : text) {
      if (c == u'\r' || c == u'\v') c = u'\n';  // paragraph, line break
    }
    if (text.find_first_not_of(u" \n\t") == std::u16string::npos) return;
    if (!seen_.insert(text).second) return;
    sink_.Append(text);
    sink_.NewLine();
  }

  TextSink sink_;
  std::unordered_set<std::u16string> seen_;
  bool damaged_ = false;
};

struct GObjectUnref {
  void operator()(void* p) const {
    if (p) g_object_unref(p);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

void InitGsf() {
  static std::once_flag once;
  std::call_once(once, [] { gsf_init(); });
}

}  // namespace

ExtractResult PptStreamText(std::string_view stream, size_t limit) {
  RecordWalker walker(limit);
  walker.Walk(stream, 0);
  return walker.Finish();
}

ExtractResult PptText(std::string_view bytes, size_t limit) {
  InitGsf();
  GPtr<GsfInput> input(gsf_input_memory_new(reinterpret_cast<const guint8*>(bytes.data()),
                                            static_cast<gsf_off_t>(bytes.size()), FALSE));
  if (!input) return {ExtractStatus::kDamaged, {}, "cannot read the file"};
  GPtr<GsfInfile> ole(gsf_infile_msole_new(input.get(), nullptr));
  if (!ole) return {ExtractStatus::kDamaged, {}, "not an OLE compound file"};
  GPtr<GsfInput> stream(gsf_infile_child_by_name(ole.get(), "PowerPoint Document"));
  if (!stream) return {ExtractStatus::kDamaged, {}, "no PowerPoint Document stream"};
  const gsf_off_t size = gsf_input_size(stream.get());
  // The stream is read whole: it cannot be larger than the file holding it.
  if (size < 0 || static_cast<uint64_t>(size) > bytes.size()) {
    return {ExtractStatus::kDamaged, {}, "PowerPoint Document stream larger than the file"};
  }
  std::string data(static_cast<size_t>(size), '\0');
  if (size > 0 && !gsf_input_read(stream.get(), static_cast<size_t>(size),
                                  reinterpret_cast<guint8*>(data.data()))) {
    return {ExtractStatus::kDamaged, {}, "cannot read the PowerPoint Document stream"};
  }
  return PptStreamText(data, limit);
}

}  // namespace lun
