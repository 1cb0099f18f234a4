#include "rio/rcb.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vantrel {
namespace {

RioStatus allocLine(RCB* rcb, int32_t*& line) {
  int64_t values = slineValues(rcb->width) + 2;  // the sentinel pair in front
  auto* block = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(values) * sizeof(int32_t)));
  if (!block) return kRioOutOfMemory;
  block[0] = block[1] = 0;
  block[2] = block[3] = kSlineEnd;
  line = block + 2;
  rcb->slineBytes = values * static_cast<int64_t>(sizeof(int32_t));
  return kRioOk;
}

void freeLine(int32_t*& line) {
  if (line) rioFree(line - 2);
  line = nullptr;
}

}  // namespace

void rioReleaseRcb(RCB* rcb) {
  if (!rcb) return;
  rioFreeSlines(rcb);
  rioReleaseState(rcb->readerState);
  rioReleaseState(rcb->writerState);
  rioFree(rcb->probeBytes);
  rioFree(rcb->extraHeader);
  rioDelete(rcb);
}

int64_t rioMaxPageSide(const RioSettings* settings) {
  if (!settings || settings->maxPageSide.empty()) return kDefaultMaxPageSide;
  const char* text = settings->maxPageSide.c_str();
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text, &end, 0);
  if (end == text || *end != '\0' || errno != 0 || v <= kDefaultMaxPageSide) return kDefaultMaxPageSide;
  return std::min<long long>(v, INT32_MAX);
}

RioStatus rioCheckPageBudget(int64_t width, int64_t height, const RioSettings* settings) {
  const int64_t side = rioMaxPageSide(settings);
  if (width < 0 || width > std::min<int64_t>(side, kMaxLineWidth)) return kRioBadColumns;
  if (height < 0 || height > side || !rioPageWithinBudget(width, height)) return kRioBadRows;
  return kRioOk;
}

Sline rioReadRasterSline(RCB* rcb) {
  if (!rcb) return nullptr;
  if (rcb->inFormat == kFormatNone || !rcb->inDriver) {
    rioSetError(rcb, kRioUnknownFormat);
    return nullptr;
  }
  if (!rcb->reading) {
    rioSetError(rcb, kRioWrongMode);
    return nullptr;
  }
  RioStatus r = rcb->inDriver->readSline(rcb);
  if (r == kRioOk) {
    if (rcb->linesRead >= rcb->height) {
      rioSetError(rcb, kRioBadRows);
      return nullptr;
    }
    ++rcb->linesRead;
    return rcb->curSline;
  }
  if (r == kRioEndOfPage) {
    if (rcb->linesRead < rcb->height) {  // the image ended early, whatever was reported before
      rcb->status = 0;
      rcb->warning = 0;
      rioSetError(rcb, kRioBadRows);
    } else {
      rioSetError(rcb, kRioEndOfPage);
    }
    return nullptr;
  }
  rioSetError(rcb, r);
  return nullptr;
}

RioStatus rioWriteRasterSline(RCB* rcb) {
  if (!rcb) return kRioNoRcb;
  if (!rcb->writing) return rioSetError(rcb, kRioWrongMode);
  if (rcb->outFormat == kFormatNone || !rcb->outDriver) return rioSetError(rcb, kRioUnknownFormat);
  const FormatDriver& d = *rcb->outDriver;
  RioStatus r = kRioOk;
  if (!rcb->headerWritten) {
    r = d.writeHeader(rcb);
    rcb->headerWritten = true;
  }
  if (r == kRioOk) r = d.writeSline(rcb);
  ++rcb->linesWritten;
  // A stream that has lost a block takes nothing more, whether or not the writer looked at its counts:
  // the page stops here.
  if (r == kRioOk && rcb->outStream && !rcb->outStream->ok) r = kRioStreamIo;
  if (r != kRioOk) r = rioSetError(rcb, r);
  return r;
}

RioStatus rioDriverNotImplemented(RCB*) { return kRioNotImplemented; }
RioStatus rioDriverRefuses(RCB* rcb) { return rcb ? rioSetError(rcb, kRioNotImplemented) : kRioNotImplemented; }
RioStatus rioDriverNothing(RCB*) { return kRioOk; }

void rioSwapSlines(RCB* rcb) {
  if (rcb && rcb->slineCount == 2) std::swap(rcb->curSline, rcb->refSline);
}

RioStatus rioCloseRaster(RCB* rcb) {
  if (!rcb) return kRioNoRcb;
  RioStatus result = kRioOk;
  if (rcb->writing && rcb->outFormat != kFormatNone && rcb->outDriver) {
    const FormatDriver& d = *rcb->outDriver;
    (void)d.finishWrite(rcb);
    result = d.close(rcb);
  }
  if (rcb->reading && rcb->inFormat != kFormatNone && rcb->inDriver && rcb->inFormat != rcb->outFormat) {
    const RioStatus r = rcb->inDriver->close(rcb);
    if (result == kRioOk) result = r;  // the writer's failure is not hidden by the reader's close
  }
  rioReleaseRcb(rcb);
  return rioFromStreamResult(result);
}

RioStatus rioAllocSline(RCB* rcb) {
  if (rcb->slineCount != 0) return kRioOk;
  if (RioStatus r = allocLine(rcb, rcb->curSline)) return r;
  rcb->slineCount = 1;
  return kRioOk;
}

RioStatus rioAllocSlinePair(RCB* rcb) {
  if (rcb->slineCount == 2) return kRioOk;
  if (rcb->slineCount == 0) {
    if (RioStatus r = allocLine(rcb, rcb->curSline)) return r;
    rcb->slineCount = 1;
  }
  if (RioStatus r = allocLine(rcb, rcb->refSline)) {
    rioFreeSlines(rcb);
    return r;
  }
  rcb->slineCount = 2;
  return kRioOk;
}

void rioFreeSlines(RCB* rcb) {
  freeLine(rcb->curSline);
  freeLine(rcb->refSline);
  rcb->slineCount = 0;
}

const RioSettings& rioSettings(const RCB* rcb) {
  static const RioSettings kUnset;
  return rcb && rcb->settings ? *rcb->settings : kUnset;
}

int32_t rioReadInput(RCB* rcb, void* dest, int32_t n) {
  auto* out = static_cast<uint8_t*>(dest);
  int32_t done = 0;
  if (rcb->probeBytes && rcb->probeUsed < rcb->probeCount) {
    int32_t k = std::min(n, rcb->probeCount - rcb->probeUsed);
    std::memcpy(out, rcb->probeBytes + rcb->probeUsed, static_cast<size_t>(k));
    rcb->probeUsed += k;
    done = k;
  }
  if (rcb->probeBytes && rcb->probeUsed >= rcb->probeCount) {
    rioFree(rcb->probeBytes);
    rcb->probeBytes = nullptr;
    rcb->probeCount = 0;
    rcb->probeUsed = 0;
  }
  if (done < n) done += streamRead(rcb->inStream, out + done, n - done);
  return done;
}

void rioReleaseState(StateBlock& block) {
  if (block.data && block.release) block.release(block.data);
  block.data = nullptr;
  block.release = nullptr;
}

// Accessors: a null RCB reads as 0 and refuses a change with kRioNoRcb.
template <class T>
T getField(const RCB* rcb, T RCB::*field) {
  return rcb ? rcb->*field : T{};
}
template <class T>
RioStatus setField(RCB* rcb, T RCB::*field, T value) {
  if (!rcb) return kRioNoRcb;
  rcb->*field = value;
  return kRioOk;
}

int32_t rioGetWidth(const RCB* rcb) { return getField(rcb, &RCB::width); }
RioStatus rioSetWidth(RCB* rcb, int32_t width) { return setField(rcb, &RCB::width, width); }
int32_t rioGetHeight(const RCB* rcb) { return getField(rcb, &RCB::height); }
RasterFormatId rioGetInFormat(const RCB* rcb) { return getField(rcb, &RCB::inFormat); }
double rioGetXDpi(const RCB* rcb) { return getField(rcb, &RCB::xDpi); }
RioStatus rioSetXDpi(RCB* rcb, double dpi) { return setField(rcb, &RCB::xDpi, dpi); }
double rioGetYDpi(const RCB* rcb) { return getField(rcb, &RCB::yDpi); }
RioStatus rioSetYDpi(RCB* rcb, double dpi) { return setField(rcb, &RCB::yDpi, dpi); }
RioStatus rioGetStatus(const RCB* rcb) { return getField(rcb, &RCB::status); }
RioStatus rioGetWarning(const RCB* rcb) { return getField(rcb, &RCB::warning); }
Sline rioGetCurSline(const RCB* rcb) { return rcb ? rcb->curSline : nullptr; }

const uint8_t* rioGetExtraHeader(const RCB* rcb) { return rcb ? rcb->extraHeader : nullptr; }
int32_t rioGetExtraHeaderLength(const RCB* rcb) { return getField(rcb, &RCB::extraHeaderLength); }
RioStatus rioAttachExtraHeader(RCB* rcb, uint8_t* block, int32_t length) {
  if (!rcb) return kRioNoRcb;
  if (rcb->extraHeader != block) rioFree(rcb->extraHeader);
  rcb->extraHeader = block;
  rcb->extraHeaderLength = block ? length : 0;
  return kRioOk;
}
uint8_t* rioDetachExtraHeader(RCB* rcb, int32_t* length) {
  if (!rcb) return nullptr;
  uint8_t* block = rcb->extraHeader;
  if (length) *length = rcb->extraHeaderLength;
  rcb->extraHeader = nullptr;
  rcb->extraHeaderLength = 0;
  return block;
}
RioStatus rioSetExtraHeader(RCB* rcb, const uint8_t* data, int32_t length) {
  if (!rcb) return kRioNoRcb;
  if (length < 0) return kRioBadParameter;
  uint8_t* copy = nullptr;
  if (data && length > 0) {
    copy = static_cast<uint8_t*>(rioMalloc(static_cast<size_t>(length)));
    if (!copy) return kRioOutOfMemory;
    std::memcpy(copy, data, static_cast<size_t>(length));
  }
  rioFree(rcb->extraHeader);
  rcb->extraHeader = copy;
  rcb->extraHeaderLength = copy ? length : 0;
  return kRioOk;
}

void rioGetMakerTag(const RCB* rcb, char out[5]) {
  if (rcb)
    std::memcpy(out, rcb->makerTag, 4);
  else
    std::memcpy(out, "    ", 4);
  out[4] = '\0';
}

int32_t rioGetAttribute(const RCB* rcb) { return getField(rcb, &RCB::attribute); }
int32_t rioGetXExtent(const RCB* rcb) { return getField(rcb, &RCB::xExtent); }
int32_t rioGetYExtent(const RCB* rcb) { return getField(rcb, &RCB::yExtent); }
int32_t rioGetRorient(const RCB* rcb, int index) {
  return rcb && (index == 0 || index == 1) ? rcb->rorient[index] : 0;
}

RioStatus rioSetCalsText(RCB* rcb, CalsText which, const char* text) {
  if (!rcb) return kRioNoRcb;
  int i = static_cast<int>(which);
  if (i < 0 || i >= static_cast<int>(CalsText::kCount)) return kRioBadParameter;
  size_t n = text ? strnlen(text, static_cast<size_t>(kCalsTextWidth[i])) : 0;
  std::memcpy(rcb->calsText[i], text ? text : "", n);
  rcb->calsText[i][n] = '\0';
  return kRioOk;
}
const char* rioGetCalsText(const RCB* rcb, CalsText which) {
  int i = static_cast<int>(which);
  if (!rcb || i < 0 || i >= static_cast<int>(CalsText::kCount) || rcb->calsText[i][0] == '\0') return "NONE";
  return rcb->calsText[i];
}

}  // namespace vantrel
