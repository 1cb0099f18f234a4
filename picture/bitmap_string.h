// Bitmap strings: one row of packed pixels in 32-bit words, the row buffer of pictures, resizing and
// shearing; the word masks and the byte-to-run table behind every conversion between words and run lists.
//
// Pixels: 1 = black. A row is packed like a scan-line byte image: byte k holds pixels 8k..8k+7, pixel 8k in
// the most significant bit. Four bytes make one 32-bit word of a tile row or of a bitmap string, and a word
// is handled in memory byte order, so on a little-endian machine the mask of pixels c..31 of a word is
// 0xFFFFFF7F for c = 1 and 0x01000000 for c = 31. Shifting a row by n pixels goes through the most-
// significant-first form (wordToMsbFirst, shift, wordFromMsbFirst).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Words and masks.

constexpr uint32_t wordToMsbFirst(uint32_t memoryWord) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(memoryWord);
  return memoryWord;
}
constexpr uint32_t wordFromMsbFirst(uint32_t msbFirst) {
  return wordToMsbFirst(msbFirst);
}

// Mask of pixels c..31 of a word (c in 0..31), in memory order.
constexpr uint32_t maskFrom(int c) {
  return wordFromMsbFirst(0xFFFFFFFFu >> c);
}
// Mask of pixels 0..c-1 of a word (c in 0..32), in memory order.
constexpr uint32_t maskBefore(int c) {
  return c >= 32 ? 0xFFFFFFFFu : ~maskFrom(c);
}
// Mask of pixels lo..hi-1 (0 <= lo < hi <= 32).
constexpr uint32_t maskSpan(int lo, int hi) {
  return maskFrom(lo) & maskBefore(hi);
}
// Byte k (0..3) of a word in memory order: pixels 8k..8k+7, the first in the most significant bit.
constexpr uint32_t wordByte(uint32_t memoryWord, int k) {
  return (wordToMsbFirst(memoryWord) >> (24 - 8 * k)) & 0xFF;
}

// The black runs of one byte, pixels taken from the most significant bit down: [start[i], end[i]) in 0..8.
struct ByteRuns {
  uint8_t count;
  uint8_t start[4];
  uint8_t end[4];
};

constexpr std::array<ByteRuns, 256> makeByteRuns() {
  std::array<ByteRuns, 256> table{};
  for (int value = 0; value < 256; ++value) {
    ByteRuns r{};
    int bit = 0;
    while (bit < 8) {
      while (bit < 8 && !(value & (0x80 >> bit))) ++bit;
      if (bit == 8) break;
      r.start[r.count] = static_cast<uint8_t>(bit);
      while (bit < 8 && (value & (0x80 >> bit))) ++bit;
      r.end[r.count] = static_cast<uint8_t>(bit);
      ++r.count;
    }
    table[static_cast<size_t>(value)] = r;
  }
  return table;
}

// The 256-case table behind every word-to-run conversion.
inline constexpr std::array<ByteRuns, 256> kByteRuns = makeByteRuns();

// ---------------------------------------------------------------------------------------------------------
// Bitmap strings: rows of packed words, zero-filled when allocated.

// Longest row, and largest side of a picture: a multiple of 32 below 2^31, so padded sizes and run ends fit
// in int32.
inline constexpr int32_t kMaxPictureSide = INT32_MAX - 31;

// Words a row of `pixels` pixels needs.
constexpr int64_t bitmapWords(int64_t pixels) {
  return pixels / 32 + (pixels % 32 != 0 ? 1 : 0);
}

uint32_t* AllocBitmapString(int32_t words);  // error 1 "AllocBitmapString", 9 for a negative count
void FreeBitmapString(uint32_t* bits);
void FillBitmapString(uint32_t* bits, int32_t words, uint32_t value);
void CopyBitmapString(uint32_t* to, const uint32_t* from, int32_t words);
void OrBitmapString(uint32_t* to, const uint32_t* from, int32_t words);
// ORs the runs in (colour 1) or clears them (colour 0); runs are clipped to the string's words * 32 pixels.
void WriteRunsBitmapString(uint32_t* bits, int32_t words, const int32_t* runs, int colour);
// The runs of the string between two columns (clipped to words * 32 pixels), joined as the row reader
// joins them: `runs` needs room for slineValues(lastColumn - firstColumn + 1) values, and *tail (when given)
// receives the address of the last end value written, or of the terminator when no run was written.
// Returns the number of runs.
int32_t BitmapStringToRuns(const uint32_t* bits, int32_t words, int32_t* runs, int32_t firstColumn,
                           int32_t lastColumn, int32_t** tail = nullptr);

}  // namespace vantrel
