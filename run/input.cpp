#include "run/input.h"

#include <algorithm>
#include <memory>

#include "formats/open.h"
#include "formats/pages.h"
#include "picture/import.h"
#include "picture/transform.h"
#include "picture/turned_rows.h"
#include "rio/sline.h"

namespace vantrel {
namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

// The raster status whose text names a failed turn, from the toolkit's last error.
RioStatus turnFailureStatus(RastError error) {
  // A quarter turn that could not finish gives 19; it fails only for lack of memory.
  return error == kRastOutOfMemory || error == kRastTransformFailed ? kRioOutOfMemory : kRioInternal;
}

}  // namespace

RioStatus RunInput::openReader(RasterStream* stream, RasterFormatId format) {
  RioStatus status = 0;
  rcb_.reset(rioOpenRasterRead(stream, format, &status));
  return rcb_ ? kRioOk : status;
}

RioStatus RunInput::openTurned(std::FILE* file, RasterFormatId format, int32_t degrees, double dpi,
                               const RioSettings* settings, RasterFormatId* formatRead, int64_t budget,
                               int32_t page) {
  turned_ = {degrees, dpi, budget};
  pages_ = 0;
  rcb_.reset();
  picture_.reset();
  turning_ = false;
  // The document's reader stays open for the pages after this one, so a page further on is reached from
  // the one before it, never by walking the document again.
  source_.reset();
  sourceStream_.reset(streamOpen(file, "r", settings));
  if (!sourceStream_) return kRioOutOfMemory;
  RioStatus status = 0;
  source_.reset(rioOpenRasterRead(sourceStream_.get(), format, &status));
  if (!source_) return status != 0 ? status : kRioOutOfMemory;
  if (formatRead) *formatRead = source_->inFormat;
  if (RioStatus r = rioCountPages(source_.get(), &pages_)) return r;
  if (page >= pages_) return kRunNoSuchPage;
  if (page > 0) {
    if (RioStatus r = rioReadPage(source_.get(), page)) return r;
  }
  return turnPage();
}

RioStatus RunInput::turnPage() {
  rcb_.reset();
  picture_.reset();
  turning_ = false;
  const int32_t degrees = turned_.degrees;
  const double dpi = turned_.dpi;
  // A quarter turn makes the input's height the width of the lines served; a half turn keeps the width.
  // The budget keeps an entry's room per tile for the turn's own storage (a quarter turn's band of rows
  // takes less on any page wider than a thousand pixels).
  ImportLimits limits;
  const bool quarter = degrees % 180 != 0;
  limits.acceptPage = [](int32_t width, int32_t height, const void* turnsQuarter) -> RioStatus {
    const int32_t turnedWidth = *static_cast<const bool*>(turnsQuarter) ? height : width;
    return turnedWidth > kMaxLineWidth ? kRioBadColumns : kRioOk;
  };
  limits.context = &quarter;
  limits.maxBytes = turned_.budget > 0 ? turned_.budget : kDefaultPictureBudget;
  limits.spareBytesPerTile = static_cast<int64_t>(sizeof(TileEntry));
  RioStatus readStatus = 0;
  picture_.reset(ImportPageTPicture(source_.get(), &readStatus, &limits));
  // An import that ended with an error (undecipherable data, a page that ended early) is never turned.
  if (!picture_ || rastGetLastError() != kRastNoError) {
    picture_.reset();
    return readStatus != 0 && readStatus != kRioEndOfPage ? readStatus : kRioOutOfMemory;
  }
  // Header data the reader hands on travel with the served lines, as on the plain path.
  struct HeaderFree {
    void operator()(uint8_t* block) const { rioFree(block); }
  };
  int32_t headerLength = 0;
  std::unique_ptr<uint8_t, HeaderFree> headerBlock(rioDetachExtraHeader(source_.get(), &headerLength));

  RcbPtr rcb(rioNew<RCB>());
  if (!rcb) return kRioOutOfMemory;
  const TPicture* picture = picture_.get();
  if (quarter) {
    // A quarter turn is served row by row from the picture's tiles, turned a tile column at a time.
    const bool clockwise = (degrees % 360 + 360) % 360 == 270;
    if (!turnedRows_.open(picture_.get(), clockwise)) return kRioOutOfMemory;
    turning_ = true;
    rcb->xDpi = dpi > 0 ? dpi : rastGetImageRowDPI(picture);
    rcb->yDpi = dpi > 0 ? dpi : rastGetImageColumnDPI(picture);
    rcb->width = turnedRows_.width();
    rcb->height = turnedRows_.height();
  } else {
    const double angle = degrees * kRadiansPerDegree;
    if (angle != 0) {
      // The turn consumes the picture whether or not it succeeds.
      picture_.reset(rastRotateImage(picture_.release(), angle, nullptr, 0));
      if (!picture_) return turnFailureStatus(rastGetLastError());
    }
    picture = picture_.get();
    // The turned page's column resolution is its x resolution and its row resolution its y; -dpi sets
    // both.
    rcb->xDpi = dpi > 0 ? dpi : rastGetImageColumnDPI(picture);
    rcb->yDpi = dpi > 0 ? dpi : rastGetImageRowDPI(picture);
    rcb->width = static_cast<int32_t>(rastGetImageWidth(picture));
    rcb->height = static_cast<int32_t>(rastGetImageHeight(picture));
  }
  if (rcb->width < 1 || rcb->width > kMaxLineWidth) return kRioBadColumns;
  if (RioStatus r = rioAllocSlinePair(rcb.get())) return r;
  if (headerBlock) {
    if (RioStatus r = rioAttachExtraHeader(rcb.get(), headerBlock.release(), headerLength)) return r;
  }
  rcb_ = std::move(rcb);
  return kRioOk;
}

RioStatus RunInput::countPages(int32_t* count) {
  if (source_) {
    *count = std::max(pages_, 1);
    return kRioOk;
  }
  return rioCountPages(rcb_.get(), count);
}

RioStatus RunInput::readPage(int32_t index) {
  RioStatus status = kRioOk;
  if (source_) {
    if (index >= pages_) return kRunNoSuchPage;
    status = rioReadPage(source_.get(), index);
    if (status == kRioOk) status = turnPage();
  } else {
    status = rioReadPage(rcb_.get(), index);
  }
  if (status == kRioOk && watch_ != nullptr) watch_->startPage(rcb_->height);
  return status;
}

void RunInput::watch(RunWatch* watch) {
  watch_ = watch;
  if (watch_ != nullptr) watch_->startPage(rcb_->height);
}

bool RunInput::next() {
  RCB* in = rcb_.get();
  if (watch_ != nullptr && !watch_->rowRead(in->linesRead)) {
    (void)rioSetError(in, kRunCancelled);
    return false;
  }
  const TPicture* picture = picture_.get();
  if (!picture) return rioReadRasterSline(in) != nullptr;
  // The RCB's line buffers are made for its width: never take more columns or rows than both have.
  const int32_t rows = std::min(in->height, turning_ ? turnedRows_.height() : picture->height);
  const int32_t columns = std::min(in->width, turning_ ? turnedRows_.width() : picture->width);
  if (in->linesRead >= rows || in->curSline == nullptr) return false;
  if (turning_) {
    (void)turnedRows_.row(in->linesRead, in->curSline);
  } else if (columns > 0) {
    (void)ExtractRunsTPicture(picture, in->linesRead, in->curSline, 0, columns - 1);
  } else {
    in->curSline[0] = in->curSline[1] = kSlineEnd;
  }
  ++in->linesRead;
  return true;
}

bool RunInput::endedWell() const {
  const RCB* in = rcb_.get();
  return in->status == 0 || (in->status == kRioEndOfPage && in->linesRead >= in->height);
}

}  // namespace vantrel
