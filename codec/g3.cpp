// Group 3 one-dimensional coding (Modified Huffman, T.4), and the state and run-list helpers both codecs
// share.
#include <algorithm>
#include <cstdint>

#include "codec/fax.h"
#include "codec/fax_2d.h"
#include "codec/fax_tables.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Shared helpers.

void faxDecoderRestart(FaxDecoder* d) {
  bitsReset(d->bits);
  d->bits.limited = false;
  d->bits.bytesLeft = 0;
  d->started = false;
  d->eolCount = 0;
}

void faxDecoderSetByteLimit(FaxDecoder* d, int64_t bytes) {
  d->bits.limited = bytes >= 0;
  d->bits.bytesLeft = std::max<int64_t>(bytes, 0);
  d->bits.exhausted = false;
}

int32_t faxDecoderBufferedBytes(const FaxDecoder* d) {
  return d->bits.count >> 3;
}

void faxEncoderRestart(FaxEncoder* e) {
  e->bits.bits = 0;
  e->bits.count = 0;
  e->started = false;
}

RioStatus faxEncoderFlush(FaxEncoder* e, RasterStream* out) {
  bitsFlushWord(e->bits, out);
  return e->bits.failed ? kRioStreamIo : kRioOk;
}

int32_t faxNormalizeLine(const int32_t* runs, int32_t* out, int32_t width, int64_t maxValues) {
  return rioNormalizeRuns(runs, out, SlineRule::kClip, width, maxValues);
}

int32_t faxReferenceLength(const int32_t* ref, int32_t width) {
  if (!ref) return 0;
  int32_t n = 0;
  int32_t last = -1;
  for (;; n += 2) {
    const int32_t start = ref[n];
    if (start == kSlineEnd) break;
    const int32_t end = ref[n + 1];
    if (start <= last || end <= start || end > width) break;
    last = end;
  }
  return n;
}

// ---------------------------------------------------------------------------------------------------------
// Decoding.

namespace {

inline void terminate(int32_t* out, int32_t n) {
  n &= ~1;  // a black run still open has no end: drop its start
  out[n] = out[n + 1] = kSlineEnd;
}

}  // namespace

RioStatus g3DecodeLine(FaxDecoder* d, RasterStream* in, int32_t width, int32_t* out) {
  if (width < 0) {
    terminate(out, 0);
    return kRioBadParameter;
  }
  if (d->eolCount > 1) {  // the return-to-control sequence has been met
    terminate(out, 0);
    return kRioEndOfPage;
  }
  FaxBitReader r = d->bits;
  if (d->started && d->lineAlign) bitsAlignToByte(r);
  const bool first = !d->started;
  d->started = true;

  int32_t pos = 0;       // the next pixel
  int64_t makeup = 0;    // makeup codes met since the last terminating code
  int32_t n = 0;         // changing elements written; odd while a black run is open
  int32_t runsDone = 0;  // terminating codes of this line
  int table = kMhWhiteRoot;
  RioStatus status = kRioOk;
  for (;;) {
    if (d->noEol && pos == width && runsDone > 0 && makeup == 0) {
      ++d->eolCount;
      break;
    }
    if (r.count < 16) bitsRefill(r, in);
    const MhTable& t = kMhTables.tables[table];
    const MhEntry& e = kMhTables.entries[t.offset + bitsPeek(r, t.indexBits)];
    if (e.bits > r.count) {
      // The data end here: a line that has reached the width is complete.
      if (!(pos == width && runsDone > 0 && makeup == 0)) status = kRioUnexpectedEof;
      break;
    }
    switch (e.kind) {
      case kMhNextTable:
        bitsConsume(r, e.bits);
        table = e.next;
        continue;
      case kMhMakeup:
        bitsConsume(r, e.bits);
        d->eolCount = 0;
        makeup += e.value;
        if (makeup > width - pos) {
          status = kRioBadColumns;
          break;
        }
        table = e.next;
        continue;
      case kMhTerminating: {
        bitsConsume(r, e.bits);
        d->eolCount = 0;
        const int64_t run = makeup + e.value;
        makeup = 0;
        if (run > width - pos) {
          status = kRioBadColumns;
          break;
        }
        const int32_t next = pos + static_cast<int32_t>(run);
        if (next < width) {
          // Only the first (white) run of a line may be empty: elsewhere it would not move right.
          if (run == 0 && runsDone > 0) {
            status = kRioBadData;
            break;
          }
          out[n++] = next;
        } else if (n & 1) {
          out[n++] = width;  // the last black run closes at the width
        }
        pos = next;
        ++runsDone;
        table = e.next;
        continue;
      }
      case kMhEndOfLine:
        if (makeup != 0) {
          status = kRioBadData;  // a makeup code needs its terminating code
          break;
        }
        if (d->eolCount > 0) {  // two in a row: return-to-control
          d->eolCount = 2;
          status = kRioEndOfPage;
          break;
        }
        bitsConsume(r, e.bits);
        d->eolCount = 1;
        if (first && runsDone == 0) {  // the end-of-line code in front of the data
          table = kMhWhiteRoot;
          continue;
        }
        break;  // the line ends; anything not coded is white
      default:
        status = kRioBadData;
        break;
    }
    break;
  }
  d->bits = r;
  terminate(out, n);
  return status;
}

// ---------------------------------------------------------------------------------------------------------
// Encoding.

namespace {

// An end-of-line code, with `aligned` as many fill bits in front as make it end on a byte boundary.
inline void putEol(FaxBitWriter& w, RasterStream* out, bool aligned) {
  const int fill = aligned ? (-(w.count + kEolEncode.length)) & 7 : 0;
  bitsPut(w, out, kEolEncode.bits, kEolEncode.length + fill);
}

}  // namespace

RioStatus g3EncodeLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur) {
  if (width < 0) return kRioBadParameter;
  const int32_t n = faxReferenceLength(cur, width);
  FaxBitWriter w = e->bits;
  if (!e->noEol && !e->started) putEol(w, out, false);
  e->started = true;
  int32_t pos = 0;
  for (int32_t i = 0; i < n; i += 2) {
    fax_detail::putRun(w, out, 0, cur[i] - pos);
    fax_detail::putRun(w, out, 1, cur[i + 1] - cur[i]);
    pos = cur[i + 1];
  }
  if (pos < width || n == 0) fax_detail::putRun(w, out, 0, width - pos);
  if (!e->noEol)
    putEol(w, out, !e->unalignedEol);
  else if (e->lineAlign)
    bitsPadToByte(w, out);
  e->bits = w;
  return w.failed ? kRioStreamIo : kRioOk;
}

RioStatus g3EncodeFinish(FaxEncoder* e, RasterStream* out) {
  if (!e->noEol)
    for (int i = 0; i < 5; ++i) putEol(e->bits, out, false);
  return faxEncoderFlush(e, out);
}

}  // namespace vantrel
