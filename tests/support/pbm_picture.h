// Pages of the PBM test support moved into and out of a tiled picture, row by row through the picture's
// run-list reader and writer, and a check of the picture's edge padding.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "picture/tpicture.h"
#include "tests/support/pbm.h"

namespace vantrel::testpbm {

// The black runs of one row of a page, ended by (-1, -1).
inline std::vector<int32_t> pageRowRuns(const Bitmap& page, int32_t y) {
  std::vector<int32_t> runs;
  for (int32_t x = 0; x < page.width;) {
    if (!page.black(x, y)) {
      ++x;
      continue;
    }
    const int32_t start = x;
    while (x < page.width && page.black(x, y)) ++x;
    runs.push_back(start);
    runs.push_back(x);
  }
  runs.push_back(kSlineEnd);
  runs.push_back(kSlineEnd);
  return runs;
}

// A picture holding the page; tiles that come out all black become black entries. nullptr on failure.
inline TPicture* pictureFromPage(const Bitmap& page) {
  TPicture* p = AllocTPicture(page.height, page.width);
  if (!p) return nullptr;
  for (int32_t y = 0; y < page.height; ++y) {
    if (!WriteRunsTPicture(p, y, pageRowRuns(page, y).data(), 1)) {
      FreeTPicture(p);
      return nullptr;
    }
  }
  PackBlackTPicture(p);
  return p;
}

inline Bitmap pageFromPicture(const TPicture* p) {
  Bitmap page(p->width, p->height);
  std::vector<int32_t> runs(static_cast<size_t>(slineValues(std::max(p->width, 1))));
  for (int32_t y = 0; y < p->height; ++y) {
    ExtractRunsTPicture(p, y, runs.data(), 0, p->width - 1);
    for (const int32_t* r = runs.data(); !rioSlineEnd(r); r += 2) page.fill(r[0], r[1], y);
  }
  return page;
}

// True when every pixel of the edge tiles beyond width and height is white.
inline bool paddingIsWhite(const TPicture* p) {
  for (int32_t tr = 0; tr < p->tileRows; ++tr) {
    for (int32_t tc = 0; tc < p->tilesAcross; ++tc) {
      const TileEntry e = tileRowEntries(p, tr)[tc];
      for (int r = 0; r < kTileSide; ++r) {
        const uint32_t w = entryIsWhite(e) ? 0 : entryIsBlack(e) ? 0xFFFFFFFFu : tileWords(p, e)[r];
        const int64_t row = int64_t{tr} * 32 + r;
        uint32_t pad = 0;
        if (row >= p->height) {
          pad = 0xFFFFFFFFu;
        } else if (int64_t{tc} * 32 + 32 > p->width) {
          pad = ~maskBefore(static_cast<int>(p->width - int64_t{tc} * 32));
        }
        if (w & pad) return false;
      }
    }
  }
  return true;
}

}  // namespace vantrel::testpbm
