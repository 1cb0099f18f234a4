// Moving a reader or a writer from one page of a document to the next.
#include "formats/pages.h"

#include "formats/registry.h"

namespace vantrel {
namespace {

// Line buffers made again for the page now in the RCB, by the drivers of both sides.
RioStatus remakeLines(RCB* rcb) {
  rioFreeSlines(rcb);
  if (rcb->reading && rcb->inDriver)
    if (RioStatus r = rcb->inDriver->allocSlines(rcb)) return r;
  if (rcb->writing && rcb->outDriver && rcb->outDriver != rcb->inDriver)
    if (RioStatus r = rcb->outDriver->allocSlines(rcb)) return r;
  return kRioOk;
}

}  // namespace

const PageOps* rioPageOps(const FormatDriver* driver) {
  if (driver == &kTiffDriver) return &kTiffPages;
  if (driver == &kPdfDriver) return &kPdfPages;
  if (driver == &kPostScriptDriver) return &kPostScriptPages;
  return nullptr;
}

bool rioWritesPages(RasterFormatId format) {
  const FormatInfo& info = rioFormatInfo(format);
  const PageOps* ops = rioPageOps(info.driver);
  return info.writes && ops && ops->endPage;
}

RioStatus rioCountPages(RCB* in, int32_t* count) {
  *count = 1;
  const PageOps* ops = in ? rioPageOps(in->inDriver) : nullptr;
  if (!ops || !ops->countPages) return kRioOk;
  return ops->countPages(in, count);
}

RioStatus rioReadPage(RCB* in, int32_t index) {
  if (!in || !in->reading) return kRioBadParameter;
  const PageOps* ops = rioPageOps(in->inDriver);
  if (!ops || !ops->readPage) return index == 0 && in->linesRead == 0 ? kRioOk : kRioBadParameter;
  in->status = 0;
  in->linesRead = 0;
  in->carried = CarriedCode{};
  if (RioStatus r = ops->readPage(in, index)) return rioSetError(in, r);
  in->pageRead = index;
  if (in->width <= 0 || in->width > kMaxLineWidth) return rioSetError(in, kRioBadColumns);
  if (in->height <= 0) return rioSetError(in, kRioBadRows);
  if (RioStatus r = rioCheckPageBudget(in->width, in->height, in->settings)) return rioSetError(in, r);
  if (RioStatus r = remakeLines(in)) return rioSetError(in, r);
  return kRioOk;
}

RioStatus rioEndWrittenPage(RCB* out) {
  if (!out || !out->writing) return kRioBadParameter;
  const PageOps* ops = rioPageOps(out->outDriver);
  if (!ops || !ops->endPage) return rioSetError(out, kRioNotImplemented);
  if (RioStatus r = ops->endPage(out)) return rioSetError(out, r);
  ++out->pageWritten;
  out->linesWritten = 0;
  out->headerWritten = false;
  out->carried = CarriedCode{};
  return kRioOk;
}

RioStatus rioSizeWrittenPage(RCB* out, int32_t width, int32_t height) {
  if (!out || !out->writing || out->reading) return kRioBadParameter;
  if (width <= 0 || width > kMaxLineWidth) return rioSetError(out, kRioBadColumns);
  if (height <= 0) return rioSetError(out, kRioBadRows);
  if (RioStatus r = rioCheckPageBudget(width, height, out->settings)) return rioSetError(out, r);
  out->width = width;
  out->height = height;
  if (RioStatus r = remakeLines(out)) return rioSetError(out, r);
  return kRioOk;
}

}  // namespace vantrel
