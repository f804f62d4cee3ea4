// Little-endian loads and stores of the index file formats (all integers in
// them are little-endian). Internal to engine/index.
#ifndef LUN_ENGINE_INDEX_LITTLE_ENDIAN_H_
#define LUN_ENGINE_INDEX_LITTLE_ENDIAN_H_

#include <cstdint>

namespace lun::index_bytes {

inline uint32_t GetU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t GetU16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline void SetU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void SetU16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

}  // namespace lun::index_bytes

#endif  // LUN_ENGINE_INDEX_LITTLE_ENDIAN_H_
