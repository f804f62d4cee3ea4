#include "config/packed_text.h"

#include <zlib.h>

#include <cstdint>
#include <cstring>

#include "config/packed_text_format.h"
#include "platform/coding.h"

namespace lun {
namespace {

using namespace packed_text;

// Length of the gzip header at the start of `member`, or 0 when it is not a
// deflate gzip header or is cut short.
size_t GzipHeaderLength(std::string_view member) {
  const auto* p = reinterpret_cast<const unsigned char*>(member.data());
  const size_t n = member.size();
  if (n < 10 || p[0] != 0x1F || p[1] != 0x8B || p[2] != 8) return 0;
  const uint8_t flags = p[3];
  size_t pos = 10;
  if (flags & kFlagExtra) {
    if (pos + 2 > n) return 0;
    pos += 2 + (p[pos] | (size_t{p[pos + 1]} << 8));
  }
  for (uint8_t zero_terminated : {kFlagName, kFlagComment}) {
    if (!(flags & zero_terminated)) continue;
    while (pos < n && p[pos] != 0) ++pos;
    ++pos;  // the terminator
  }
  if (flags & kFlagHeaderCrc) pos += 2;
  return pos <= n ? pos : 0;
}

// Inflates raw deflate data into `*out`. True when the stream ended
// properly; `*consumed` is the number of input bytes it took.
bool InflateRaw(std::string_view in, std::string* out, size_t max_size, size_t* consumed) {
  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) return false;
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  char buf[16384];
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = reinterpret_cast<Bytef*>(buf);
    zs.avail_out = sizeof(buf);
    rc = inflate(&zs, Z_NO_FLUSH);
    const size_t produced = sizeof(buf) - zs.avail_out;
    if (out->size() + produced > max_size) {
      rc = Z_DATA_ERROR;
      break;
    }
    out->append(buf, produced);
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;  // input ran out
    if (rc == Z_BUF_ERROR) rc = Z_OK;                  // output was full
  }
  *consumed = in.size() - zs.avail_in;
  inflateEnd(&zs);
  return rc == Z_STREAM_END;
}

}  // namespace

std::string GzipMember(std::string_view data) {
  std::string out(reinterpret_cast<const char*>(kGzipHeader), sizeof(kGzipHeader));
  z_stream zs{};
  // Raw deflate (negative window bits); the gzip framing is written by hand so
  // that every header byte is the one the format fixes.
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK) {
    return {};
  }
  const size_t header = out.size();
  out.resize(header + deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data() + header);
  zs.avail_out = static_cast<uInt>(out.size() - header);
  const int rc = deflate(&zs, Z_FINISH);
  out.resize(header + zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) return {};
  PutFixed32(&out, static_cast<uint32_t>(
                       crc32(0, reinterpret_cast<const Bytef*>(data.data()), data.size())));
  PutFixed32(&out, static_cast<uint32_t>(data.size()));
  return out;
}

std::string PackText(std::string_view text) {
  std::string out(kMagic);
  const std::string member = GzipMember(text);
  if (!member.empty() && member.size() <= text.size()) {
    out.push_back(static_cast<char>(kFlagGzip));
    out += member;
  } else {
    out.push_back(static_cast<char>(kFlagPlain));
    out += text;
  }
  return out;
}

UnpackResult UnpackText(std::string_view file, std::string* text, size_t max_size) {
  text->clear();
  if (file.substr(0, kMagic.size()) != kMagic) return UnpackResult::kNotPacked;
  if (file.size() <= kFlagOffset) return UnpackResult::kOk;  // no flag, no payload
  const std::string_view payload = file.substr(kPayloadOffset);
  if (static_cast<uint8_t>(file[kFlagOffset]) == kFlagPlain) {
    text->assign(payload.substr(0, max_size));
    return payload.size() <= max_size ? UnpackResult::kOk : UnpackResult::kDamaged;
  }
  const size_t header = GzipHeaderLength(payload);
  if (header == 0) return UnpackResult::kDamaged;
  size_t consumed = 0;
  if (!InflateRaw(payload.substr(header), text, max_size, &consumed)) {
    return UnpackResult::kDamaged;
  }
  const size_t trailer = header + consumed;
  if (payload.size() < trailer + kGzipTrailerSize) return UnpackResult::kDamaged;
  const auto* t = reinterpret_cast<const unsigned char*>(payload.data() + trailer);
  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(text->data()), text->size()));
  if (DecodeFixed32(t) != crc || DecodeFixed32(t + 4) != static_cast<uint32_t>(text->size())) {
    return UnpackResult::kDamaged;
  }
  return UnpackResult::kOk;
}

}  // namespace lun
