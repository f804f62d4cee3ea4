// Fixed-width little-endian integers: the byte order of every stored format
// (records, indexes, packed settings) and of the crawl service's wire
// format. Decode reads from and Encode writes to a byte position with no
// alignment required; Put appends to a byte string or byte vector.
#ifndef LUN_PLATFORM_CODING_H_
#define LUN_PLATFORM_CODING_H_

#include <cstdint>

namespace lun {

inline uint16_t DecodeFixed16(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline uint32_t DecodeFixed32(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint64_t DecodeFixed64(const void* at) {
  const auto* p = static_cast<const unsigned char*>(at);
  return uint64_t{DecodeFixed32(p)} | uint64_t{DecodeFixed32(p + 4)} << 32;
}

inline void EncodeFixed16(void* at, uint16_t value) {
  auto* p = static_cast<unsigned char*>(at);
  p[0] = static_cast<unsigned char>(value);
  p[1] = static_cast<unsigned char>(value >> 8);
}

inline void EncodeFixed32(void* at, uint32_t value) {
  auto* p = static_cast<unsigned char*>(at);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

inline void EncodeFixed64(void* at, uint64_t value) {
  auto* p = static_cast<unsigned char*>(at);
  EncodeFixed32(p, static_cast<uint32_t>(value));
  EncodeFixed32(p + 4, static_cast<uint32_t>(value >> 32));
}

// `Bytes`: std::string or std::vector<uint8_t>.
template <typename Bytes>
void PutFixed32(Bytes* out, uint32_t value) {
  unsigned char bytes[4];
  EncodeFixed32(bytes, value);
  out->insert(out->end(), bytes, bytes + 4);
}

template <typename Bytes>
void PutFixed64(Bytes* out, uint64_t value) {
  unsigned char bytes[8];
  EncodeFixed64(bytes, value);
  out->insert(out->end(), bytes, bytes + 8);
}

}  // namespace lun

#endif  // LUN_PLATFORM_CODING_H_
