#include "rio/sline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "rio/alloc.h"

namespace vantrel {

int32_t* alloc_sline(int32_t n) {
  if (n < 0) return nullptr;
  auto* runs = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(slineValues(n)) * sizeof(int32_t)));
  if (runs) runs[0] = runs[1] = kSlineEnd;
  return runs;
}

void free_sline(int32_t* runs) { rioFree(runs); }

int32_t rioSlineRuns(const int32_t* runs) {
  int32_t n = 0;
  while (!rioSlineEnd(runs + 2 * n)) ++n;
  return n;
}

void rioCopySline(const int32_t* src, int32_t* dst) {
  size_t values = 2 * static_cast<size_t>(rioSlineRuns(src)) + 2;
  std::memmove(dst, src, values * sizeof(int32_t));
}

void rioCopySlineClipped(const int32_t* src, int32_t* dst, int32_t width) {
  int32_t* out = dst;
  for (; !rioSlineEnd(src); src += 2) {
    int32_t s = std::max(src[0], 0);
    int32_t e = std::min(src[1], width);
    if (s >= width) break;
    if (e <= s) continue;
    if (out > dst && s <= out[-1]) {  // touching or overlapping: join, so the line fits its buffer
      out[-1] = std::max(out[-1], e);
      continue;
    }
    out[0] = s;
    out[1] = e;
    out += 2;
  }
  out[0] = out[1] = kSlineEnd;
}

void rioShiftSline(int32_t* runs, int32_t dx) {
  for (; !rioSlineEnd(runs); runs += 2) {
    runs[0] += dx;
    runs[1] += dx;
  }
}

void rioScaleSlineFixed(int32_t* runs, uint64_t factor) {
  const int64_t f = static_cast<int64_t>(std::min<uint64_t>(factor, INT64_MAX));
  auto scale = [f](int32_t v) {
    int64_t product = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(v), f, &product)) return v < 0 ? INT32_MIN : INT32_MAX;
    int64_t r = product >> 15;  // arithmetic shift: floor also below 0
    return static_cast<int32_t>(std::clamp<int64_t>(r, INT32_MIN, INT32_MAX));
  };
  for (; !rioSlineEnd(runs); runs += 2) {
    runs[0] = scale(runs[0]);
    runs[1] = scale(runs[1]);
  }
}

void rioScaleSlineClip(const int32_t* src, int32_t* dst, double scale, double shift, int32_t limit) {
  auto round = [](double v) -> int32_t {
    if (v <= 0) return 0;
    double r = std::floor(v + 0.5);
    return r >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(r);
  };
  for (; !rioSlineEnd(src); src += 2) {
    double e = scale * src[1] - shift;
    if (e <= 0) continue;
    int32_t s = round(scale * src[0] - shift);
    if (s >= limit) break;
    int32_t ei = round(e);
    dst[0] = s;
    if (ei >= limit) {
      dst[1] = limit;
      dst += 2;
      break;
    }
    dst[1] = ei;
    dst += 2;
  }
  dst[0] = dst[1] = kSlineEnd;
}

namespace {

// Appends [s, e) after the runs in [dst, out), joined to the last one when it touches it; the new end.
int32_t* appendJoined(const int32_t* dst, int32_t* out, int32_t s, int32_t e) {
  if (out > dst && s <= out[-1]) {
    out[-1] = std::max(out[-1], e);
    return out;
  }
  out[0] = s;
  out[1] = e;
  return out + 2;
}

}  // namespace

// Writing dst never overtakes reading src (n <= i), so both may be one buffer.
namespace {

// The rule is a template argument, so each loop has its own branches only; the last end stays in a
// register, since dst may be src itself.
template <bool kClipRuns>
int32_t normalizeRuns(const int32_t* src, int32_t* dst, int32_t width, int64_t maxValues) {
  int32_t n = 0;
  int32_t lastEnd = 0;
  for (int64_t i = 0; i + 1 < maxValues; i += 2) {
    int32_t s = src[i];
    if (s == kSlineEnd && (kClipRuns || src[i + 1] == kSlineEnd)) break;
    int32_t e = src[i + 1];
    if constexpr (kClipRuns) {
      s = std::max(s, 0);
      e = std::min(e, width);
      if (s >= width) break;
      if (e <= s) continue;
    } else {
      e = std::max(e, s + 1);  // an empty run keeps one pixel of black
    }
    if (n > 0 && s <= lastEnd) {
      if (e > lastEnd) dst[n - 1] = lastEnd = e;
      continue;
    }
    dst[n] = s;
    dst[n + 1] = lastEnd = e;
    n += 2;
  }
  dst[n] = dst[n + 1] = kSlineEnd;
  return n;
}

}  // namespace

int32_t rioNormalizeRuns(const int32_t* src, int32_t* dst, SlineRule rule, int32_t width, int64_t maxValues) {
  return rule == SlineRule::kClip ? normalizeRuns<true>(src, dst, width, maxValues)
                                  : normalizeRuns<false>(src, dst, width, maxValues);
}

void rioMergeSline(const int32_t* a, const int32_t* b, int32_t* dst) {
  int32_t* out = dst;
  for (;;) {
    const bool aLeft = !rioSlineEnd(a), bLeft = !rioSlineEnd(b);
    if (!aLeft && !bLeft) break;
    const int32_t*& next = !bLeft || (aLeft && a[0] <= b[0]) ? a : b;
    const int32_t s = next[0], e = next[1];
    next += 2;
    if (e <= s) continue;
    out = appendJoined(dst, out, s, e);
  }
  out[0] = out[1] = kSlineEnd;
}

// In place is safe: the output never runs ahead of the input.
void rioClipSline(int32_t* runs, int32_t width) { rioCopySlineClipped(runs, runs, width); }

int32_t* rioAppendSline(int32_t* tail, const int32_t* src, int32_t dx) {
  // An empty line: tail points at the terminator itself, where the first run goes.
  bool empty = tail[0] == kSlineEnd;
  int32_t* out = empty ? tail : tail + 1;
  for (; !rioSlineEnd(src); src += 2) {
    int32_t s = src[0] + dx;
    int32_t e = src[1] + dx;
    if (!empty && s <= out[-1]) {
      out[-1] = std::max(out[-1], e);
      continue;
    }
    out[0] = s;
    out[1] = e;
    out += 2;
    empty = false;
  }
  out[0] = out[1] = kSlineEnd;
  return empty ? out : out - 1;
}

}  // namespace vantrel
