// Little-endian numbers in byte buffers, for the formats whose headers store them so.
#pragma once

#include <cstdint>

namespace vantrel {

inline uint32_t getLe16(const uint8_t* p) { return uint32_t{p[0]} | uint32_t{p[1]} << 8; }
inline uint32_t getLe32(const uint8_t* p) { return getLe16(p) | getLe16(p + 2) << 16; }

inline void putLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t* p, uint32_t v) {
  putLe16(p, v);
  putLe16(p + 2, v >> 16);
}

}  // namespace vantrel
