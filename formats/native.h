// The native header shared by the native run-length, Group 3 and Group 4 formats: 128 bytes as written,
// magic "ZEB ", a coding type byte, resolutions, size and coding flags, all integers big-endian.
#pragma once

#include <cstdint>

#include "rio/rcb.h"

namespace vantrel {

// Coding type byte at offset 4; recognition maps 0, 1, 2 to ids 3, 4, 5.
inline constexpr int kNativeRunLength = 0;
inline constexpr int kNativeGroup3 = 1;
inline constexpr int kNativeGroup4 = 2;

inline constexpr int32_t kNativeFixedHeaderSize = 90;     // bytes the reader takes field by field
inline constexpr int32_t kNativeWrittenHeaderSize = 128;  // bytes the writer puts out
inline constexpr int32_t kNativeMaxWidth = 32767;         // pixel indexes and lengths hold 15 bits
inline constexpr double kNativeDefaultDpi = 200;          // written in place of an unknown resolution

// What the header holds beyond the RCB fields it sets.
struct NativeHeaderInfo {
  int32_t codingType = 0;    // offset 4
  int32_t codingWord = 0;    // offset 50; kept, not used for decoding
  bool lineAligned = false;  // offset 53 is exactly 1
  bool bitReversed = false;  // offset 54 is exactly 1: data bytes are stored least significant bit first
  int32_t headerLength = 0;  // offset 10 as stored
  int32_t dataOffset = 0;    // where the data begin: headerLength when above 90, else 90
};

// Reads the header (probe bytes first, then inStream) for a reader of `codingType`: sets makerTag, xDpi,
// yDpi, width, height, attribute, x and y extent and the extra-header block; leaves the stream at the data.
[[nodiscard]] RioStatus nativeReadHeader(RCB* rcb, int codingType, NativeHeaderInfo* out);

// Fills the 128 header bytes from the RCB for `codingType` and the writer's own `width`; replaces an
// unknown (0) resolution by 200 dpi in the RCB as well.
void nativeEncodeHeader(RCB* rcb, int codingType, int32_t width, uint8_t out[kNativeWrittenHeaderSize]);

// Writes the 128-byte header to outStream (nativeEncodeHeader); -8 on a short write.
[[nodiscard]] RioStatus nativeWriteHeader(RCB* rcb, int codingType, int32_t width);

}  // namespace vantrel
