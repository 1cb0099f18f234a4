// The toolkit's resampling of a whole picture by a row factor and a column factor.
#include <algorithm>
#include <cmath>

#include "picture/transform.h"
#include "picture/transform_tables.h"
#include "rio/alloc.h"
#include "rio/sline.h"

namespace vantrel {
namespace {

// ---------------------------------------------------------------------------------------------------------
// Scaling of one source row into an output row bitmap (ORed in).

struct ScaleRows {
  const TPicture* source;
  double columnFactor;
  int32_t outWidth;
  int32_t outWords;
  uint32_t* out;      // outWords
  uint32_t* in;       // source row words
  int32_t* offsets;   // source words + 1
  int32_t* runs;      // slineValues(source width)
  int64_t runFactor;  // trunc(columnFactor * 32768)
  float byteSpan;     // output pixels per source byte when reducing

  void orBits(int64_t at, uint32_t msbBits, int count) {
    if (at < 0 || count <= 0) return;
    for (int i = 0; i < count;) {
      int64_t pos = at + i;
      if (pos >= outWidth) return;
      int bit = static_cast<int>(pos & 31);
      int take = std::min(count - i, 32 - bit);
      uint32_t chunk = (msbBits << i) & (take == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> take));
      out[pos >> 5] |= wordFromMsbFirst(chunk >> bit);
      i += take;
    }
  }

  void add(int32_t row) {
    const int32_t width = source->width;
    if (width == 0) return;
    if (columnFactor == 1) {
      int32_t words = ReadBitmapStringTPicture(source, row, in, 0, width - 1);
      OrBitmapString(out, in, std::min(words, outWords));
    } else if (columnFactor > 1) {
      ExtractRunsTPicture(source, row, runs, 0, width - 1);
      for (int32_t* r = runs; !rioSlineEnd(r); r += 2) {
        r[0] = static_cast<int32_t>(std::min<int64_t>(int64_t{r[0]} * runFactor >> 15, outWidth));
        r[1] = static_cast<int32_t>(std::min<int64_t>(int64_t{r[1]} * runFactor >> 15, outWidth));
      }
      WriteRunsBitmapString(out, outWords, runs, 1);
    } else {
      ReadBitmapStringTPicture(source, row, in, 0, width - 1, offsets);
      for (const int32_t* o = offsets; *o >= 0; ++o) {
        const uint32_t w = in[*o / 4];
        for (int k = 0; k < 4; ++k) {
          const uint32_t v = wordByte(w, k);
          if (v == 0) continue;
          const float l = static_cast<float>(*o + k) * byteSpan;
          const float e = l + byteSpan;
          int n = static_cast<int>(std::trunc(e)) - static_cast<int>(std::trunc(l));
          if (n <= 0) n = 1;
          n = std::min(n, 8);
          // A group that would begin before pixel 0 is put at pixel 0, so its black is kept.
          int64_t at = std::max<int64_t>(static_cast<int64_t>(std::trunc(e)) - n, 0);
          orBits(at, uint32_t{kGroupBits[static_cast<size_t>(n)][v]} << 24, n);
        }
      }
    }
  }
};

}  // namespace

TPicture* ScaleTPicture(TPicture* p, double rowFactor, double columnFactor, int keepSource) {
  const char* kName = "ScaleTPicture";
  auto failed = [&](TPicture* made, void* b1, void* b2, void* b3, void* b4) -> TPicture* {
    rioFree(b1);
    rioFree(b2);
    rioFree(b3);
    rioFree(b4);
    FreeTPicture(made);
    if (!keepSource) {
      rastClearLastError();
      rastSetError(kRastTransformFailed, kName);
    }
    return nullptr;
  };
  if (!(rowFactor > 0 && columnFactor > 0 && std::isfinite(rowFactor) && std::isfinite(columnFactor))) {
    rastSetError(kRastOutOfRange, kName);
    return nullptr;
  }
  const double rowStep = 1 / rowFactor;
  const double columnStep = 1 / columnFactor;
  const double rows = std::trunc(p->height / rowStep + 1);
  const double columns = std::trunc(p->width / columnStep + 1);
  if (!(rows <= kMaxPictureSide && columns <= kMaxPictureSide)) {
    rastSetError(kRastOutOfMemory, "AllocTPicture");
    return failed(nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  TPicture* n = AllocTPicture(static_cast<int32_t>(rows), static_cast<int32_t>(columns));
  if (!n) return failed(nullptr, nullptr, nullptr, nullptr, nullptr);
  n->columnDpi = p->columnDpi;
  n->rowDpi = p->rowDpi;

  ScaleRows s{};
  s.source = p;
  s.columnFactor = columnFactor;
  s.outWidth = n->width;
  s.outWords = static_cast<int32_t>(bitmapWords(n->width));
  s.runFactor = static_cast<int64_t>(std::trunc(columnFactor * 32768));
  const double f = (std::trunc((p->width - 1) * columnFactor) + 1) / std::max(p->width, 1);
  s.byteSpan = static_cast<float>(8 * f);
  const int64_t inWords = bitmapWords(p->width);
  s.out = AllocBitmapString(std::max(s.outWords, 1));
  s.in = AllocBitmapString(static_cast<int32_t>(inWords + 1));
  s.offsets = static_cast<int32_t*>(rioCalloc(static_cast<size_t>(inWords + 1), sizeof(int32_t)));
  s.runs = static_cast<int32_t*>(
      rioCalloc(static_cast<size_t>(slineValues(std::max(p->width, 1))), sizeof(int32_t)));
  if (!s.out || !s.in || !s.offsets || !s.runs) {
    rastSetError(kRastOutOfMemory, "AllocBitmapString");
    return failed(n, s.out, s.in, s.offsets, s.runs);
  }
  auto put = [&](int32_t row) { return WriteBitmapStringTPicture(n, row, s.out, s.outWords, 0); };
  int32_t k = 0;
  if (rowStep > 1) {
    // Output row k ORs source rows trunc(s) .. trunc(s + step); neighbouring groups share a row.
    for (double at = 0; at < p->height && k < n->height; at += rowStep, ++k) {
      FillBitmapString(s.out, s.outWords, 0);
      const auto r1 = static_cast<int32_t>(std::min<double>(std::trunc(at + rowStep), p->height - 1));
      for (auto r = static_cast<int32_t>(std::trunc(at)); r <= r1; ++r) s.add(r);
      if (!put(k)) return failed(n, s.out, s.in, s.offsets, s.runs);
    }
  } else {
    double acc = 0;
    for (int32_t r = 0; r < p->height && k < n->height; ++r) {
      FillBitmapString(s.out, s.outWords, 0);
      s.add(r);
      do {
        if (!put(k++)) return failed(n, s.out, s.in, s.offsets, s.runs);
        acc += rowStep;
      } while (acc < 1 && k < n->height);
      acc -= 1;
    }
  }
  rioFree(s.out);
  rioFree(s.in);
  rioFree(s.offsets);
  rioFree(s.runs);
  PackBlackTPicture(n);
  if (!keepSource) FreeTPicture(p);
  return n;
}

TPicture* rastScaleImage(TPicture* p, double rowFactor, double columnFactor, int keepSource) {
  if (!p) {
    rastSetError(kRastNoPicture, "rastScaleImage");
    return nullptr;
  }
  const double columns = p->width * columnFactor;
  const double rows = p->height * rowFactor;
  if (!(columns >= 1 && columns <= 2147483647.0 && rows >= 1 && rows <= 2147483647.0)) {
    rastSetError(kRastOutOfRange, "rastScaleImage");
    return nullptr;
  }
  return ScaleTPicture(p, rowFactor, columnFactor, keepSource);
}

}  // namespace vantrel
