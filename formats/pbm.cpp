// netpbm's portable bitmap (id 36). The header is the magic "P4" (raw) or "P1" (plain), then the width and
// the height as decimal numbers, each item after white space, with comments from '#' to the end of a line
// wherever white space may stand. A raw file's rows follow a single white-space character, ceil(width / 8)
// bytes each, most significant bit leftmost, 1 = black; a plain file's pixels are the characters '0' and
// '1', white space and comments between them ignored. Only the first image of a file is read. No
// resolution is stated. The writer writes raw files.
#include <cstdio>
#include <cstring>

#include "formats/common/raster_row.h"
#include "formats/registry.h"
#include "picture/tpicture.h"

namespace vantrel {
namespace {

// A header number beyond this is refused before any budget is looked at.
constexpr int64_t kMaxHeaderNumber = INT32_MAX;

struct PbmReadState {
  uint32_t* row = nullptr;  // one row in whole words, pixel 0 first
  int32_t rowBytes = 0;
  bool plain = false;
  ~PbmReadState() { rioFree(row); }
};

struct PbmWriteState {
  uint8_t* row = nullptr;  // one row, with the slack rowFromLine needs
  int32_t rowBytes = 0;
  int32_t rowsWritten = 0;
  ~PbmWriteState() { rioFree(row); }
};

bool isPbmSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool readsPbm(const RCB* rcb) { return rcb->reading && rcb->inFormat == kFormatPbm; }
bool writesPbm(const RCB* rcb) { return rcb->writing && rcb->outFormat == kFormatPbm; }

// A header byte: first the bytes recognition took, then the stream; -1 at the end of the file.
int headerByte(RCB* rcb) {
  uint8_t c = 0;
  return rioReadInput(rcb, &c, 1) == 1 ? c : -1;
}

// Skips a comment's text up to and including its line end; false at the end of the file.
template <class Next>
bool skipComment(Next next) {
  for (int c = next(); c >= 0; c = next())
    if (c == '\n' || c == '\r') return true;
  return false;
}

// A header number after white space and comments, ended by one white-space character (or a comment, which
// then runs to its line end). -11 for anything else, and for a number past kMaxHeaderNumber.
RioStatus headerNumber(RCB* rcb, int64_t* value) {
  int c = headerByte(rcb);
  while (isPbmSpace(c) || c == '#') {
    if (c == '#' && !skipComment([rcb] { return headerByte(rcb); })) return kRioUnexpectedEof;
    c = headerByte(rcb);
  }
  if (c < 0) return kRioUnexpectedEof;
  if (c < '0' || c > '9') return kRioBadHeader;
  int64_t v = 0;
  for (; c >= '0' && c <= '9'; c = headerByte(rcb)) {
    v = v * 10 + (c - '0');
    if (v > kMaxHeaderNumber) return kRioBadHeader;
  }
  if (c == '#') {
    if (!skipComment([rcb] { return headerByte(rcb); })) return kRioUnexpectedEof;
  } else if (!isPbmSpace(c)) {
    return c < 0 ? kRioUnexpectedEof : kRioBadHeader;
  }
  *value = v;
  return kRioOk;
}

RioStatus pbmOpen(RCB* rcb) {
  if (readsPbm(rcb) && !rioNewState<PbmReadState>(rcb->readerState)) return rioSetError(rcb, kRioOutOfMemory);
  if (!writesPbm(rcb) || rioState<PbmWriteState>(rcb->writerState)) return kRioOk;
  if (rcb->width < 1 || rcb->width > kMaxLineWidth) return rioSetError(rcb, kRioBadColumns);
  if (rcb->height < 1) return rioSetError(rcb, kRioBadRows);
  auto* st = rioNewState<PbmWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  st->rowBytes = (rcb->width + 7) / 8;
  st->row = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(st->rowBytes) + kRowSlack));
  if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
  return kRioOk;
}

RioStatus pbmReadHeader(RCB* rcb) {
  auto* st = rioState<PbmReadState>(rcb->readerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  const int p = headerByte(rcb);
  const int kind = headerByte(rcb);
  if (p != 'P' || (kind != '4' && kind != '1')) return rioSetError(rcb, kRioBadHeader);
  // The magic ends at white space or a comment, which headerNumber skips.
  int64_t width = 0, height = 0;
  if (RioStatus r = headerNumber(rcb, &width)) return rioSetError(rcb, r);
  if (RioStatus r = headerNumber(rcb, &height)) return rioSetError(rcb, r);
  if (width < 1 || width > kMaxLineWidth) return rioSetError(rcb, kRioBadColumns);
  if (height < 1) return rioSetError(rcb, kRioBadRows);
  rcb->width = static_cast<int32_t>(width);
  rcb->height = static_cast<int32_t>(height);
  st->plain = kind == '1';
  st->rowBytes = static_cast<int32_t>((width + 7) / 8);
  if (!st->row) {
    st->row = static_cast<uint32_t*>(rioCalloc(static_cast<size_t>(bitmapWords(width)), sizeof(uint32_t)));
    if (!st->row) return rioSetError(rcb, kRioOutOfMemory);
  }
  return kRioOk;
}

// A plain row: `width` pixels of '0' and '1', with white space and comments anywhere between them.
RioStatus readPlainRow(RCB* rcb, PbmReadState* st) {
  RasterStream* in = rcb->inStream;
  auto* row = reinterpret_cast<uint8_t*>(st->row);
  std::memset(row, 0, static_cast<size_t>(st->rowBytes));
  for (int32_t x = 0; x < rcb->width;) {
    const int c = streamGetByte(in);
    if (c == '0' || c == '1') {
      if (c == '1') row[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
      ++x;
    } else if (c == '#') {
      if (!skipComment([in] { return streamGetByte(in); })) return kRioUnexpectedEof;
    } else if (!isPbmSpace(c)) {
      return c < 0 ? kRioUnexpectedEof : kRioBadData;
    }
  }
  return kRioOk;
}

RioStatus pbmReadSline(RCB* rcb) {
  auto* st = rioState<PbmReadState>(rcb->readerState);
  if (!st || !st->row || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (rcb->linesRead >= rcb->height) return kRioEndOfPage;
  if (st->plain) {
    if (RioStatus r = readPlainRow(rcb, st)) return rioSetError(rcb, r);
  } else if (streamRead(rcb->inStream, st->row, st->rowBytes) != st->rowBytes) {
    return rioSetError(rcb, kRioUnexpectedEof);
  }
  // The bits past the width in the last byte are padding, whatever they hold.
  BitmapStringToRuns(st->row, static_cast<int32_t>(bitmapWords(rcb->width)), rcb->curSline, 0, rcb->width - 1);
  return kRioOk;
}

RioStatus put(RCB* rcb, const void* bytes, int32_t n) {
  if (streamWrite(rcb->outStream, bytes, n) != n) return rioSetError(rcb, kRioStreamIo);
  return kRioOk;
}

RioStatus pbmWriteHeader(RCB* rcb) {
  char header[40];
  const int n = std::snprintf(header, sizeof header, "P4\n%d %d\n", rcb->width, rcb->height);
  return put(rcb, header, n);
}

RioStatus pbmWriteSline(RCB* rcb) {
  auto* st = rioState<PbmWriteState>(rcb->writerState);
  if (!st || !rcb->curSline) return rioSetError(rcb, kRioInternal);
  if (st->rowsWritten >= rcb->height) {  // the header has no room for it
    rioSetWarning(rcb, kRioBadRows);
    return kRioOk;
  }
  rowFromLine(st->row, st->rowBytes, rcb->curSline, rcb->width);
  ++st->rowsWritten;
  return put(rcb, st->row, st->rowBytes);
}

// A page closed early is completed with white rows, so that its rows match the header, unless the run has
// failed (its output is dropped anyway). A page that received no line still gets its header.
RioStatus pbmFinishWrite(RCB* rcb) {
  auto* st = rioState<PbmWriteState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = pbmWriteHeader(rcb)) return r;
  }
  if (rcb->status != kRioOk && rcb->status != kRioEndOfPage) return kRioOk;
  std::memset(st->row, 0, static_cast<size_t>(st->rowBytes));
  for (; st->rowsWritten < rcb->height; ++st->rowsWritten)
    if (RioStatus r = put(rcb, st->row, st->rowBytes)) return r;
  return kRioOk;
}

RioStatus pbmAllocSlines(RCB* rcb) { return rioAllocSline(rcb); }

RioStatus pbmClose(RCB*) {
  return kRioOk;  // the core releases the state blocks
}

}  // namespace

extern const FormatDriver kPbmDriver = {
    pbmOpen, pbmReadHeader, pbmWriteHeader, pbmAllocSlines, pbmReadSline, pbmWriteSline,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, pbmFinishWrite, pbmClose,
};

// "P4" or "P1" followed by white space or a comment; the header reader judges the rest.
RasterFormatId probePbm(const uint8_t* b, RioStatus*) {
  const bool magic = b[0] == 'P' && (b[1] == '4' || b[1] == '1');
  return magic && (isPbmSpace(b[2]) || b[2] == '#') ? kFormatPbm : 0;
}

}  // namespace vantrel
