// Encoding and decoding of field values in record bodies (record_format.h).
//
// Pure functions over byte buffers: no files, no locks. Decoders take the
// bytes they are given as untrusted (a damaged data file is expected input)
// and report corruption instead of reading past the end.
//
// Thread safety: all functions are reentrant.
#ifndef LUN_ENGINE_STORAGE_VALUE_CODEC_H_
#define LUN_ENGINE_STORAGE_VALUE_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"
#include "engine/storage/record_format.h"
#include "platform/coding.h"

struct z_stream_s;

namespace lun {

// The display name of a field type ("文本", "整型" ...); "未知" for 0 and for
// codes outside 0-8.
const char* FieldTypeName(int type);
// The type code of a display name; -1 when `name` names no type.
int FieldTypeFromName(std::string_view name);
// Text and document fields hold UTF-16 text.
inline bool IsTextType(int type) { return type == kFieldText || type == kFieldDocument; }
// Types whose value carries a 4-byte length (text, document, binary).
inline bool IsLengthPrefixed(int type) { return IsTextType(type) || type == kFieldBinary; }
// The width of a fixed-width type's value (0 for unknown types).
size_t FixedWidth(int type);

// Appends the encoding of `value` for a field of `type` to `*out`.
// Number, logical and date values that are not of the type's variant type
// (VT_I4, VT_R4, VT_R8, VT_BOOL, VT_DATE) are converted first; text values
// are converted to a string and taken up to their first NUL; Empty and Null
// store zeros (fixed widths) or a length of 0. Returns S_OK, or the failure
// of the conversion (DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW ...), in which case
// `*out` is unchanged. With `stored`, also gives the value as a reader will
// get it back (StoredValueToVariant of the encoding), without decoding.
[[nodiscard]] HResult EncodeFieldValue(int type, const Variant& value, std::string* out,
                                       Variant* stored = nullptr);

// Appends a text value (length, method byte, plain or gzip) to `*out`.
void EncodeTextValue(std::u16string_view text, std::string* out);

// Where the value of a field of `type` lies in `body`, starting at `pos`:
// the stored bytes (after the length word of length-prefixed types) are
// body[value_pos, value_pos + value_size), and the next field starts at
// `end`. False when the value does not fit inside the body.
struct ValueExtent {
  size_t value_pos = 0;
  size_t value_size = 0;
  size_t end = 0;
};
[[nodiscard]] bool LocateValue(int type, std::string_view body, size_t pos, ValueExtent* extent);

// The raw form of a stored value, as ReadFieldRaw hands it out: for text and
// document the UTF-16LE text (decompressed when method 1), for other types
// the stored bytes. False when the stored bytes are damaged (bad method
// byte, bad gzip member, wrong CRC or size).
[[nodiscard]] bool RawFieldBytes(int type, std::string_view stored, std::string* raw);

// Decodes a stored text value (method byte and payload, without the length)
// into UTF-16. An empty `stored` gives an empty text. False when damaged.
[[nodiscard]] bool DecodeTextValue(std::string_view stored, std::u16string* text);

// The stored value as a Variant (what GetFieldValue gives): text and
// document VT_BSTR (empty string for length 0), integer VT_I4, single VT_R4,
// double VT_R8, logical VT_BOOL (true when the byte is 1), date VT_DATE,
// binary the string "二进制数据", unknown types Empty. A damaged value gives
// Empty and false.
[[nodiscard]] bool StoredValueToVariant(int type, std::string_view stored, Variant* value);

// Checks that a binary field's stored bytes are one well-formed variant
// stream (the checker uses it). An empty value is well formed.
[[nodiscard]] bool IsWellFormedVariantStream(std::string_view stored);

// Gzip member of `bytes` in the form of record_format.h; and its inverse.
// GunzipMember checks the header, the deflate stream, the CRC-32 and the
// byte count, and never produces more than the byte count says.
std::string GzipRecordMember(std::string_view bytes);
[[nodiscard]] bool GunzipRecordMember(std::string_view member, std::string* bytes);

// Reads a stored text value (method byte and payload, as DecodeTextValue
// takes it) piece by piece from the start, decoding only as far as the
// caller goes: a snippet near the start of a long text costs the first
// pieces, not the whole text. `stored` must outlive the reader.
//
// A reader that stops early cannot check the CRC-32 (it covers the whole
// text); damage in the deflate stream or a byte count that disagrees with
// the trailer is still found, and a reader that goes to the end checks the
// CRC-32 as DecodeTextValue does.
//
// Not thread-safe; one reader per use.
class StoredTextReader {
 public:
  explicit StoredTextReader(std::string_view stored);
  ~StoredTextReader();
  StoredTextReader(const StoredTextReader&) = delete;
  StoredTextReader& operator=(const StoredTextReader&) = delete;

  // The length of the text in UTF-16 units, as the value records it.
  size_t size() const { return size_; }
  // Appends the next piece of the text (at most one seek chunk) to `*text`.
  // False at the end of the text and on damage (then damaged() is true and
  // nothing more is read).
  bool Next(std::u16string* text);
  bool damaged() const { return damaged_; }
  // Moves to the chunk that holds unit `unit` (clamped to the text) through
  // the member's seek table, and returns the unit the next piece starts at.
  // Without a sound table the reader goes back to the start of the text,
  // which it returns; a chunk that does not inflate alone also sends it
  // back to the start, so a damaged table costs time, never text.
  size_t SeekNear(size_t unit);

 private:
  // Inflates up to `max_bytes` more bytes of text into scratch_; false on
  // damage.
  bool Inflate(size_t max_bytes);
  bool InflateFromHere(size_t max_bytes);
  void StartChunk(size_t chunk);
  void Fail();

  std::string_view plain_;        // method 0: the UTF-16LE bytes
  std::string_view deflated_;     // method 1: the raw deflate data
  std::vector<uint32_t> starts_;  // deflate offset of chunk k; {0} without a table
  uint32_t chunk_bytes_ = 0;      // 0: no sound seek table
  uint32_t want_crc_ = 0;
  size_t size_ = 0;         // units
  size_t pos_ = 0;          // byte offset in the text of the next piece
  bool from_start_ = true;  // crc_ covers bytes [0, pos_)
  uint32_t crc_ = 0;
  bool damaged_ = false;
  bool done_ = false;
  std::string scratch_;
  std::unique_ptr<z_stream_s> zs_;  // live while deflated_ is read
};

}  // namespace lun

#endif  // LUN_ENGINE_STORAGE_VALUE_CODEC_H_
