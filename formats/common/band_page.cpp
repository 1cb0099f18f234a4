#include "formats/common/band_page.h"

#include <algorithm>

namespace vantrel {

RioStatus bandPageInit(BandPage* page, int32_t width, int32_t height, int32_t tileWidth, int32_t tileLength) {
  if (width < 1 || height < 0 || tileWidth < 1 || tileLength < 1) return kRioBadParameter;
  page->height = height;
  page->tileRow = 0;
  page->tileRows = static_cast<int32_t>((int64_t{height} + tileLength - 1) / tileLength);
  if (height == 0) return kRioOk;
  return bandWriterInit(&page->band, width, tileWidth, std::min(tileLength, height));
}

int32_t bandPageRows(const BandPage& page, int32_t tileRow) {
  const int64_t first = int64_t{tileRow} * page.band.tileLength;
  return static_cast<int32_t>(std::clamp<int64_t>(page.height - first, 0, page.band.tileLength));
}

namespace {

RioStatus writeBand(BandPage* page, BandPageWriteRow write, void* context) {
  if (RioStatus r = write(context, &page->band, page->tileRow, bandPageRows(*page, page->tileRow))) return r;
  ++page->tileRow;
  bandWriterClear(&page->band);
  return kRioOk;
}

}  // namespace

RioStatus bandPageAddRow(BandPage* page, const int32_t* runs, BandPageWriteRow write, void* context) {
  if (page->tileRow >= page->tileRows) return kRioInternal;
  if (RioStatus r = bandWriterAddRow(&page->band, runs)) return r;
  if (page->band.rows < bandPageRows(*page, page->tileRow)) return kRioOk;
  return writeBand(page, write, context);
}

RioStatus bandPageFinish(BandPage* page, BandPageWriteRow write, void* context) {
  while (page->tileRow < page->tileRows)
    if (RioStatus r = writeBand(page, write, context)) return r;
  return kRioOk;
}

RioStatus bandPageEnd(RCB* rcb, BandPage* page, const bool* headerDone, DriverOp writeHeader,
                      BandPageWriteRow write, void* context) {
  const bool failed = rcb->status != kRioOk && rcb->status != kRioEndOfPage;
  if (!rcb->headerWritten && !failed) {
    rcb->headerWritten = true;
    if (RioStatus r = writeHeader(rcb)) return r;
  }
  if (!*headerDone) return rcb->status != kRioOk ? rcb->status : rioSetError(rcb, kRioStreamIo);
  if (failed) return kRioOk;
  if (RioStatus r = bandPageFinish(page, write, context)) return rioSetError(rcb, r);
  return kRioOk;
}

}  // namespace vantrel
