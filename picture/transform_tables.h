// Tables of the transforms, generated from the bit patterns they describe: a byte ORed down to fewer pixels
// (column reduction). The bit reversal of a byte (left-right mirror) is the stream layer's kBitReverse.
// Not installed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "picture/bitmap_string.h"

namespace vantrel {

// Column reduction: the 8 pixels of a byte ORed down to n pixels (n in 1..8), pixel p going to pixel
// ceil((p + 1) * n / 8) - 1; the result is left-aligned in the byte (pixel 0 in the top bit).
constexpr std::array<std::array<uint8_t, 256>, 9> makeGroupBits() {
  std::array<std::array<uint8_t, 256>, 9> table{};
  for (int n = 1; n <= 8; ++n) {
    for (int v = 0; v < 256; ++v) {
      int out = 0;
      for (int p = 0; p < 8; ++p) {
        if (!(v & (0x80 >> p))) continue;
        int q = ((p + 1) * n + 7) / 8 - 1;
        out |= 0x80 >> q;
      }
      table[static_cast<size_t>(n)][static_cast<size_t>(v)] = static_cast<uint8_t>(out);
    }
  }
  return table;
}

inline constexpr std::array<std::array<uint8_t, 256>, 9> kGroupBits = makeGroupBits();

// Pixel c of a word, in memory order.
constexpr uint32_t pixelBit(int c) {
  return wordFromMsbFirst(0x80000000u >> c);
}

}  // namespace vantrel
