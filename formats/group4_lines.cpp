// Group 4 lines owned by the driver: see group4_lines.h.
#include "formats/group4_lines.h"

#include <algorithm>
#include <utility>

namespace vantrel {
namespace {

void whiteLine(int32_t* line) {
  line[-2] = line[-1] = 0;
  line[0] = line[1] = kSlineEnd;
}

// Copies the runs of `src` (at most maxPairs pairs, up to its terminator) clipped to [0, width) into
// `dst`. A run starting at or before the end reached so far joins it (also one out of order), so what
// reaches dst is increasing and fits a line buffer of that width.
void copyBounded(const int32_t* src, int64_t maxPairs, int32_t width, int32_t* dst) {
  int32_t* out = dst;
  for (int64_t i = 0; i < maxPairs && !rioSlineEnd(src); ++i, src += 2) {
    const int32_t s = std::max(src[0], 0);
    const int32_t e = std::min(src[1], width);
    if (s >= width || e <= s) continue;
    if (out > dst && s <= out[-1]) {
      out[-1] = std::max(out[-1], e);
      continue;
    }
    out[0] = s;
    out[1] = e;
    out += 2;
  }
  out[0] = out[1] = kSlineEnd;
}

}  // namespace

Group4Lines::~Group4Lines() { rioFree(block); }

RioStatus group4AllocLines(Group4Lines* lines, int32_t width) {
  if (width < 0) return kRioBadColumns;
  if (!lines->block) {
    const int64_t values = slineValues(width) + 2;
    lines->block = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(2 * values) * sizeof(int32_t)));
    if (!lines->block) return kRioOutOfMemory;
    lines->cur = lines->block + 2;
    lines->ref = lines->block + values + 2;
    lines->width = width;
  }
  whiteLine(lines->cur);
  whiteLine(lines->ref);
  return kRioOk;
}

RioStatus group4ReadLine(RCB* rcb, Group4Lines* lines, FaxDecoder* decoder) {
  if (!lines->block || !rcb->inStream || !rcb->curSline || lines->width != rcb->width)
    return rioSetError(rcb, kRioInternal);
  const RioStatus r = g4DecodeLine(decoder, rcb->inStream, lines->width, lines->ref, lines->cur);
  rioCopySline(lines->cur, rcb->curSline);  // the decoder's lines fit the RCB's buffer of the same width
  std::swap(lines->cur, lines->ref);
  return r == kRioOk ? r : rioSetError(rcb, r);
}

RioStatus group4WriteLine(RCB* rcb, Group4Lines* lines, FaxEncoder* encoder) {
  if (!lines->block || !rcb->outStream || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  copyBounded(rcb->curSline, rcb->slineBytes / 8 - 1, lines->width, lines->cur);
  const RioStatus r = g4EncodeLine(encoder, rcb->outStream, lines->width, lines->cur, lines->ref);
  std::swap(lines->cur, lines->ref);
  return r == kRioOk ? r : rioSetError(rcb, r);
}

}  // namespace vantrel
