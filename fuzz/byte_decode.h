// The byte decoders' fuzz run (LZW, Deflate). Input: one byte of options, then the coded data of one strip.
// The data are decoded twice up to a cap on the output: a byte a call, and in calls of another size. What
// the second run delivers must be what the first delivered, short of at most one call, and both must end
// in the same status: so what one call leaves over reaches the next call intact. Options: bit 0 least
// significant bit first; bits 1-3 pick the second run's call size; bit 4 limits the decoder to the byte
// count in bits 5-7 times 8 (a strip shorter than its data).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "codec/deflate.h"
#include "codec/lzw.h"
#include "fuzz/read_all.h"
#include "rio/stream.h"

namespace vantrel::fuzz {

enum class ByteCoding { kLzw, kDeflate };

inline constexpr int32_t kMaxDecoded = 1 << 18;  // a stream that inflates further is cut here

struct ByteRun {
  std::vector<uint8_t> bytes;  // delivered by the calls that succeeded
  RioStatus status = kRioOk;
};

inline ByteRun decodeInPieces(const uint8_t* data, size_t size, ByteCoding coding, uint8_t options,
                              int32_t piece) {
  ByteRun run;
  static uint8_t none = 0;
  std::FILE* f = fmemopen(size ? const_cast<uint8_t*>(data) : &none, size, "rb");
  if (!f) __builtin_trap();
  RasterStream* s = streamOpen(f, "r");
  if (!s) __builtin_trap();
  const bool lsbFirst = options & 1;
  const int64_t limit = options & 0x10 ? (options >> 5) * 8 : -1;
  auto lzw = std::make_unique<LzwDecoder>();
  DeflateDecoder deflate{};
  if (coding == ByteCoding::kLzw) {
    lzw->bits.lsbFirst = lsbFirst;
    lzwDecoderSetByteLimit(lzw.get(), limit);
  } else {
    deflate.lsbFirst = lsbFirst;
    run.status = deflateDecoderRestart(&deflate);
    deflateDecoderSetByteLimit(&deflate, limit);
  }
  std::vector<uint8_t> out(static_cast<size_t>(piece));
  while (run.status == kRioOk && static_cast<int32_t>(run.bytes.size()) < kMaxDecoded) {
    run.status = coding == ByteCoding::kLzw ? lzwDecodeBytes(lzw.get(), s, out.data(), piece)
                                            : deflateDecodeBytes(&deflate, s, out.data(), piece);
    if (run.status == kRioOk) run.bytes.insert(run.bytes.end(), out.begin(), out.end());
  }
  deflateDecoderEnd(&deflate);
  streamClose(s);
  std::fclose(f);
  return run;
}

inline int decodeByteInput(const uint8_t* data, size_t size, ByteCoding coding) {
  if (size < 1) return 0;
  LeakCheck leaks;
  static constexpr int32_t kPieces[8] = {1, 2, 3, 7, 64, 333, 4096, 65536};
  const int32_t piece = kPieces[(data[0] >> 1) & 7];
  const ByteRun bytewise = decodeInPieces(data + 1, size - 1, coding, data[0], 1);
  const ByteRun pieces = decodeInPieces(data + 1, size - 1, coding, data[0], piece);
  const size_t common = std::min(pieces.bytes.size(), bytewise.bytes.size());
  for (size_t i = 0; i < common; ++i)
    if (pieces.bytes[i] != bytewise.bytes[i]) __builtin_trap();
  // Below the cap the larger calls deliver what the bytes did, short of at most one call.
  if (std::max(bytewise.bytes.size(), pieces.bytes.size()) < static_cast<size_t>(kMaxDecoded)) {
    if (pieces.bytes.size() > bytewise.bytes.size()) __builtin_trap();
    if (bytewise.bytes.size() - pieces.bytes.size() >= static_cast<size_t>(piece)) __builtin_trap();
    if (bytewise.status != pieces.status) __builtin_trap();
  }
  return 0;
}

}  // namespace vantrel::fuzz
