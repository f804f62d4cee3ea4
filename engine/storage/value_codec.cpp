#include "engine/storage/value_codec.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>

namespace lun {
namespace {

using namespace record_format;

constexpr std::array<const char*, 9> kTypeNames = {
    "未知", "文本", "整型", "单精度小数", "双精度小数", "逻辑", "日期", "二进制", "文档",
};

constexpr char16_t kBinaryPlaceholder[] = u"二进制数据";

// Text larger than this is refused by the writer and taken as damage by the
// reader, so that a damaged length or gzip trailer cannot make a reader
// allocate without bound. 1 GiB of UTF-16 is far beyond any document text.
constexpr size_t kMaxTextBytes = size_t{1} << 30;

void AppendBytes(std::string* out, const void* p, size_t n) {
  out->append(static_cast<const char*>(p), n);
}

void AppendUtf16Le(std::u16string_view text, std::string* out) {
  const size_t start = out->size();
  out->resize(start + text.size() * 2);
  char* p = out->data() + start;
  for (char16_t c : text) {
    *p++ = static_cast<char>(c & 0xFF);
    *p++ = static_cast<char>(c >> 8);
  }
}

bool Utf16LeToText(std::string_view bytes, std::u16string* text) {
  if (bytes.size() % 2 != 0) return false;
  text->resize(bytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < text->size(); ++i) {
    (*text)[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
  return true;
}

// `value` converted to `to` unless it already has that type.
HResult Coerce(const Variant& value, VarType to, Variant* out) {
  if (value.type() == to) {
    *out = value;
    return S_OK;
  }
  return ChangeType(value, to, out);
}

HResult TextOf(const Variant& value, std::u16string* text) {
  Variant s;
  if (const HResult hr = Coerce(value, VT_BSTR, &s); hr != S_OK) return hr;
  std::u16string_view view = s.AsString();
  // Text is taken up to its first NUL, as a C string would be.
  if (const size_t nul = view.find(u'\0'); nul != std::u16string_view::npos) {
    view = view.substr(0, nul);
  }
  *text = std::u16string(view);
  return S_OK;
}

// Width of a scalar VARTYPE in the variant stream; 0 for types written as
// text, kClassIdSize for objects.
size_t StreamWidth(uint16_t vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_BOOL:
    case VT_UI2:
      return 2;
    case VT_I4:
    case VT_R4:
    case VT_ERROR:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return kClassIdSize;
    default:
      return 0;
  }
}

HResult EncodeVariantStream(const Variant& value, std::string* stream) {
  const uint16_t vt = static_cast<uint16_t>(value.type());
  char type_bytes[2] = {static_cast<char>(vt & 0xFF), static_cast<char>(vt >> 8)};
  const size_t width = StreamWidth(vt);
  if (width == 0) {
    std::u16string text;
    if (const HResult hr = TextOf(value, &text); hr != S_OK) return hr;
    stream->append(type_bytes, 2);
    PutFixed32(stream, static_cast<uint32_t>((text.size() + 1) * 2));
    AppendUtf16Le(text, stream);
    stream->append(2, '\0');
    return S_OK;
  }
  stream->append(type_bytes, 2);
  if (vt == VT_UNKNOWN || vt == VT_DISPATCH) {
    // Objects have no persistence interface here: the null class identifier.
    stream->append(kClassIdSize, '\0');
  } else if (vt == VT_R4) {
    const float f = static_cast<float>(value.AsDouble());
    AppendBytes(stream, &f, 4);
  } else if (vt == VT_R8 || vt == VT_DATE) {
    const double d = value.AsDouble();
    AppendBytes(stream, &d, 8);
  } else {
    const uint64_t v = static_cast<uint64_t>(value.AsInteger());
    char b[8];
    EncodeFixed64(b, v);
    stream->append(b, width);
  }
  return S_OK;
}

}  // namespace

const char* FieldTypeName(int type) {
  if (type < 0 || type >= static_cast<int>(kTypeNames.size())) return kTypeNames[0];
  return kTypeNames[static_cast<size_t>(type)];
}

int FieldTypeFromName(std::string_view name) {
  for (size_t i = 0; i < kTypeNames.size(); ++i) {
    if (name == kTypeNames[i]) return static_cast<int>(i);
  }
  return -1;
}

size_t FixedWidth(int type) {
  switch (type) {
    case kFieldInteger:
    case kFieldSingle:
      return 4;
    case kFieldDouble:
    case kFieldDate:
      return 8;
    case kFieldLogical:
      return 1;
    default:
      return 0;
  }
}

// Record text is compressed on the committing thread for every record, so
// the level is chosen for speed: level 1 deflates several times faster
// than the default and stores document text only a little larger. Any
// level decodes the same.
constexpr int kRecordDeflateLevel = 1;

namespace {

// A member as found in a stored value: its deflate data, its trailer, and
// its seek table when it carries a sound one.
struct MemberLayout {
  std::string_view deflated;
  uint32_t crc = 0;
  uint32_t size = 0;             // bytes of text, from the trailer
  uint32_t chunk_bytes = 0;      // 0: no sound seek table
  std::vector<uint32_t> starts;  // deflate offset of chunk k; starts[0] = 0
};

// The seek table's data: u32 chunk bytes, u32 n, n x u32 offsets of chunks
// 1..n, u32 CRC-32 of what precedes. Anything that does not add up leaves
// the layout without a table: the text is then read from the start.
void ReadSeekTable(std::string_view data, MemberLayout* m) {
  if (data.size() < 12) return;
  const uint32_t chunk = DecodeFixed32(data.data());
  const uint32_t n = DecodeFixed32(data.data() + 4);
  if (chunk < 2 || chunk % 2 != 0 || data.size() != 12 + size_t{n} * 4) return;
  const size_t crc_at = data.size() - 4;
  if (DecodeFixed32(data.data() + crc_at) !=
      static_cast<uint32_t>(
          crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(crc_at)))) {
    return;
  }
  if (m->size == 0 || (m->size - 1) / chunk != n) return;
  std::vector<uint32_t> starts{0};
  for (uint32_t k = 0; k < n; ++k) {
    const uint32_t at = DecodeFixed32(data.data() + 8 + size_t{k} * 4);
    if (at <= starts.back() || at >= m->deflated.size()) return;
    starts.push_back(at);
  }
  m->chunk_bytes = chunk;
  m->starts = std::move(starts);
}

// False when the header or trailer is not ours. A member without a sound
// seek table is still read, from the start.
bool ParseMember(std::string_view member, MemberLayout* m) {
  if (member.size() < kGzipHeaderSize + kGzipTrailerSize) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(member.data());
  if (p[0] != kGzipHeader[0] || p[1] != kGzipHeader[1] || p[2] != kGzipHeader[2]) return false;
  // Our writer sets no header flag but FEXTRA, and that only for a seek
  // table; the other optional header fields are not read.
  if (p[3] != 0 && p[3] != kGzipFlagExtra) return false;
  size_t deflate_at = kGzipHeaderSize;
  std::string_view extra;
  if (p[3] == kGzipFlagExtra) {
    if (member.size() < kGzipHeaderSize + 2 + kGzipTrailerSize) return false;
    const size_t xlen = DecodeFixed16(p + kGzipHeaderSize);
    deflate_at = kGzipHeaderSize + 2 + xlen;
    if (deflate_at > member.size() - kGzipTrailerSize) return false;
    extra = member.substr(kGzipHeaderSize + 2, xlen);
  }
  m->deflated = member.substr(deflate_at, member.size() - deflate_at - kGzipTrailerSize);
  m->crc = DecodeFixed32(p + member.size() - 8);
  m->size = DecodeFixed32(p + member.size() - 4);
  if (m->size > kMaxTextBytes) return false;
  // Subfields: two id bytes, u16 length, data.
  while (extra.size() >= 4) {
    const size_t len = DecodeFixed16(extra.data() + 2);
    if (len > extra.size() - 4) break;
    if (extra[0] == kSeekTableId[0] && extra[1] == kSeekTableId[1]) {
      ReadSeekTable(extra.substr(4, len), m);
      break;
    }
    extra.remove_prefix(4 + len);
  }
  return true;
}

// The chunk size of a text of `bytes` bytes: 32 KiB, doubled while the
// table would not fit the header's extra field.
uint32_t SeekChunkBytes(size_t bytes) {
  uint32_t chunk = kSeekChunkBytes;
  while ((bytes - 1) / chunk > kMaxSeekEntries) chunk *= 2;
  return chunk;
}

}  // namespace

namespace {

// Appends the raw deflate stream of `bytes` in one piece. libdeflate's
// whole-buffer compressor, kept per thread, deflates document text about
// twice as fast as zlib at level 1 and a little smaller.
bool DeflateWhole(std::string_view bytes, std::string* out) {
  thread_local const std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)>
      compressor(libdeflate_alloc_compressor(kRecordDeflateLevel), libdeflate_free_compressor);
  if (!compressor) return false;
  const size_t at = out->size();
  out->resize(at + libdeflate_deflate_compress_bound(compressor.get(), bytes.size()));
  const size_t n = libdeflate_deflate_compress(compressor.get(), bytes.data(), bytes.size(),
                                               out->data() + at, out->size() - at);
  out->resize(at + n);
  return n != 0;
}

// Appends the raw deflate stream of `bytes` with a full flush after every
// `chunk` bytes, writing the deflate offset at which chunk k + 1 begins to
// offsets[4k]. Only zlib's streaming deflate writes flush points. A full
// flush ends each chunk on a byte boundary with a fresh dictionary, so
// inflation may start at the next chunk's offset.
bool DeflateChunked(std::string_view bytes, uint32_t chunk, size_t entries, std::string* out,
                    size_t offsets_at) {
  z_stream zs{};
  if (deflateInit2(&zs, kRecordDeflateLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return false;
  }
  const size_t at = out->size();
  // A full flush costs at most a few bytes beyond deflateBound's count.
  out->resize(at + deflateBound(&zs, static_cast<uLong>(bytes.size())) + 16 * (entries + 1));
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.next_out = reinterpret_cast<Bytef*>(out->data() + at);
  zs.avail_out = static_cast<uInt>(out->size() - at);
  bool ok = true;
  for (size_t k = 0; ok && k <= entries; ++k) {
    const size_t from = k * chunk;
    const size_t to = k == entries ? bytes.size() : from + chunk;
    zs.avail_in = static_cast<uInt>(to - from);
    const int rc = deflate(&zs, k == entries ? Z_FINISH : Z_FULL_FLUSH);
    ok = k == entries ? rc == Z_STREAM_END : rc == Z_OK && zs.avail_in == 0 && zs.avail_out > 0;
    if (ok && k < entries) {
      EncodeFixed32(out->data() + offsets_at + k * 4, static_cast<uint32_t>(zs.total_out));
    }
  }
  out->resize(at + zs.total_out);
  deflateEnd(&zs);
  return ok;
}

}  // namespace

std::string GzipRecordMember(std::string_view bytes) {
  // Text longer than one chunk gets the seek table; shorter text keeps the
  // fixed header.
  const bool seekable = bytes.size() > kSeekChunkBytes;
  // Raw deflate: the gzip framing is written by hand, so that every header
  // byte is the one the format fixes.
  std::string out(reinterpret_cast<const char*>(kGzipHeader), kGzipHeaderSize);
  if (!seekable) {
    if (!DeflateWhole(bytes, &out)) return {};
  } else {
    const uint32_t chunk = SeekChunkBytes(bytes.size());
    const size_t entries = (bytes.size() - 1) / chunk;
    out[3] = static_cast<char>(kGzipFlagExtra);
    const size_t data_size = 12 + entries * 4;
    char head[6];
    EncodeFixed16(head, static_cast<uint16_t>(4 + data_size));
    head[2] = kSeekTableId[0];
    head[3] = kSeekTableId[1];
    EncodeFixed16(head + 4, static_cast<uint16_t>(data_size));
    out.append(head, 6);
    const size_t table_at = out.size();
    out.resize(table_at + data_size);
    EncodeFixed32(out.data() + table_at, chunk);
    EncodeFixed32(out.data() + table_at + 4, static_cast<uint32_t>(entries));
    if (!DeflateChunked(bytes, chunk, entries, &out, table_at + 8)) return {};
    const size_t crc_at = table_at + 8 + entries * 4;
    EncodeFixed32(out.data() + crc_at,
                  libdeflate_crc32(0, out.data() + table_at, crc_at - table_at));
  }
  PutFixed32(&out, libdeflate_crc32(0, bytes.data(), bytes.size()));
  PutFixed32(&out, static_cast<uint32_t>(bytes.size()));
  return out;
}

bool GunzipRecordMember(std::string_view member, std::string* bytes) {
  bytes->clear();
  MemberLayout m;
  if (!ParseMember(member, &m)) return false;
  const uint32_t want_size = m.size;
  const uint32_t want_crc = m.crc;

  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(m.deflated.data()));
  zs.avail_in = static_cast<uInt>(m.deflated.size());
  // Output grows in 4096-byte steps as data really arrives, never by the
  // size the trailer claims, and may not pass that size.
  constexpr size_t kStep = 4096;
  int rc = Z_OK;
  bool ok = true;
  while (rc == Z_OK) {
    const size_t have = bytes->size();
    const size_t room = std::min<size_t>(kStep, size_t{want_size} + 1 - have);
    if (room == 0) {
      ok = false;
      break;
    }
    bytes->resize(have + room);
    zs.next_out = reinterpret_cast<Bytef*>(bytes->data() + have);
    zs.avail_out = static_cast<uInt>(room);
    rc = inflate(&zs, Z_NO_FLUSH);
    bytes->resize(have + room - zs.avail_out);
    if (bytes->size() > want_size) ok = false;
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;  // input ran out early
    if (rc == Z_BUF_ERROR) rc = Z_OK;
    if (!ok) break;
  }
  const bool whole = rc == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  if (!ok || !whole || bytes->size() != want_size) return false;
  const uLong crc =
      crc32(0, reinterpret_cast<const Bytef*>(bytes->data()), static_cast<uInt>(bytes->size()));
  return static_cast<uint32_t>(crc) == want_crc;
}

void EncodeTextValue(std::u16string_view text, std::string* out) {
  if (text.empty()) {
    PutFixed32(out, 0);
    return;
  }
  std::string plain;
  AppendUtf16Le(text, &plain);
  const std::string member = GzipRecordMember(plain);
  // The member is kept only when it is smaller than the text plus one byte;
  // a failed compression (empty member) stores the text as is.
  if (!member.empty() && member.size() < plain.size() + 1) {
    PutFixed32(out, static_cast<uint32_t>(member.size() + 1));
    out->push_back(static_cast<char>(kMethodGzip));
    out->append(member);
  } else {
    PutFixed32(out, static_cast<uint32_t>(plain.size() + 1));
    out->push_back(static_cast<char>(kMethodPlain));
    out->append(plain);
  }
}

namespace {
HResult EncodeOne(int type, const Variant& value, std::string* out, Variant* stored);
}  // namespace

HResult EncodeFieldValue(int type, const Variant& value, std::string* out, Variant* stored) {
  const size_t start = out->size();
  const HResult hr = EncodeOne(type, value, out, stored);
  if (hr != S_OK) out->resize(start);
  return hr;
}

namespace {

HResult EncodeOne(int type, const Variant& value, std::string* out, Variant* stored) {
  const bool none = value.is_empty() || value.is_null();
  Variant ignored;
  if (!stored) stored = &ignored;
  *stored = Variant();
  switch (type) {
    case kFieldText:
    case kFieldDocument: {
      if (none) {
        PutFixed32(out, 0);
        *stored = Variant::Bstr(u"");
        return S_OK;
      }
      std::u16string text;
      if (const HResult hr = TextOf(value, &text); hr != S_OK) return hr;
      if (text.size() * 2 > kMaxTextBytes) return E_OUTOFMEMORY;
      EncodeTextValue(text, out);
      *stored = Variant::Bstr(std::move(text));
      return S_OK;
    }
    case kFieldInteger: {
      int32_t v = 0;
      if (!none) {
        Variant c;
        if (const HResult hr = Coerce(value, VT_I4, &c); hr != S_OK) return hr;
        v = static_cast<int32_t>(c.AsInteger());
      }
      AppendBytes(out, &v, 4);
      *stored = Variant::I4(v);
      return S_OK;
    }
    case kFieldSingle: {
      float v = 0;
      if (!none) {
        Variant c;
        if (const HResult hr = Coerce(value, VT_R4, &c); hr != S_OK) return hr;
        v = static_cast<float>(c.AsDouble());
      }
      AppendBytes(out, &v, 4);
      *stored = Variant::R4(v);
      return S_OK;
    }
    case kFieldDouble:
    case kFieldDate: {
      double v = 0;
      if (!none) {
        Variant c;
        if (const HResult hr = Coerce(value, type == kFieldDate ? VT_DATE : VT_R8, &c);
            hr != S_OK) {
          return hr;
        }
        v = c.AsDouble();
      }
      AppendBytes(out, &v, 8);
      *stored = type == kFieldDate ? Variant::Date(v) : Variant::R8(v);
      return S_OK;
    }
    case kFieldLogical: {
      bool v = false;
      if (!none) {
        Variant c;
        if (const HResult hr = Coerce(value, VT_BOOL, &c); hr != S_OK) return hr;
        v = c.AsBool();
      }
      out->push_back(v ? 1 : 0);
      *stored = Variant::Bool(v);
      return S_OK;
    }
    case kFieldBinary: {
      *stored = Variant::Bstr(kBinaryPlaceholder);
      if (none) {
        PutFixed32(out, 0);
        return S_OK;
      }
      std::string stream;
      if (const HResult hr = EncodeVariantStream(value, &stream); hr != S_OK) return hr;
      if (stream.size() > kMaxTextBytes) return E_OUTOFMEMORY;
      PutFixed32(out, static_cast<uint32_t>(stream.size()));
      out->append(stream);
      return S_OK;
    }
    default:
      return S_OK;  // unknown types store nothing
  }
}

}  // namespace

bool LocateValue(int type, std::string_view body, size_t pos, ValueExtent* extent) {
  if (pos > body.size()) return false;
  const size_t left = body.size() - pos;
  if (IsLengthPrefixed(type)) {
    if (left < kLengthSize) return false;
    const uint32_t n = DecodeFixed32(body.data() + pos);
    if (left - kLengthSize < n) return false;
    *extent = {pos + kLengthSize, n, pos + kLengthSize + n};
    return true;
  }
  const size_t width = FixedWidth(type);
  if (left < width) return false;
  *extent = {pos, width, pos + width};
  return true;
}

bool RawFieldBytes(int type, std::string_view stored, std::string* raw) {
  if (!IsTextType(type)) {
    raw->assign(stored);
    return true;
  }
  raw->clear();
  if (stored.empty()) return true;
  const uint8_t method = static_cast<uint8_t>(stored[0]);
  if (method == kMethodPlain) {
    raw->assign(stored.substr(1));
    return raw->size() % 2 == 0;
  }
  if (method == kMethodGzip) {
    return GunzipRecordMember(stored.substr(1), raw) && raw->size() % 2 == 0;
  }
  return false;
}

bool DecodeTextValue(std::string_view stored, std::u16string* text) {
  std::string raw;
  if (!RawFieldBytes(kFieldText, stored, &raw)) return false;
  return Utf16LeToText(raw, text);
}

// ---------------------------------------------------------------- reader

namespace {
// Pieces are small, so a snippet near the start of a text decodes little
// more than it shows; a chunk is a whole number of pieces.
constexpr size_t kPieceBytes = 16384;
}  // namespace

StoredTextReader::StoredTextReader(std::string_view stored) {
  starts_.push_back(0);
  if (stored.empty()) {
    done_ = true;
    return;
  }
  const uint8_t method = static_cast<uint8_t>(stored[0]);
  if (method == kMethodPlain) {
    plain_ = stored.substr(1);
    if (plain_.size() % 2 != 0) {
      Fail();
      return;
    }
    size_ = plain_.size() / 2;
    return;
  }
  MemberLayout m;
  if (method != kMethodGzip || !ParseMember(stored.substr(1), &m) || m.size % 2 != 0) {
    Fail();
    return;
  }
  zs_ = std::make_unique<z_stream>();
  if (inflateInit2(zs_.get(), -MAX_WBITS) != Z_OK) {
    zs_.reset();
    Fail();
    return;
  }
  deflated_ = m.deflated;
  want_crc_ = m.crc;
  size_ = m.size / 2;
  if (m.chunk_bytes != 0) {
    chunk_bytes_ = m.chunk_bytes;
    starts_ = std::move(m.starts);
  }
  StartChunk(0);
}

StoredTextReader::~StoredTextReader() {
  if (zs_) inflateEnd(zs_.get());
}

void StoredTextReader::Fail() {
  damaged_ = true;
  done_ = true;
  size_ = 0;
}

void StoredTextReader::StartChunk(size_t chunk) {
  inflateReset(zs_.get());
  zs_->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated_.data())) + starts_[chunk];
  zs_->avail_in = static_cast<uInt>(deflated_.size() - starts_[chunk]);
  pos_ = chunk * size_t{chunk_bytes_};
  from_start_ = chunk == 0;
  crc_ = 0;
  done_ = false;
}

size_t StoredTextReader::SeekNear(size_t unit) {
  if (damaged_) return 0;
  const size_t byte = std::min(unit, size_) * 2;
  if (!zs_) {
    pos_ = byte;
    done_ = false;
    return unit < size_ ? unit : size_;
  }
  const size_t chunk =
      chunk_bytes_ == 0 ? 0 : std::min<size_t>(byte / chunk_bytes_, starts_.size() - 1);
  StartChunk(chunk);
  return pos_ / 2;
}

bool StoredTextReader::InflateFromHere(size_t max_bytes) {
  const size_t left = size_ * 2 - pos_;
  const size_t want = std::min(max_bytes, left);
  const bool last = want == left;
  // One spare byte at the end of the text: a stream that goes on past the
  // byte count fills it and is caught.
  scratch_.resize(want + (last ? 1 : 0));
  zs_->next_out = reinterpret_cast<Bytef*>(scratch_.data());
  zs_->avail_out = static_cast<uInt>(scratch_.size());
  int rc = Z_OK;
  while (rc == Z_OK && zs_->avail_out > 0) rc = inflate(zs_.get(), Z_NO_FLUSH);
  const size_t got = scratch_.size() - zs_->avail_out;
  scratch_.resize(got);
  const bool whole =
      last ? rc == Z_STREAM_END && zs_->avail_in == 0 && got == want : rc == Z_OK && got == want;
  if (!whole) return false;
  if (from_start_)
    crc_ = static_cast<uint32_t>(
        crc32(crc_, reinterpret_cast<const Bytef*>(scratch_.data()), static_cast<uInt>(got)));
  if (last && from_start_ && crc_ != want_crc_) return false;
  pos_ += got;
  done_ = last;
  return true;
}

bool StoredTextReader::Inflate(size_t max_bytes) {
  if (InflateFromHere(max_bytes)) return true;
  if (from_start_) return false;
  // Started at a chunk of the seek table and the stream did not hold: read
  // from the start instead, up to where this piece begins.
  const size_t target = pos_;
  chunk_bytes_ = 0;
  starts_.assign(1, 0);
  StartChunk(0);
  while (pos_ < target) {
    if (!InflateFromHere(std::min(kPieceBytes, target - pos_))) return false;
  }
  return InflateFromHere(max_bytes);
}

bool StoredTextReader::Next(std::u16string* text) {
  if (done_) return false;
  std::string_view bytes;
  if (zs_) {
    if (!Inflate(kPieceBytes)) {
      Fail();
      return false;
    }
    bytes = scratch_;
  } else {
    bytes = plain_.substr(pos_, std::min(kPieceBytes, plain_.size() - pos_));
    pos_ += bytes.size();
    done_ = pos_ == plain_.size();
  }
  const size_t start = text->size();
  text->resize(start + bytes.size() / 2);
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size() / 2; ++i) {
    (*text)[start + i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  }
  return !bytes.empty();
}

bool StoredValueToVariant(int type, std::string_view stored, Variant* value) {
  *value = Variant();
  if (IsTextType(type)) {
    std::u16string text;
    if (!DecodeTextValue(stored, &text)) return false;
    *value = Variant::Bstr(std::move(text));
    return true;
  }
  if (type == kFieldBinary) {
    *value = Variant::Bstr(kBinaryPlaceholder);
    return true;
  }
  const size_t width = FixedWidth(type);
  if (width == 0) return true;  // unknown types hold nothing
  if (stored.size() != width) return false;
  const char* p = stored.data();
  switch (type) {
    case kFieldInteger:
      *value = Variant::I4(static_cast<int32_t>(DecodeFixed32(p)));
      return true;
    case kFieldSingle: {
      float f;
      std::memcpy(&f, p, 4);
      *value = Variant::R4(f);
      return true;
    }
    case kFieldDouble:
    case kFieldDate: {
      double d;
      std::memcpy(&d, p, 8);
      *value = type == kFieldDate ? Variant::Date(d) : Variant::R8(d);
      return true;
    }
    case kFieldLogical:
      *value = Variant::Bool(static_cast<uint8_t>(p[0]) == 1);
      return true;
    default:
      return true;
  }
}

bool IsWellFormedVariantStream(std::string_view stored) {
  if (stored.empty()) return true;
  if (stored.size() < kVarTypeSize) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(stored.data());
  const uint16_t vt = static_cast<uint16_t>(p[0] | (p[1] << 8));
  if (vt == VT_EMPTY || vt == VT_NULL) return false;  // never written: null stores N = 0
  const size_t width = StreamWidth(vt);
  if (width != 0) return stored.size() == kVarTypeSize + width;
  if (stored.size() < kVarTypeSize + 4) return false;
  const uint32_t count = DecodeFixed32(p + kVarTypeSize);
  if (count < 2 || count % 2 != 0) return false;
  if (stored.size() - kVarTypeSize - 4 != count) return false;
  return p[stored.size() - 2] == 0 && p[stored.size() - 1] == 0;
}

}  // namespace lun
