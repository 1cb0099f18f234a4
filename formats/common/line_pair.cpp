#include "formats/common/line_pair.h"

namespace vantrel {

RioStatus linePairAlloc(LinePair* lines, int32_t width) {
  if (width < 0) return kRioBadParameter;
  const int64_t per = slineValues(width) + 2 + kFaxOwnLineSpare;  // the (0, 0) pair in front
  auto* block = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(2 * per) * sizeof(int32_t)));
  if (!block) return kRioOutOfMemory;
  rioFree(lines->block);
  lines->block = block;
  lines->width = width;
  block[0] = block[1] = block[per] = block[per + 1] = 0;
  lines->cur = block + 2;
  lines->ref = block + per + 2;
  for (int32_t i = 0; i < kFaxOwnLineEnds; ++i) lines->cur[i] = kSlineEnd;
  linePairRestart(lines);
  return kRioOk;
}

}  // namespace vantrel
