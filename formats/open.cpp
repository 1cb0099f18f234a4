// Opening and recognition: the registry's drivers joined to a new RCB.
#include "formats/open.h"

#include <cstdio>

#include "formats/registry.h"

namespace vantrel {
namespace {

RCB* failOpen(RCB* rcb, RioStatus code, RioStatus* status) {
  rioReleaseRcb(rcb);
  if (status) *status = rioFromStreamResult(code);
  return nullptr;
}

// Every reader's page within the budgets; a page of no rows or no columns is refused, as nothing can
// be written of it.
RioStatus checkReadSize(const RCB* rcb) {
  if (rcb->width <= 0 || rcb->width > kMaxLineWidth) return kRioBadColumns;
  if (rcb->height <= 0) return kRioBadRows;
  return rioCheckPageBudget(rcb->width, rcb->height, rcb->settings);
}

// The input side of an open: recognition, then open, readHeader and allocSlines of the input driver.
RioStatus openInputSide(RCB* rcb, RasterStream* in, RasterFormatId format) {
  rcb->inStream = in;
  rcb->settings = in->settings;
  rcb->reading = true;
  if (format == 0) {
    RioStatus st = kRioOk;
    format = rioRecognizeRaster(rcb, &st);
    if (format == 0) return st;
  }
  rcb->inFormat = format;
  rcb->inDriver = rioFormatDriver(format);
  const FormatDriver& d = *rcb->inDriver;
  if (RioStatus r = d.open(rcb)) return r;
  if (RioStatus r = d.readHeader(rcb)) return r;
  if (RioStatus r = checkReadSize(rcb)) return r;
  return d.allocSlines(rcb);
}

// The output side: open and allocSlines of the output driver; the header waits for the first line.
RioStatus openOutputSide(RCB* rcb, RasterStream* out, RasterFormatId format) {
  rcb->outStream = out;
  rcb->writing = true;
  rcb->outFormat = format;
  rcb->outDriver = rioFormatDriver(format);
  if (RioStatus r = rcb->outDriver->open(rcb)) return r;
  return rcb->outDriver->allocSlines(rcb);
}

}  // namespace

RCB* rioOpenRasterRead(RasterStream* in, RasterFormatId format, RioStatus* status) {
  if (format < 0 || format > kMaxFormatId) return failOpen(nullptr, kRioUnknownFormat, status);
  RCB* rcb = rioNew<RCB>();
  if (!rcb) return failOpen(nullptr, kRioOutOfMemory, status);
  if (!in || in->mode != 0) return failOpen(rcb, kRioBadStream, status);
  if (RioStatus r = openInputSide(rcb, in, format)) return failOpen(rcb, r, status);
  if (status) *status = kRioOk;
  return rcb;
}

RCB* rioOpenRasterWrite(RasterStream* out, int32_t width, int32_t height, RasterFormatId format,
                        RioStatus* status) {
  if (!out || out->mode != 1) return failOpen(nullptr, kRioBadStream, status);
  if (format < 1 || format > kMaxFormatId) return failOpen(nullptr, kRioUnknownFormat, status);
  if (width < 0 || width > kMaxLineWidth) return failOpen(nullptr, kRioBadColumns, status);
  if (height < 0) return failOpen(nullptr, kRioBadRows, status);
  if (RioStatus r = rioCheckPageBudget(width, height, out->settings)) return failOpen(nullptr, r, status);
  RCB* rcb = rioNew<RCB>();
  if (!rcb) return failOpen(nullptr, kRioOutOfMemory, status);
  rcb->settings = out->settings;
  rcb->width = width;
  rcb->height = height;
  if (RioStatus r = openOutputSide(rcb, out, format)) return failOpen(rcb, r, status);
  if (status) *status = kRioOk;
  return rcb;
}

RCB* rioOpenRasterReadWrite(RasterStream* in, RasterFormatId inFormat, RasterStream* out,
                            RasterFormatId outFormat, RioStatus* status) {
  if (inFormat < 0 || inFormat > kMaxFormatId) return failOpen(nullptr, kRioUnknownFormat, status);
  if (!in || in->mode != 0 || !out || out->mode != 1) return failOpen(nullptr, kRioBadStream, status);
  RCB* rcb = rioNew<RCB>();
  if (!rcb) return failOpen(nullptr, kRioOutOfMemory, status);
  if (RioStatus r = openInputSide(rcb, in, inFormat)) return failOpen(rcb, r, status);
  if (outFormat < 1 || outFormat > kMaxFormatId) return failOpen(rcb, kRioUnknownFormat, status);
  if (out->settings) rcb->settings = out->settings;
  if (RioStatus r = openOutputSide(rcb, out, outFormat)) return failOpen(rcb, r, status);
  if (status) *status = kRioOk;
  return rcb;
}

RasterFormatId rioRecognizeBytes(const uint8_t* bytes, int32_t count, RioStatus* status) {
  RioStatus st = kRioOk;
  RasterFormatId id = 0;
  if (count < 5) {
    st = kRioStreamIo;
  } else {
    int probes = 0;
    const FormatProbe* probe = rioRecognitionProbes(&probes);
    for (int i = 0; i < probes && id == 0 && st == kRioOk; ++i) id = probe[i](bytes, &st);
    if (id == 0 && st == kRioOk) st = kRioUnknownFormat;
  }
  if (status) *status = id != 0 ? kRioOk : st;
  return id;
}

RasterFormatId rioRecognizeRaster(RCB* rcb, RioStatus* status) {
  RioStatus st = kRioOk;
  RasterFormatId id = 0;
  auto* block = static_cast<uint8_t*>(rioMalloc(5));
  if (!block) {
    st = kRioOutOfMemory;
  } else {
    rioFree(rcb->probeBytes);
    rcb->probeBytes = block;
    rcb->probeCount = 5;
    rcb->probeUsed = 0;
    int32_t got = streamRead(rcb->inStream, block, 5);
    id = rioRecognizeBytes(block, got, &st);
    if (id == 0 && st == kRioUnknownFormat) {
      char text[96];
      std::snprintf(text, sizeof text, "its first bytes (%02x %02x %02x %02x %02x) are those of no format read here",
                    block[0], block[1], block[2], block[3], block[4]);
      rioInputDetail(rcb, text);
    } else if (id == 0 && got < 5) {
      rioInputDetail(rcb, "shorter than the 5 bytes that tell its format");
    }
  }
  if (status) *status = st;
  if (id == 0) rioSetError(rcb, st);
  return id;
}

}  // namespace vantrel
