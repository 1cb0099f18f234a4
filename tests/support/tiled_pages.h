// Pages cut into the blocks of tiled files on the test side: a region of a page as raw rows, as Group 3
// lines with or without end-of-line codes, or as one Group 4 image, each coded from a white reference line;
// the run lists of a page's rows for writing it through a driver.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "codec/fax.h"
#include "rio/stream.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"
#include "tests/support/tiled_layout.h"

namespace vantrel::testtiled {

using testpbm::Bitmap;

// The page's pixels [x, x + w) of rows [y, y + h), white beyond the page.
inline Bitmap crop(const Bitmap& page, int32_t x, int32_t y, int32_t w, int32_t h) {
  Bitmap out(w, h);
  for (int32_t r = 0; r < h && y + r < page.height; ++r)
    for (int32_t c = 0; c < w && x + c < page.width; ++c)
      if (page.black(x + c, y + r)) out.set(c, r);
  return out;
}

inline testread::Runs rowRuns(const Bitmap& page, int32_t y) {
  testread::Runs runs;
  for (int32_t x = 0; x < page.width;) {
    if (!page.black(x, y)) {
      ++x;
      continue;
    }
    const int32_t s = x;
    while (x < page.width && page.black(x, y)) ++x;
    runs.emplace_back(s, x);
  }
  return runs;
}

inline std::vector<testread::Runs> pageLines(const Bitmap& page, int32_t rows = -1) {
  std::vector<testread::Runs> lines;
  for (int32_t y = 0; y < (rows < 0 ? page.height : rows); ++y) lines.push_back(rowRuns(page, y));
  return lines;
}

// Rows of rowBytes bytes (at least (width + 7) / 8), most significant bit leftmost.
inline Bytes rawRows(const Bitmap& region, int32_t rowBytes) {
  Bytes out(static_cast<size_t>(rowBytes) * region.height, 0);
  for (int32_t y = 0; y < region.height; ++y)
    std::copy(region.row(y), region.row(y) + region.rowBytes(), out.begin() + static_cast<std::ptrdiff_t>(y) * rowBytes);
  return out;
}

enum class Fax { kGroup3, kGroup3NoEol, kGroup4 };

// The region coded as one fax image from a white reference line, by the library's line coders (the
// reader tests need data of every coding; interop tests take libtiff's instead).
inline Bytes faxRows(const Bitmap& region, Fax kind) {
  std::FILE* f = std::tmpfile();
  RasterStream* s = streamOpen(f, "w");
  FaxEncoder e{};
  e.noEol = kind == Fax::kGroup3NoEol;
  const auto values = static_cast<size_t>(slineValues(region.width) + 2);
  std::vector<int32_t> cur(values, 0), ref(values, 0);
  bool first = true;
  for (int32_t y = 0; y < region.height; ++y) {
    int32_t* p = cur.data() + 2;
    for (auto [a, b] : rowRuns(region, y)) *p++ = a, *p++ = b;
    p[0] = p[1] = kSlineEnd;
    if (kind == Fax::kGroup4)
      (void)g4EncodeLine(&e, s, region.width, cur.data() + 2, first ? nullptr : ref.data() + 2);
    else
      (void)g3EncodeLine(&e, s, region.width, cur.data() + 2);
    std::swap(cur, ref);
    first = false;
  }
  if (kind == Fax::kGroup4)
    (void)g4EncodeFinish(&e, s);
  else if (kind == Fax::kGroup3)
    (void)g3EncodeFinish(&e, s);
  else
    (void)faxEncoderFlush(&e, s);
  (void)streamClose(s);
  Bytes out(static_cast<size_t>(std::ftell(f)));
  std::rewind(f);
  if (!out.empty() && std::fread(out.data(), 1, out.size(), f) != out.size()) out.clear();
  std::fclose(f);
  return out;
}

}  // namespace vantrel::testtiled
