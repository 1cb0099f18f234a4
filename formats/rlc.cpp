// Image Systems run-length (ids 7 and 18) and Graphtec run-length (id 24, written only). Every number is an
// unsigned 16-bit big-endian word. A column x of a W-wide page has the coordinate W - x (the rightmost
// column is 1, the leftmost W). Each row is a run count k and k pairs (A, B), one per black run from the
// rightmost to the leftmost: A the coordinate of the run's last pixel, B of its first. Runs of a valid row
// are separated by white. No magic and no trailer: the file ends after the H-th row.
//
// Headers: ids 7 and 18 H, W; id 24 "GRAPHTEC", 0x00, 0x10, H, W, 0, H, W. Id 18 is id 7 without the
// row-count warnings at close. Sizes are at most 65534.
#include <algorithm>
#include <cstring>

#include "formats/common/byte_io.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr int32_t kMaxSide = 65534;
constexpr int32_t kRlcHeaderSize = 4;
constexpr uint8_t kGraphtecHeader[] = {'G', 'R', 'A', 'P', 'H', 'T', 'E', 'C', 0x00, 0x10};
constexpr int32_t kGraphtecHeaderSize = sizeof kGraphtecHeader + 10;
constexpr int32_t kPairBytes = 4;

struct RlcReadState {
  int32_t width = 0;    // W of the header
  int32_t maxRuns = 0;  // runs the line buffer holds
};

struct RlcWriteState {
  int32_t width = 0;   // W: the page's width, at most 65534
  int32_t height = 0;  // H: likewise
  int32_t rowsWritten = 0;
  int32_t* runs = nullptr;  // the row's runs, clipped to W and joined where they touch
  uint8_t* record = nullptr;  // one row record: the count and up to (W + 1) / 2 pairs
  ~RlcWriteState() {
    rioFree(runs);
    rioFree(record);
  }
};

uint8_t* appendBe16(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
  return p + 2;
}

bool isFamily(RasterFormatId id) {
  return id == kFormatRlc || id == kFormatRlcFamily || id == kFormatGraphtec;
}
bool readsRlc(const RCB* rcb) {
  return rcb->reading && isFamily(rcb->inFormat);
}
bool writesRlc(const RCB* rcb) {
  return rcb->writing && isFamily(rcb->outFormat);
}

RioStatus put(RCB* rcb, const uint8_t* bytes, int32_t n) {
  if (streamWrite(rcb->outStream, bytes, n) != n) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

// Bytes from the stream, straight from its buffer when they are there.
bool take(RasterStream* in, uint8_t* dest, int32_t n) {
  if (in->end - in->cur >= n) {
    std::memcpy(dest, in->cur, static_cast<size_t>(n));
    in->cur += n;
    return true;
  }
  return streamRead(in, dest, n) == n;
}

RioStatus rlcOpen(RCB* rcb) {
  if (readsRlc(rcb)) {
    if (rcb->inFormat == kFormatGraphtec) return rioSetError(rcb, kRioNotImplemented);
    if (!rioNewState<RlcReadState>(rcb->readerState)) return rioSetError(rcb, kRioOutOfMemory);
  }
  if (!writesRlc(rcb) || rioState<RlcWriteState>(rcb->writerState)) return kRioOk;
  // The 16-bit size fields cannot state a larger page: it is refused before anything is written.
  if (rcb->width > kMaxSide) return rioSetError(rcb, kRioBadColumns);
  if (rcb->height > kMaxSide) return rioSetError(rcb, kRioBadRows);
  auto* st = rioNewState<RlcWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  st->width = rcb->width;
  st->height = rcb->height;
  const int64_t maxRuns = (int64_t{st->width} + 1) / 2;
  st->runs = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(slineValues(st->width)) * sizeof(int32_t)));
  st->record = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(2 + maxRuns * kPairBytes)));
  if (!st->runs || !st->record) return rioSetError(rcb, kRioOutOfMemory);
  return kRioOk;
}

RioStatus rlcReadHeader(RCB* rcb) {
  auto* st = rioState<RlcReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t h[kRlcHeaderSize];
  if (rioReadInput(rcb, h, kRlcHeaderSize) != kRlcHeaderSize) return rioSetError(rcb, kRioStreamIo);
  const int32_t height = getBe16(h);
  const int32_t width = getBe16(h + 2);
  if (height > std::min(rcb->height, kMaxSide)) return rioSetError(rcb, kRioBadRows);
  if (width > std::min(rcb->width, kMaxSide)) return rioSetError(rcb, kRioBadColumns);
  rcb->height = height;
  rcb->width = width;
  st->width = width;
  st->maxRuns = (width + 1) / 2;
  return kRioOk;
}

RioStatus rlcAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// Sorts the runs of an illegal row by start, then joins those that touch or overlap; runs are already inside
// [0, W) and not empty.
void repairRow(int32_t* runs, int32_t count) {
  struct Run {
    int32_t start, end;
  };
  auto* r = reinterpret_cast<Run*>(runs);
  std::sort(r, r + count, [](const Run& a, const Run& b) { return a.start < b.start; });
  int32_t kept = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (kept > 0 && r[i].start <= r[kept - 1].end) {
      r[kept - 1].end = std::max(r[kept - 1].end, r[i].end);
      continue;
    }
    r[kept++] = r[i];
  }
  runs[2 * kept] = runs[2 * kept + 1] = kSlineEnd;
}

// A row record. The pairs come from right to left, so each run is stored at its place from the end of the
// list. A pair outside 1..W, one reversed, or a run touching or overlapping its right neighbour makes the
// row illegal: it is then clamped to the page, sorted and joined, and the warning recorded. Pairs beyond
// what the line buffer holds are read and skipped, and make the row illegal too.
RioStatus rlcReadSline(RCB* rcb) {
  auto* st = rioState<RlcReadState>(rcb->readerState);
  int32_t* runs = rcb->curSline;
  if (!st || !runs || !rcb->inStream) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  RasterStream* in = rcb->inStream;
  uint8_t word[kPairBytes];
  if (!take(in, word, 2)) return rioSetError(rcb, kRioStreamIo);
  const int32_t k = getBe16(word);
  const int32_t kept = std::min(k, st->maxRuns);
  const int32_t width = st->width;
  bool illegal = kept < k;
  int32_t rightFirst = width + 1;  // first column of the run to the right
  int32_t stored = 0;
  for (int32_t i = 0; i < k; ++i) {
    if (!take(in, word, kPairBytes)) {
      runs[0] = runs[1] = kSlineEnd;
      return rioSetError(rcb, kRioStreamIo);
    }
    if (i >= kept) continue;
    const int32_t a = getBe16(word);
    const int32_t b = getBe16(word + 2);
    const int32_t last = width - a;
    const int32_t first = width - b;
    if (a < 1 || a > width || b < 1 || b > width || a > b || last >= rightFirst - 1) illegal = true;
    rightFirst = first;
    const int32_t start = std::max(first, 0);
    const int32_t end = std::min(last + 1, width);
    if (start >= end) continue;  // nothing of it lies on the page
    int32_t* slot = runs + 2 * (kept - 1 - stored++);
    slot[0] = start;
    slot[1] = end;
  }
  // Runs left out moved nothing: close the gap they left at the front.
  if (stored < kept) std::memmove(runs, runs + 2 * (kept - stored), static_cast<size_t>(stored) * 2 * sizeof(int32_t));
  runs[2 * stored] = runs[2 * stored + 1] = kSlineEnd;
  if (illegal) {
    repairRow(runs, stored);
    rioSetWarning(rcb, kRioBadData);
  }
  return kRioOk;
}

RioStatus rlcWriteHeader(RCB* rcb) {
  auto* st = rioState<RlcWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t h[kGraphtecHeaderSize];
  uint8_t* p = h;
  if (rcb->outFormat == kFormatGraphtec) {
    std::memcpy(p, kGraphtecHeader, sizeof kGraphtecHeader);
    p += sizeof kGraphtecHeader;
    p = appendBe16(appendBe16(appendBe16(p, st->height), st->width), 0);
  }
  p = appendBe16(appendBe16(p, st->height), st->width);
  return put(rcb, h, static_cast<int32_t>(p - h));
}

// The runs of curSline inside [0, W), joined where they touch or overlap; the walk stays inside the line
// buffer whatever the list holds. Returns the number of runs.
int32_t clippedRuns(const RCB* rcb, int32_t width, int32_t* out) {
  const int32_t* src = rcb->curSline;
  const int64_t maxPairs = rcb->slineBytes / 8 - 1;
  int32_t n = 0;
  for (int64_t i = 0; i < maxPairs && !rioSlineEnd(src); ++i, src += 2) {
    const int32_t s = std::max(src[0], 0);
    const int32_t e = std::min(src[1], width);
    if (s >= width) break;
    if (e <= s) continue;
    if (n > 0 && s <= out[2 * n - 1]) {
      out[2 * n - 1] = std::max(out[2 * n - 1], e);
      continue;
    }
    out[2 * n] = s;
    out[2 * n + 1] = e;
    ++n;
  }
  return n;
}

RioStatus rlcWriteSline(RCB* rcb) {
  auto* st = rioState<RlcWriteState>(rcb->writerState);
  if (!st || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (st->rowsWritten >= st->height) {  // the header has no room for it
    rioSetWarning(rcb, kRioBadRows);
    return kRioOk;
  }
  const int32_t n = clippedRuns(rcb, st->width, st->runs);
  const int32_t w = st->width;
  uint8_t* p = appendBe16(st->record, n);
  for (int32_t i = n - 1; i >= 0; --i) {
    const int32_t s = st->runs[2 * i];
    const int32_t e = st->runs[2 * i + 1];
    p = appendBe16(appendBe16(p, w - (e - 1)), w - s);
  }
  ++st->rowsWritten;
  return put(rcb, st->record, static_cast<int32_t>(p - st->record));
}

// The header if no line came, then empty rows up to H, unless the run has failed (its output is lost
// anyway).
RioStatus rlcFinishWrite(RCB* rcb) {
  auto* st = rioState<RlcWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = rlcWriteHeader(rcb)) return r;
  }
  if (rcb->status != kRioOk && rcb->status != kRioEndOfPage) return kRioOk;
  constexpr int32_t kBlockRows = 4096;
  static constexpr uint8_t kEmptyRows[2 * kBlockRows] = {};
  while (st->rowsWritten < st->height) {
    const int32_t n = std::min(st->height - st->rowsWritten, kBlockRows);
    if (RioStatus r = put(rcb, kEmptyRows, 2 * n)) return r;
    st->rowsWritten += n;
  }
  return kRioOk;
}

// Row counts that differ from H are a warning, except for id 18.
RioStatus rlcClose(RCB* rcb) {
  if (readsRlc(rcb) && rcb->inFormat != kFormatRlcFamily && rcb->linesRead != rcb->height)
    rioSetWarning(rcb, kRioBadRows);
  if (writesRlc(rcb) && rcb->outFormat != kFormatRlcFamily) {
    auto* st = rioState<RlcWriteState>(rcb->writerState);
    if (st && (st->rowsWritten != st->height || rcb->linesWritten > st->height)) rioSetWarning(rcb, kRioBadRows);
  }
  return kRioOk;
}

}  // namespace

extern const FormatDriver kRlcDriver = {
    rlcOpen, rlcReadHeader, rlcWriteHeader, rlcAllocSlines, rlcReadSline, rlcWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNothing, rlcFinishWrite, rlcClose,
};

}  // namespace vantrel
