// Plotter and printer stream writers on an A0 page at 400 dots per inch (13244 x 18724 pixels) of
// synthetic drawing rows: thin lines every few hundred pixels, some dense hatching and a few long
// horizontal strokes. The output goes to a sink that only counts bytes, so the figures are the writers'
// own cost. One iteration is one page.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/registry.h"
#include "rio/rcb.h"

namespace vantrel {
namespace {

constexpr int32_t kWidth = 13244;
constexpr int32_t kHeight = 18724;
constexpr int kDistinctRows = 97;

size_t countBytes(const void*, size_t size, size_t count, void* ctx) {
  *static_cast<int64_t*>(ctx) += static_cast<int64_t>(size * count);
  return count;
}

// Run lists of the synthetic rows, each terminated by (-1, -1).
std::vector<std::vector<int32_t>> syntheticRows() {
  std::vector<std::vector<int32_t>> rows(kDistinctRows);
  uint64_t state = 12345;
  auto next = [&state](uint32_t bound) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<int32_t>((state >> 33) % bound);
  };
  for (int i = 0; i < kDistinctRows; ++i) {
    std::vector<int32_t>& row = rows[static_cast<size_t>(i)];
    if (i % 23 == 0) {  // a long horizontal stroke
      row = {400, kWidth - 400};
    } else {
      int32_t x = next(200);
      while (x < kWidth) {
        const bool hatching = x > 5000 && x < 6500;
        const int32_t length = hatching ? 2 + next(3) : 3 + next(6);
        if (x + length > kWidth) break;
        row.push_back(x);
        row.push_back(x + length);
        x += length + (hatching ? 4 + next(6) : 40 + next(400));
      }
    }
    row.push_back(kSlineEnd);
    row.push_back(kSlineEnd);
  }
  return rows;
}

void writePage(benchmark::State& state, RasterFormatId format) {
  const std::vector<std::vector<int32_t>> rows = syntheticRows();
  int64_t bytes = 0;
  for (auto _ : state) {
    std::FILE* f = std::tmpfile();
    RasterStream* out = streamOpen(f, "w");
    if (streamSetWriteCallback(out, countBytes, &bytes) != 1) state.SkipWithError("no sink");
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(out, kWidth, kHeight, format, &st);
    if (!rcb) {
      state.SkipWithError("open failed");
      break;
    }
    rcb->xDpi = rcb->yDpi = 400;
    for (int32_t r = 0; r < kHeight; ++r) {
      const std::vector<int32_t>& row = rows[static_cast<size_t>(r % kDistinctRows)];
      std::memcpy(rcb->curSline, row.data(), row.size() * sizeof(int32_t));
      if (rioWriteRasterSline(rcb) != kRioOk) state.SkipWithError("write failed");
    }
    (void)rioCloseRaster(rcb);
    (void)streamClose(out);
    std::fclose(f);
  }
  state.SetBytesProcessed(bytes);
  state.counters["pages"] = benchmark::Counter(static_cast<double>(state.iterations()));
}

void BM_VersatecA0At400(benchmark::State& state) {
  writePage(state, 16);
}
void BM_CalCompA0At400(benchmark::State& state) {
  writePage(state, 12);
}
// PostScript draws at most 4800 rows; the rest of the page is dropped with a warning.
void BM_PostScriptA0At400(benchmark::State& state) {
  writePage(state, 9);
}

BENCHMARK(BM_VersatecA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CalCompA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostScriptA0At400)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel
