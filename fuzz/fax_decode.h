// The fax fuzz targets' common run. Input: two bytes giving the width, one byte of options, then the coded
// data, fed straight to a line decoder. Every line delivered must be a valid run list inside its buffer,
// and must survive a round trip through the encoder and decoder of the same coding (Group 4 for Group 3
// two-dimensional lines, which have no encoder of their own) unchanged; any input ends in a status.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "codec/fax.h"
#include "rio/sline.h"
#include "rio/stream.h"

namespace vantrel::fuzz {

enum class FaxCoding { kGroup3, kGroup4, kGroup3TwoD };

inline constexpr int kMaxFaxLines = 3000;

using FaxLines = std::vector<std::vector<int32_t>>;  // pairs and terminator each

inline size_t appendBytes(const void* data, size_t size, size_t count, void* ctx) {
  auto* out = static_cast<std::vector<uint8_t>*>(ctx);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size * count);
  return count;
}

// Decodes up to kMaxFaxLines lines of `data` into `lines`; two-dimensional codings code each line against
// the one before.
inline void decodeFaxLines(const uint8_t* data, size_t size, int32_t width, FaxCoding coding, FaxDecoder d,
                           FaxLines* lines) {
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return;
  RasterStream* s = streamOpen(f, "r");
  if (s) {
    // Exactly the room a line buffer has, with two guard values before it, so a write past it is caught.
    std::vector<int32_t> line(static_cast<size_t>(slineValues(width)) + 2);
    std::vector<int32_t> ref(line.size(), kSlineEnd);
    line[0] = line[1] = ref[0] = ref[1] = 0;
    for (int i = 0; i < kMaxFaxLines; ++i) {
      RioStatus status = kRioOk;
      switch (coding) {
        case FaxCoding::kGroup3:
          status = g3DecodeLine(&d, s, width, line.data() + 2);
          break;
        case FaxCoding::kGroup4:
          status = g4DecodeLine(&d, s, width, ref.data() + 2, line.data() + 2);
          break;
        case FaxCoding::kGroup3TwoD:
          status = g3Decode2dLine(&d, s, width, ref.data() + 2, line.data() + 2);
          break;
      }
      if (line[0] != 0 || line[1] != 0) __builtin_trap();
      std::vector<int32_t> runs;
      int32_t last = -1;
      for (size_t k = 2; line[k] != kSlineEnd; k += 2) {
        if (line[k] <= last || line[k + 1] <= line[k] || line[k + 1] > width) __builtin_trap();
        last = line[k + 1];
        runs.insert(runs.end(), {line[k], line[k + 1]});
      }
      if (status != kRioOk) break;
      runs.insert(runs.end(), {kSlineEnd, kSlineEnd});
      lines->push_back(runs);
      if (coding != FaxCoding::kGroup3) line.swap(ref);
    }
    streamClose(s);
  }
  std::fclose(f);
}

// Codes the lines again with the encoder of `coding`; traps when the encoder or the sink fails.
inline std::vector<uint8_t> encodeFaxLines(FaxLines& lines, int32_t width, FaxCoding coding, FaxEncoder e) {
  std::vector<uint8_t> coded;
  RasterStream* out = streamOpen(nullptr, "w");
  if (!out || streamSetWriteCallback(out, appendBytes, &coded) != 1) __builtin_trap();
  RioStatus finished = kRioOk;
  if (coding == FaxCoding::kGroup3) {
    for (std::vector<int32_t> line : lines)
      if (g3EncodeLine(&e, out, width, line.data()) != kRioOk) __builtin_trap();
    finished = g3EncodeFinish(&e, out);
  } else {
    const std::vector<int32_t> white = {kSlineEnd, kSlineEnd};
    const int32_t* ref = white.data();
    for (std::vector<int32_t>& line : lines) {
      if (g4EncodeLine(&e, out, width, line.data(), ref) != kRioOk) __builtin_trap();
      ref = line.data();
    }
    finished = g4EncodeFinish(&e, out);
  }
  if (finished != kRioOk || streamClose(out) != 1) __builtin_trap();
  return coded;
}

// One fuzz input. Options: bit 0 least significant bit first; for Group 3 one-dimensional lines bit 1
// byte-aligned lines and bit 2 no end-of-line codes; bit 3 limits the decoder to the byte count in bits 4-7.
inline int decodeFaxInput(const uint8_t* data, size_t size, FaxCoding coding) {
  if (size < 4) return 0;
  const int32_t width = 1 + static_cast<int32_t>((data[0] << 8 | data[1]) % 6000);
  const uint8_t options = data[2];
  FaxDecoder d{};
  d.bits.lsbFirst = options & 1;
  if (coding == FaxCoding::kGroup3) {
    d.lineAlign = options & 2;
    d.noEol = options & 4;
  }
  if (options & 8) faxDecoderSetByteLimit(&d, options >> 4);
  FaxLines lines;
  decodeFaxLines(data + 3, size - 3, width, coding, d, &lines);
  if (lines.empty()) return 0;

  // What was read, coded again with the same options, reads back the same.
  if (coding == FaxCoding::kGroup3TwoD) coding = FaxCoding::kGroup4;
  FaxEncoder e{};
  e.bits.lsbFirst = d.bits.lsbFirst;
  e.noEol = d.noEol;
  e.lineAlign = d.lineAlign;
  const std::vector<uint8_t> coded = encodeFaxLines(lines, width, coding, e);
  FaxDecoder again{};
  again.bits.lsbFirst = d.bits.lsbFirst;
  again.noEol = d.noEol;
  again.lineAlign = d.lineAlign;
  FaxLines back;
  decodeFaxLines(coded.data(), coded.size(), width, coding, again, &back);
  if (back.size() < lines.size()) __builtin_trap();
  for (size_t i = 0; i < lines.size(); ++i)
    if (back[i] != lines[i]) __builtin_trap();
  return 0;
}

}  // namespace vantrel::fuzz
