// The page the device-writer benchmarks write: A0 at 400 dots per inch (13244 x 18724 pixels) of synthetic
// drawing rows, thin vertical line crossings a few hundred pixels apart, a band of dense hatching, and now
// and then a long horizontal line or a wide filled block. The output goes to a sink that only counts bytes,
// so the figures are the writers' own cost. One iteration is one page.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/registry.h"
#include "formats/open.h"
#include "rio/rcb.h"

namespace vantrel::benchpage {

constexpr int32_t kA0Width = 13244;
constexpr int32_t kA0Height = 18724;
constexpr int kPatterns = 101;

inline size_t countingSink(const void*, size_t size, size_t count, void* ctx) {
  *static_cast<int64_t*>(ctx) += static_cast<int64_t>(size * count);
  return count;
}

// Terminated run lists of the synthetic rows, made once; row y of the page is pattern y % kPatterns.
inline std::vector<std::vector<int32_t>> drawingRows() {
  std::vector<std::vector<int32_t>> rows(kPatterns);
  uint64_t seed = 0x243F6A8885A308D3ull;
  auto draw = [&seed](int32_t bound) {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<int32_t>(seed % static_cast<uint64_t>(bound));
  };
  for (int i = 0; i < kPatterns; ++i) {
    std::vector<int32_t>& row = rows[static_cast<size_t>(i)];
    if (i % 31 == 0) {
      row = {200, kA0Width - 200};  // a border line
    } else {
      int32_t x = draw(300);
      while (x < kA0Width) {
        bool hatch = x >= 7000 && x < 8500;
        bool block = i % 17 == 0 && x >= 2000 && x < 2100;
        int32_t length = block ? 1500 : hatch ? 2 + draw(3) : 4 + draw(5);
        if (x + length > kA0Width) break;
        row.push_back(x);
        row.push_back(x + length);
        x += length + (hatch ? 5 + draw(5) : 60 + draw(500));
      }
    }
    row.push_back(kSlineEnd);
    row.push_back(kSlineEnd);
  }
  return rows;
}

// Writes the page through `format` once per iteration.
inline void writeA0Page(benchmark::State& state, RasterFormatId format) {
  const std::vector<std::vector<int32_t>> rows = drawingRows();
  int64_t bytesOut = 0;
  std::FILE* devNull = std::fopen("/dev/null", "wb");
  if (!devNull) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  for (auto _ : state) {
    RasterStream* out = streamOpen(devNull, "w");
    if (!out || streamSetWriteCallback(out, countingSink, &bytesOut) != 1) {
      if (out) (void)streamClose(out);
      state.SkipWithError("no stream");
      break;
    }
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(out, kA0Width, kA0Height, format, &st);
    if (!rcb) {
      (void)streamClose(out);
      state.SkipWithError("open failed");
      break;
    }
    rcb->xDpi = rcb->yDpi = 400;
    bool failed = false;
    for (int32_t y = 0; y < kA0Height && !failed; ++y) {
      const std::vector<int32_t>& row = rows[static_cast<size_t>(y % kPatterns)];
      std::memcpy(rcb->curSline, row.data(), row.size() * sizeof(int32_t));
      failed = rioWriteRasterSline(rcb) != kRioOk;
    }
    (void)rioCloseRaster(rcb);
    (void)streamClose(out);
    if (failed) {
      state.SkipWithError("write failed");
      break;
    }
  }
  std::fclose(devNull);
  state.SetBytesProcessed(bytesOut);
  state.counters["MB/page"] = benchmark::Counter(
      state.iterations() ? static_cast<double>(bytesOut) / 1e6 / static_cast<double>(state.iterations()) : 0);
}

}  // namespace vantrel::benchpage
