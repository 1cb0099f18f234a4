// Quarter turns and small turns of a synthetic A0 page at 400 dots per inch (13244 x 18724) held in a tiled
// picture: a border and title block, a grid of box outlines, thin vertical and horizontal lines, slanted
// lines, dense hatching and a few filled blocks, the rest white paper. Figures are rows of the source page
// per second. In-place turns repeat on the same picture; the cropped turns work on a fresh copy each time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "picture/transform.h"

namespace vantrel {
namespace {

constexpr int32_t kA0Width = 13244;
constexpr int32_t kA0Height = 18724;
constexpr int32_t kA4Width = 3307;
constexpr int32_t kA4Height = 4677;

uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void box(TPicture* p, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  for (int32_t y = std::max(y0, 0); y < std::min(y1, p->height); ++y)
    (void)WriteSpanTPicture(p, y, x0, x1, 1);
}

TPicture* drawing(int32_t width, int32_t height) {
  TPicture* p = AllocTPicture(height, width);
  uint64_t s = 42;
  auto below = [&](int32_t n) { return static_cast<int32_t>(splitmix(s) % static_cast<uint64_t>(n)); };
  const int32_t m = width / 60;
  box(p, m, m, width - m, m + 8);
  box(p, m, height - m - 8, width - m, height - m);
  box(p, m, m, m + 8, height - m);
  box(p, width - m - 8, m, width - m, height - m);
  box(p, width / 2, height - height / 8, width - m, height - m);  // title block, filled
  for (int i = 0; i < 400; ++i) {                                 // box outlines
    int32_t x = below(width), y = below(height), w = 50 + below(800), h = 50 + below(800), t = 1 + below(5);
    box(p, x, y, x + w, y + t);
    box(p, x, y + h - t, x + w, y + h);
    box(p, x, y, x + t, y + h);
    box(p, x + w - t, y, x + w, y + h);
  }
  for (int i = 0; i < 300; ++i) {  // slanted lines
    double x = below(width), slope = (below(2001) - 1000) / 1000.0;
    int32_t y0 = below(height), len = 200 + below(2000);
    for (int32_t y = y0; y < std::min(height, y0 + len); ++y, x += slope)
      (void)WriteSpanTPicture(p, y, static_cast<int32_t>(x), static_cast<int32_t>(x) + 3, 1);
  }
  for (int32_t y = height / 3; y < height / 3 + 600; ++y)  // hatching
    for (int32_t x = width / 5 + (y % 12); x < width / 5 + 2000; x += 12)
      (void)WriteSpanTPicture(p, y, x, x + 2, 1);
  PackBlackTPicture(p);
  return p;
}

TPicture* a0() {
  static TPicture* page = drawing(kA0Width, kA0Height);
  return page;
}

void rows(benchmark::State& state, int64_t perIteration) {
  state.SetItemsProcessed(state.iterations() * perIteration);
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(state.iterations() * perIteration), benchmark::Counter::kIsRate);
}

template <bool (*Turn)(TPicture*)>
void BM_InPlaceA0(benchmark::State& state) {
  TPicture* p = CopyTPicture(a0());
  state.counters["tiles"] = TPictureTileCount(p);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Turn(p));
  }
  rows(state, kA0Height);
  FreeTPicture(p);
}

void BM_RotateImageA0(benchmark::State& state) {
  const double angle = static_cast<double>(state.range(0)) * 0.017453292519943295;
  for (auto _ : state) {
    state.PauseTiming();
    TPicture* p = CopyTPicture(a0());
    state.ResumeTiming();
    TPicture* r = rastRotateImage(p, angle, nullptr, 0);
    benchmark::DoNotOptimize(r);
    state.PauseTiming();
    FreeTPicture(r);
    state.ResumeTiming();
  }
  rows(state, kA0Height);
}

void BM_ResidualTurnA4(benchmark::State& state) {
  TPicture* page = drawing(kA4Width, kA4Height);
  const double angle = static_cast<double>(state.range(0)) * 0.017453292519943295;
  for (auto _ : state) {
    TPicture* r = rastRotateImage(page, angle, nullptr, 1);
    benchmark::DoNotOptimize(r);
    state.PauseTiming();
    FreeTPicture(r);
    state.ResumeTiming();
  }
  rows(state, kA4Height);
  FreeTPicture(page);
}

BENCHMARK_TEMPLATE(BM_InPlaceA0, Rotate90TPicture)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_InPlaceA0, Rotate180TPicture)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_InPlaceA0, Rotate270TPicture)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RotateImageA0)->Arg(90)->Arg(180)->Arg(270)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResidualTurnA4)->Arg(10)->Arg(45)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel
