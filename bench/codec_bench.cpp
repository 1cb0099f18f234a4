// Speed of the CCITT line codecs on a synthetic drawing-like page, in pixels per second, and of the
// decoders of TIFF's other codings (Group 3 two-dimensional, LZW, Deflate) on the drawgen A0 page as tiffcp
// codes it.
//
// The page is made of seeded primitives (a border and title block, box outlines, straight and slanted
// lines, circles and clusters of small glyph strokes), rendered row by row into run lists. Sizes: A0 at
// 400 dpi (13244 x 18724) and A4 at 400 dpi (3307 x 4677) for quicker runs, e.g.
//   vantrel_bench --benchmark_filter=A4
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/rng.h"
#include "codec/deflate.h"
#include "codec/fax.h"
#include "codec/lzw.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/tiff_layout.h"

namespace vantrel {
namespace {

// One primitive, covering rows [top, bottom).
struct Shape {
  enum Kind { kRect, kSlant, kRing } kind;
  int32_t top, bottom;
  double x0, x1;     // rect: columns; slant: x at `top` and at `bottom`
  double cx, cy, r;  // ring: centre and outer radius
  double thickness;  // slant and ring
};

struct Span {
  int32_t start, end;
};

struct Page {
  int32_t width = 0, height = 0;
  std::vector<int32_t> values;   // every row's run list with its terminator, one after the other
  std::vector<size_t> rowStart;  // index of each row's list in `values`
  int32_t* row(int32_t y) { return values.data() + rowStart[y]; }
};

std::vector<Shape> drawing(int32_t width, int32_t height, uint64_t seed) {
  Rng rng(seed);
  std::vector<Shape> shapes;
  const double scale = width / 13244.0;  // the A0 sizes, shrunk with the page
  auto rect = [&](double x0, double y0, double x1, double y1) {
    const int32_t top = std::max(0, static_cast<int32_t>(y0)),
                  bottom = std::min(height, static_cast<int32_t>(y1));
    if (bottom > top && x1 > x0) shapes.push_back({Shape::kRect, top, bottom, x0, x1, 0, 0, 0, 0});
  };
  auto box = [&](double x0, double y0, double x1, double y1, double t) {
    rect(x0, y0, x1, y0 + t);
    rect(x0, y1 - t, x1, y1);
    rect(x0, y0, x0 + t, y1);
    rect(x1 - t, y0, x1, y1);
  };
  // Border, title block with its table lines, some filled logo area.
  const double m = 150 * scale;
  box(m, m, width - m, height - m, 12 * scale + 2);
  const double tx = width - 4000 * scale, ty = height - 1600 * scale;
  box(tx, ty, width - m, height - m, 8 * scale + 2);
  for (int i = 1; i < 8; ++i) rect(tx, ty + i * 180 * scale, width - m, ty + i * 180 * scale + 3);
  rect(tx + 100 * scale, ty + 100 * scale, tx + 700 * scale, ty + 500 * scale);
  const int count = static_cast<int>(1200.0 * width * height / (13244.0 * 18724.0)) + 40;
  for (int i = 0; i < count; ++i) {
    const double x = rng.below(width), y = rng.below(height);
    const double t = rng.between(2, 8);
    switch (rng.below(5)) {
      case 0:
        box(x, y, x + rng.between(100, 2500) * scale + 10, y + rng.between(100, 2500) * scale + 10, t);
        break;
      case 1:  // horizontal or vertical line
        if (rng.below(2))
          rect(x, y, x + rng.between(200, 6000) * scale, y + t);
        else
          rect(x, y, x + t, y + rng.between(200, 6000) * scale);
        break;
      case 2: {  // slanted line
        const double len = rng.between(200, 4000) * scale + 10;
        const double dx = (rng.below(2001) - 1000) / 1000.0 * len;
        shapes.push_back({Shape::kSlant, static_cast<int32_t>(y),
                          std::min(height, static_cast<int32_t>(y + len)), x, x + dx, 0, 0, 0, t});
        break;
      }
      case 3: {  // circle
        const double r = rng.between(40, 1200) * scale + 5;
        shapes.push_back({Shape::kRing, std::max(0, static_cast<int32_t>(y - r)),
                          std::min(height, static_cast<int32_t>(y + r + 1)), 0, 0, x, y, r, t});
        break;
      }
      default: {  // a line of text: small glyph strokes
        const double h = rng.between(30, 80) * scale + 6;
        double gx = x;
        for (int g = rng.between(5, 40); g > 0; --g) {
          const double w = h * 0.6;
          rect(gx, y, gx + 3, y + h);
          if (rng.below(2)) rect(gx, y, gx + w, y + 3);
          if (rng.below(2)) rect(gx, y + h / 2, gx + w, y + h / 2 + 3);
          if (rng.below(2)) rect(gx + w - 3, y, gx + w, y + h);
          gx += w * 1.4;
        }
        break;
      }
    }
  }
  std::sort(shapes.begin(), shapes.end(), [](const Shape& a, const Shape& b) { return a.top < b.top; });
  return shapes;
}

// Renders the shapes row by row: the active shapes' spans, sorted and merged into a run list.
Page render(int32_t width, int32_t height, uint64_t seed) {
  const std::vector<Shape> shapes = drawing(width, height, seed);
  Page page;
  page.width = width;
  page.height = height;
  std::vector<const Shape*> active;
  std::vector<Span> spans;
  size_t next = 0;
  auto add = [&](double a, double b) {
    const int32_t s = std::max(0, static_cast<int32_t>(std::floor(a)));
    const int32_t e = std::min(width, static_cast<int32_t>(std::ceil(b)));
    if (e > s) spans.push_back({s, e});
  };
  for (int32_t y = 0; y < height; ++y) {
    while (next < shapes.size() && shapes[next].top <= y) active.push_back(&shapes[next++]);
    active.erase(std::remove_if(active.begin(), active.end(), [y](const Shape* s) { return s->bottom <= y; }),
                 active.end());
    spans.clear();
    for (const Shape* s : active) {
      switch (s->kind) {
        case Shape::kRect:
          add(s->x0, s->x1);
          break;
        case Shape::kSlant: {
          const double span = std::max(1, s->bottom - s->top);
          const double xa = s->x0 + (s->x1 - s->x0) * (y - s->top) / span;
          const double xb = s->x0 + (s->x1 - s->x0) * (y + 1 - s->top) / span;
          add(std::min(xa, xb) - s->thickness / 2, std::max(xa, xb) + s->thickness / 2);
          break;
        }
        case Shape::kRing: {
          const double dy = y + 0.5 - s->cy;
          const double outer = s->r * s->r - dy * dy;
          if (outer <= 0) break;
          const double ro = std::sqrt(outer);
          const double ri2 = (s->r - s->thickness) * (s->r - s->thickness) - dy * dy;
          if (ri2 <= 0) {
            add(s->cx - ro, s->cx + ro);
          } else {
            const double ri = std::sqrt(ri2);
            add(s->cx - ro, s->cx - ri);
            add(s->cx + ri, s->cx + ro);
          }
          break;
        }
      }
    }
    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    page.rowStart.push_back(page.values.size());
    int32_t open = -1, end = -1;
    for (const Span& s : spans) {
      if (open >= 0 && s.start <= end) {
        end = std::max(end, s.end);
        continue;
      }
      if (open >= 0) page.values.insert(page.values.end(), {open, end});
      open = s.start;
      end = s.end;
    }
    if (open >= 0) page.values.insert(page.values.end(), {open, end});
    page.values.insert(page.values.end(), {kSlineEnd, kSlineEnd});
  }
  return page;
}

Page& pageFor(int size) {
  static Page a0 = render(13244, 18724, 400);
  static Page a4 = render(3307, 4677, 400);
  return size == 0 ? a0 : a4;
}

size_t collect(const void* data, size_t size, size_t count, void* ctx) {
  auto* out = static_cast<std::vector<uint8_t>*>(ctx);
  const auto* p = static_cast<const uint8_t*>(data);
  out->insert(out->end(), p, p + size * count);
  return count;
}

size_t discard(const void*, size_t, size_t count, void*) {
  return count;
}

// Codes the page; with `out`, the bytes are kept.
void encodePage(Page& page, bool group4, std::vector<uint8_t>* out) {
  RasterStream* s = streamOpen(nullptr, "w");
  (void)streamSetWriteCallback(s, out ? collect : discard, out);
  FaxEncoder e{};
  const int32_t* ref = nullptr;
  for (int32_t y = 0; y < page.height; ++y) {
    int32_t* cur = page.row(y);
    const RioStatus status =
        group4 ? g4EncodeLine(&e, s, page.width, cur, ref) : g3EncodeLine(&e, s, page.width, cur);
    if (status != kRioOk) std::abort();
    ref = cur;
  }
  if ((group4 ? g4EncodeFinish(&e, s) : g3EncodeFinish(&e, s)) != kRioOk) std::abort();
  streamClose(s);
}

void setCounters(benchmark::State& state, const Page& page, size_t codedBytes) {
  const double pixels = static_cast<double>(page.width) * page.height;
  state.counters["pixels/s"] = benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["runs/row"] =
      static_cast<double>(page.values.size() - 2 * static_cast<size_t>(page.height)) / 2 / page.height;
  state.counters["codedKiB"] = static_cast<double>(codedBytes) / 1024;
}

void encodeBench(benchmark::State& state, bool group4, int size) {
  Page& page = pageFor(size);
  std::vector<uint8_t> coded;
  encodePage(page, group4, &coded);
  for (auto _ : state) encodePage(page, group4, nullptr);
  setCounters(state, page, coded.size());
}

void decodeBench(benchmark::State& state, bool group4, int size) {
  Page& page = pageFor(size);
  std::vector<uint8_t> coded;
  encodePage(page, group4, &coded);
  std::vector<int32_t> a(static_cast<size_t>(slineValues(page.width)) + 2, 0), b(a.size(), 0);
  for (auto _ : state) {
    std::FILE* f = fmemopen(coded.data(), coded.size(), "rb");
    RasterStream* s = streamOpen(f, "r");
    FaxDecoder d{};
    int32_t* cur = a.data() + 2;
    int32_t* ref = b.data() + 2;
    ref[0] = ref[1] = kSlineEnd;
    for (int32_t y = 0; y < page.height; ++y) {
      const RioStatus status =
          group4 ? g4DecodeLine(&d, s, page.width, ref, cur) : g3DecodeLine(&d, s, page.width, cur);
      if (status != kRioOk) std::abort();
      std::swap(cur, ref);
    }
    benchmark::DoNotOptimize(ref[0]);
    streamClose(s);
    std::fclose(f);
  }
  setCounters(state, page, coded.size());
}

void BM_G4Decode(benchmark::State& state, int size) {
  decodeBench(state, true, size);
}
void BM_G4Encode(benchmark::State& state, int size) {
  encodeBench(state, true, size);
}
void BM_G3Decode(benchmark::State& state, int size) {
  decodeBench(state, false, size);
}
void BM_G3Encode(benchmark::State& state, int size) {
  encodeBench(state, false, size);
}

// ---------------------------------------------------------------------------------------------------------
// The drawgen A0 page through tiffcp, one strip: made once per coding in a scratch folder by the drawgen
// program, pnmtotiff and tiffcp (netpbm and libtiff-tools); a benchmark whose file cannot be made is skipped.

struct CodedPage {
  testtiff::TiffLayout layout;
  std::vector<uint8_t> strip;
  std::string error;
};

const CodedPage& drawgenPage(const std::string& tiffcpCoding) {
  static std::map<std::string, CodedPage> pages;
  auto [it, made] = pages.try_emplace(tiffcpCoding);
  CodedPage& page = it->second;
  if (!made) return page;
  const testsupport::ScratchDir scratch("vantrel-bench");
  if (!scratch.ok()) {
    page.error = "no scratch folder";
    return page;
  }
  const std::string dir = scratch.path().string();
  const std::string pbm = dir + "/a0.pbm", plain = dir + "/a0.tif", coded = dir + "/coded.tif";
  const std::string command = std::string(DRAWGEN_EXE) + " '" + pbm + "' && pnmtotiff '" + pbm + "' > '" +
                              plain + "' 2>/dev/null && tiffcp -r 1000000 -c " + tiffcpCoding + " '" + plain +
                              "' '" + coded + "'";
  if (std::system(command.c_str()) != 0) {
    page.error = "drawgen, pnmtotiff or tiffcp failed (netpbm and libtiff-tools installed?)";
  } else {
    std::ifstream in(coded, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!testtiff::parseLayout(file, &page.layout) || page.layout.offsets.size() != 1 ||
        uint64_t{page.layout.offsets[0]} + page.layout.byteCounts[0] > file.size())
      page.error = "not a one-strip TIFF";
    else
      page.strip.assign(file.begin() + page.layout.offsets[0],
                        file.begin() + page.layout.offsets[0] + page.layout.byteCounts[0]);
  }
  return page;
}

enum class StripCoding { kGroup3TwoD, kLzw, kDeflate };

// Decodes the strip row by row as the TIFF reader would: run lists for Group 3, row bytes for the others.
RioStatus decodeStrip(const CodedPage& page, StripCoding coding, RasterStream* s) {
  const auto width = static_cast<int32_t>(page.layout.width);
  const auto height = static_cast<int32_t>(page.layout.height);
  RioStatus status = kRioOk;
  if (coding == StripCoding::kGroup3TwoD) {
    std::vector<int32_t> a(static_cast<size_t>(slineValues(width)), kSlineEnd), b(a);
    int32_t* cur = a.data();
    int32_t* ref = b.data();
    FaxDecoder d{};
    for (int32_t y = 0; y < height && status == kRioOk; ++y) {
      status = g3Decode2dLine(&d, s, width, ref, cur);
      std::swap(cur, ref);
    }
    benchmark::DoNotOptimize(ref[0]);
    return status;
  }
  std::vector<uint8_t> row(static_cast<size_t>(width + 7) / 8);
  const auto rowBytes = static_cast<int32_t>(row.size());
  if (coding == StripCoding::kLzw) {
    auto d = std::make_unique<LzwDecoder>();
    for (int32_t y = 0; y < height && status == kRioOk; ++y)
      status = lzwDecodeBytes(d.get(), s, row.data(), rowBytes);
  } else {
    DeflateDecoder d{};
    status = deflateDecoderRestart(&d);
    for (int32_t y = 0; y < height && status == kRioOk; ++y)
      status = deflateDecodeBytes(&d, s, row.data(), rowBytes);
    deflateDecoderEnd(&d);
  }
  benchmark::DoNotOptimize(row[0]);
  return status;
}

void stripDecodeBench(benchmark::State& state, StripCoding coding, const char* tiffcpCoding) {
  const CodedPage& page = drawgenPage(tiffcpCoding);
  if (!page.error.empty()) {
    state.SkipWithError(page.error.c_str());
    return;
  }
  std::vector<uint8_t> strip = page.strip;
  for (auto _ : state) {
    std::FILE* f = fmemopen(strip.data(), strip.size(), "rb");
    RasterStream* s = streamOpen(f, "r");
    const RioStatus status = decodeStrip(page, coding, s);
    streamClose(s);
    std::fclose(f);
    if (status != kRioOk) {
      state.SkipWithError("the strip does not decode");
      return;
    }
  }
  const double pixels = static_cast<double>(page.layout.width) * page.layout.height;
  state.counters["pixels/s"] = benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["codedKiB"] = static_cast<double>(strip.size()) / 1024;
}

void BM_G3TwoDDecodeTiffcp(benchmark::State& state) {
  stripDecodeBench(state, StripCoding::kGroup3TwoD, "g3:2d");
}
void BM_LzwDecodeTiffcp(benchmark::State& state) {
  stripDecodeBench(state, StripCoding::kLzw, "lzw");
}
void BM_DeflateDecodeTiffcp(benchmark::State& state) {
  stripDecodeBench(state, StripCoding::kDeflate, "zip");
}

BENCHMARK(BM_G3TwoDDecodeTiffcp)->Name("BM_G3TwoDDecode/A0")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzwDecodeTiffcp)->Name("BM_LzwDecode/A0")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateDecodeTiffcp)->Name("BM_DeflateDecode/A0")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G4Decode, A0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G4Encode, A0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G3Decode, A0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G3Encode, A0, 0)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G4Decode, A4, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G4Encode, A4, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G3Decode, A4, 1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_G3Encode, A4, 1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel
