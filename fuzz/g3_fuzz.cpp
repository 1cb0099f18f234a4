// Fuzz target: the Group 3 line decoder. Input: two bytes giving the width, one byte of options, then the
// coded data. Every line delivered must be a valid run list inside its buffer, and must survive a round
// trip through the Group 3 encoder and decoder unchanged; any input ends in a status.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "codec/fax.h"
#include "rio/sline.h"
#include "rio/stream.h"

namespace {

using namespace vantrel;

constexpr int kMaxLines = 3000;

size_t append(const void* data, size_t size, size_t count, void* ctx) {
  auto* out = static_cast<std::vector<uint8_t>*>(ctx);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size * count);
  return count;
}

// Decodes up to kMaxLines lines of `data` into `lines` (pairs and terminator each).
void decodeAll(const uint8_t* data, size_t size, int32_t width, FaxDecoder d,
               std::vector<std::vector<int32_t>>* lines) {
  std::FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return;
  RasterStream* s = streamOpen(f, "r");
  if (s) {
    // Exactly the room a line buffer has, so a write past it is caught.
    std::vector<int32_t> line(static_cast<size_t>(slineValues(width)) + 2);
    line[0] = line[1] = 0;
    for (int i = 0; i < kMaxLines; ++i) {
      const RioStatus status = g3DecodeLine(&d, s, width, line.data() + 2);
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
    }
    streamClose(s);
  }
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int32_t width = 1 + static_cast<int32_t>((data[0] << 8 | data[1]) % 6000);
  const uint8_t options = data[2];
  FaxDecoder d{};
  d.bits.lsbFirst = options & 1;
  d.lineAlign = options & 2;
  d.noEol = options & 4;
  if (options & 8) faxDecoderSetByteLimit(&d, options >> 4);
  std::vector<std::vector<int32_t>> lines;
  decodeAll(data + 3, size - 3, width, d, &lines);
  if (lines.empty()) return 0;

  // What was read, coded again with the same options, reads back the same.
  std::vector<uint8_t> coded;
  RasterStream* out = streamOpen(nullptr, "w");
  if (!out || streamSetWriteCallback(out, append, &coded) != 1) __builtin_trap();
  FaxEncoder e{};
  e.bits.lsbFirst = d.bits.lsbFirst;
  e.noEol = d.noEol;
  e.lineAlign = d.lineAlign;
  for (std::vector<int32_t> line : lines)
    if (g3EncodeLine(&e, out, width, line.data()) != kRioOk) __builtin_trap();
  if (g3EncodeFinish(&e, out) != kRioOk || streamClose(out) != 1) __builtin_trap();
  FaxDecoder again{};
  again.bits.lsbFirst = d.bits.lsbFirst;
  again.noEol = d.noEol;
  again.lineAlign = d.lineAlign;
  std::vector<std::vector<int32_t>> back;
  decodeAll(coded.data(), coded.size(), width, again, &back);
  if (back.size() < lines.size()) __builtin_trap();
  for (size_t i = 0; i < lines.size(); ++i)
    if (back[i] != lines[i]) __builtin_trap();
  return 0;
}
