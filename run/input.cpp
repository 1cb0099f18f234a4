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
  turnedSource_ = {file, format, degrees, dpi, settings, budget};
  pages_ = 0;
  rcb_.reset();
  picture_.reset();
  turning_ = false;
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
  limits.maxBytes = budget > 0 ? budget : kDefaultPictureBudget;
  limits.spareBytesPerTile = static_cast<int64_t>(sizeof(TileEntry));
  limits.page = page;
  limits.pageCount = &pages_;
  RastHeaderBlock header;
  RioStatus readStatus = 0;
  picture_.reset(ImportTPicture(file, format, nullptr, formatRead, &header, &readStatus, settings, &limits));
  // Header data the reader hands on travel with the served lines, as on the plain path.
  struct HeaderFree {
    void operator()(uint8_t* block) const { rioFree(block); }
  };
  std::unique_ptr<uint8_t, HeaderFree> headerBlock(header.data);
  // An import that ended with an error (undecipherable data, a page that ended early) is never turned.
  if (!picture_ || rastGetLastError() != kRastNoError) {
    picture_.reset();
    if (pages_ > 0 && page >= pages_) return kRunNoSuchPage;
    return readStatus != 0 && readStatus != kRioEndOfPage ? readStatus : kRioOutOfMemory;
  }

  RcbPtr rcb(rioNew<RCB>());
  if (!rcb) return kRioOutOfMemory;
  const TPicture* picture = picture_.get();
  if (quarter) {
    // A quarter turn is served row by row from the picture's tiles, turned a tile column at a time.
    const bool clockwise = (degrees % 360 + 360) % 360 == 270;
    if (!turned_.open(picture_.get(), clockwise)) return kRioOutOfMemory;
    turning_ = true;
    rcb->xDpi = dpi > 0 ? dpi : rastGetImageRowDPI(picture);
    rcb->yDpi = dpi > 0 ? dpi : rastGetImageColumnDPI(picture);
    rcb->width = turned_.width();
    rcb->height = turned_.height();
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
    const int32_t length = header.length;
    if (RioStatus r = rioAttachExtraHeader(rcb.get(), headerBlock.release(), length)) return r;
  }
  rcb_ = std::move(rcb);
  return kRioOk;
}

RioStatus RunInput::countPages(int32_t* count) {
  if (turnedSource_.file != nullptr) {
    *count = std::max(pages_, 1);
    return kRioOk;
  }
  return rioCountPages(rcb_.get(), count);
}

RioStatus RunInput::readPage(int32_t index) {
  if (turnedSource_.file != nullptr) {
    const TurnedSource& t = turnedSource_;
    std::rewind(t.file);
    RasterFormatId formatRead = 0;
    RioStatus status = openTurned(t.file, t.format, t.degrees, t.dpi, t.settings, &formatRead, t.budget, index);
    if (status == kRioOk && watch_ != nullptr) watch_->startPage(rcb_->height);
    return status;
  }
  RioStatus status = rioReadPage(rcb_.get(), index);
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
  const int32_t rows = std::min(in->height, turning_ ? turned_.height() : picture->height);
  const int32_t columns = std::min(in->width, turning_ ? turned_.width() : picture->width);
  if (in->linesRead >= rows || in->curSline == nullptr) return false;
  if (turning_) {
    (void)turned_.row(in->linesRead, in->curSline);
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
