// Group 4 data between TIFF files and the formats that hold a bare Group 4 image: a minimal one-strip TIFF
// built around data taken from one of our files (so libtiff decodes it), and the one strip of a TIFF that
// netpbm and libtiff made (so our readers meet an independent coder's data).
#pragma once

#include <cstdint>
#include <vector>

namespace vantrel::testg4 {

using Bytes = std::vector<uint8_t>;

// A little-endian TIFF of one Group 4 strip: 1 bit, white is zero; fillOrder 2 when the data are stored
// least significant bit first.
inline Bytes group4Tiff(uint32_t width, uint32_t height, const Bytes& strip, uint32_t fillOrder = 1) {
  struct Entry {
    uint16_t tag, type;
    uint32_t value;
  };
  const Entry entries[] = {{256, 4, width},     {257, 4, height}, {258, 3, 1},
                           {259, 3, 4},         {262, 3, 0},      {266, 3, fillOrder},
                           {273, 4, 0},         {277, 3, 1},      {278, 4, height},
                           {279, 4, static_cast<uint32_t>(strip.size())}};
  const uint32_t count = sizeof entries / sizeof entries[0];
  const uint32_t dataAt = 8 + 2 + count * 12 + 4;
  Bytes t = {'I', 'I', 42, 0, 8, 0, 0, 0};
  auto le = [&](uint32_t v, int n) {
    for (int k = 0; k < n; ++k) t.push_back(static_cast<uint8_t>(v >> (8 * k)));
  };
  le(count, 2);
  for (const Entry& e : entries) {
    le(e.tag, 2);
    le(e.type, 2);
    le(1, 4);
    le(e.tag == 273 ? dataAt : e.value, 4);  // a SHORT sits in the first two bytes of the value field
  }
  le(0, 4);
  t.insert(t.end(), strip.begin(), strip.end());
  return t;
}

// The one strip of a TIFF: its tags read from the first directory, either byte order.
struct TiffStrip {
  uint32_t width = 0, height = 0, compression = 0, photometric = 0, fillOrder = 1, strips = 0;
  Bytes data;
};

inline bool parseTiff(const Bytes& t, TiffStrip* out) {
  if (t.size() < 8) return false;
  const bool little = t[0] == 'I';
  auto u = [&](size_t at, int n) -> uint32_t {
    if (at + static_cast<size_t>(n) > t.size()) return 0;
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v |= uint32_t{t[at + (little ? k : n - 1 - k)]} << (8 * k);
    return v;
  };
  const uint32_t ifd = u(4, 4);
  const uint32_t count = u(ifd, 2);
  uint32_t offset = 0, bytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    const uint32_t tag = u(e, 2), type = u(e + 2, 2), n = u(e + 4, 4);
    const uint32_t value = type == 3 ? u(e + 8, 2) : u(e + 8, 4);
    switch (tag) {
      case 256: out->width = value; break;
      case 257: out->height = value; break;
      case 259: out->compression = value; break;
      case 262: out->photometric = value; break;
      case 266: out->fillOrder = value; break;
      case 273: offset = value, out->strips = n; break;
      case 279: bytes = value; break;
      default: break;
    }
  }
  if (out->strips != 1 || size_t{offset} + bytes > t.size()) return false;
  out->data.assign(t.begin() + offset, t.begin() + offset + bytes);
  return true;
}

}  // namespace vantrel::testg4
