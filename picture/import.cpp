#include "picture/import.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "formats/open.h"
#include "formats/pages.h"
#include "rio/diagnostics.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "rio/resample.h"

namespace vantrel {
namespace {

void setMappedError(RioStatus status, const char* routine) {
  if (RastError e = rastErrorFromStatus(status)) rastSetError(e, routine);
}

// The diagnostics notes of export go to the sink the front end installed.
void noteFailedAt(int32_t line) {
  rioDiagnostic("Failed in SOURCE\\tileio line %d\n", line);
}

// The reading side of an import: the stream over the caller's file and the RCB on it. The RCB goes first.
struct ImportSource {
  StreamPtr stream;
  RcbPtr rcb;
  RioStatus openStatus = 0;  // of a failed open
};

// Opens the reading side; false with the error set (under `routine`) when it cannot be had.
bool openSource(std::FILE* file, RasterFormatId format, const char* routine, ImportSource* src,
                const RioSettings* settings = nullptr) {
  src->stream.reset(streamOpen(file, "r", settings));
  if (!src->stream) {
    rastSetError(kRastOutOfMemory, routine);
    return false;
  }
  RioStatus status = 0;
  src->rcb.reset(rioOpenRasterRead(src->stream.get(), format, &status));
  if (!src->rcb) {
    src->openStatus = status;
    setMappedError(status, routine);
    src->stream.reset();
    return false;
  }
  return true;
}

// Closes the reading side and decides what the caller gets: the picture unless the reader's status (or an
// earlier failure) means out of memory. The format read is handed back always, the header block only with
// a picture (otherwise it goes with the RCB).
TPicture* finishImport(ImportSource* src, TPicturePtr picture, bool stopped, bool writeFailed,
                       RasterFormatId* outFormat, RastHeaderBlock* outHeader, const char* routine) {
  RCB* rcb = src->rcb.get();
  const RioStatus status = rcb->status;
  const bool outOfMemory =
      !picture || writeFailed || (!stopped && rastErrorFromStatus(status) == kRastOutOfMemory);
  if (outFormat) *outFormat = rcb->inFormat;
  if (outHeader && !outOfMemory) {
    outHeader->length = 0;
    outHeader->data = rioDetachExtraHeader(rcb, &outHeader->length);
  }
  src->rcb.reset();
  src->stream.reset();
  if (writeFailed || !picture) {
    rastSetError(kRastOutOfMemory, routine);
  } else if (!stopped && status != 0 && status != kRioEndOfPage) {
    setMappedError(status, routine);
  }
  if (outOfMemory) return nullptr;
  return picture.release();
}

// Whether to go on: the callback's word (always without one); a stop is error 20.
struct SlineDeleter {
  void operator()(int32_t* runs) const { free_sline(runs); }
};
using SlinePtr = std::unique_ptr<int32_t, SlineDeleter>;

bool reportProgress(RastProgressFn progress, int32_t total, int32_t done, const char* routine) {
  if (!progress || progress(total, done) != 0) return true;
  rastSetError(kRastStopped, routine);
  return false;
}

// The reader's page, line by line, into a picture within the bounds. A page the bounds refuse gives no
// picture and the refusal; a picture that could not be made, none and no refusal.
struct PageRows {
  TPicturePtr picture;
  bool stopped = false;
  bool writeFailed = false;
  RioStatus refusal = 0;
};

PageRows readPageRows(RCB* rcb, RastProgressFn progress, const ImportLimits& bounds, const char* routine) {
  PageRows page;
  const int64_t tiles = bitmapWords(rioGetWidth(rcb)) * bitmapWords(rioGetHeight(rcb));
  const int64_t spare = tiles * bounds.spareBytesPerTile;
  if (bounds.acceptPage) {
    if (RioStatus r = bounds.acceptPage(rioGetWidth(rcb), rioGetHeight(rcb), bounds.context)) {
      page.refusal = r;
      return page;
    }
  }
  const auto overBudget = [&](int64_t bytes) {
    return bounds.maxBytes > 0 && bytes + spare > bounds.maxBytes;
  };
  if (overBudget(tiles * static_cast<int64_t>(sizeof(TileEntry)))) {
    page.refusal = kRioOutOfMemory;
    return page;
  }
  page.picture.reset(AllocTPicture(rioGetHeight(rcb), rioGetWidth(rcb)));
  if (!page.picture) return page;
  page.picture->columnDpi = static_cast<float>(rioGetXDpi(rcb));
  page.picture->rowDpi = static_cast<float>(rioGetYDpi(rcb));
  for (int32_t row = 0; rioReadRasterSline(rcb) != nullptr; ++row) {
    // The budget counts what the picture holds, so a page of mixed tiles stops as out of memory.
    if (!WriteRunsTPicture(page.picture.get(), row, rcb->curSline, 1) ||
        overBudget(TPictureStorageBytes(page.picture.get()))) {
      page.writeFailed = true;
      break;
    }
    rioSwapSlines(rcb);
    if (!reportProgress(progress, rcb->height, row + 1, routine)) {
      page.stopped = true;
      break;
    }
  }
  return page;
}

}  // namespace

TPicture* ImportTPicture(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                         RasterFormatId* outFormat, RastHeaderBlock* outHeader, RioStatus* readStatus,
                         const RioSettings* settings, const ImportLimits* limits) {
  static constexpr const char* kRoutine = "ImportTPicture";
  rastClearLastError();
  ImportSource src;
  if (!openSource(file, format, kRoutine, &src, settings)) {
    if (readStatus) *readStatus = src.openStatus != 0 ? src.openStatus : kRioOutOfMemory;
    return nullptr;
  }
  RCB* rcb = src.rcb.get();
  if (readStatus) *readStatus = 0;

  const ImportLimits bounds = limits ? *limits : ImportLimits{};
  if (bounds.pageCount || bounds.page > 0) {
    int32_t pages = 1;
    RioStatus status = rioCountPages(rcb, &pages);
    if (bounds.pageCount) *bounds.pageCount = pages;
    if (status == kRioOk && bounds.page >= pages) status = kRioBadParameter;
    if (status == kRioOk && bounds.page > 0) status = rioReadPage(rcb, bounds.page);
    if (status != kRioOk) {
      if (readStatus) *readStatus = status;
      if (outFormat) *outFormat = rcb->inFormat;
      rastSetError(kRastOutOfMemory, kRoutine);
      return nullptr;
    }
  }
  PageRows page = readPageRows(rcb, progress, bounds, kRoutine);
  if (page.refusal != 0) {
    if (readStatus) *readStatus = page.refusal;
    if (outFormat) *outFormat = rcb->inFormat;
    rastSetError(rastErrorFromStatus(page.refusal), kRoutine);
    return nullptr;  // src closes the RCB and the stream
  }
  if (readStatus) *readStatus = !page.picture || page.writeFailed ? kRioOutOfMemory : rcb->status;
  const bool stopped = page.stopped || !page.picture;
  return finishImport(&src, std::move(page.picture), stopped, page.writeFailed, outFormat, outHeader, kRoutine);
}

TPicture* ImportPageTPicture(RCB* rcb, RioStatus* readStatus, const ImportLimits* limits) {
  static constexpr const char* kRoutine = "ImportPageTPicture";
  rastClearLastError();
  PageRows page = readPageRows(rcb, nullptr, limits ? *limits : ImportLimits{}, kRoutine);
  const RioStatus status = page.refusal != 0                          ? page.refusal
                           : !page.picture || page.writeFailed ? kRioOutOfMemory
                                                                : rcb->status;
  if (readStatus) *readStatus = status;
  if (status != 0 && status != kRioEndOfPage) setMappedError(status, kRoutine);
  if (page.refusal != 0 || rastErrorFromStatus(status) == kRastOutOfMemory) return nullptr;
  return page.picture.release();
}

TPicture* ImportScaleTPicture(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                              RasterFormatId* outFormat, RastHeaderBlock* outHeader, int rotate,
                              double targetRowDpi, double targetColumnDpi) {
  static constexpr const char* kRoutine = "ImportScaleTPicture";
  rastClearLastError();
  ImportSource src;
  if (!openSource(file, format, kRoutine, &src)) return nullptr;
  RCB* rcb = src.rcb.get();
  if (rotate != 0) {
    rastSetError(kRastNotSupported, kRoutine);
    return nullptr;  // src closes the RCB and the stream
  }

  const int32_t width = rioGetWidth(rcb);
  const int32_t height = rioGetHeight(rcb);
  const double xDpi = rioGetXDpi(rcb);
  const double yDpi = rioGetYDpi(rcb);
  int32_t newWidth = width;
  int32_t newHeight = height;
  double h = 1, v = 1;
  if (xDpi != 0 && yDpi != 0) {
    h = targetColumnDpi / xDpi;
    v = targetRowDpi / yDpi;
    // An empty side stays empty; any other must give at least one pixel.
    if ((width != 0 && !scaledSide(width, h, SizeRule::kCeiling, kMaxPictureSide, &newWidth)) ||
        (height != 0 && !scaledSide(height, v, SizeRule::kCeiling, kMaxPictureSide, &newHeight))) {
      rastSetError(kRastBadSize, kRoutine);
      return nullptr;
    }
  }

  TPicturePtr picture(AllocTPicture(newHeight, newWidth));
  if (!picture) return finishImport(&src, nullptr, true, false, outFormat, outHeader, kRoutine);
  picture->columnDpi = static_cast<float>(targetColumnDpi);
  picture->rowDpi = static_cast<float>(targetRowDpi);

  // Both factors are bounded by the sizes just checked, so their fixed-point forms fit in 64 bits.
  LineResampler resampler;
  if (resampler.init(width, height, newWidth, newHeight, h, v) != kRioOk)
    return finishImport(&src, nullptr, true, false, outFormat, outHeader, kRoutine);

  bool stopped = false;
  bool writeFailed = false;
  int32_t row = 0;
  for (int32_t done = 1; rioReadRasterSline(rcb) != nullptr; ++done) {
    const int32_t* line = resampler.scaleRow(rcb->curSline);
    bool ok = true;
    if (resampler.shrinking()) {
      // Merged lines collect in one row (black wins) until the row is complete.
      ok = WriteRunsTPicture(picture.get(), row, line, 1);
      row += resampler.rowsAfterLine(newHeight - row);
    } else {
      for (int32_t n = resampler.rowsAfterLine(newHeight - row); ok && n > 0; --n)
        ok = WriteRunsTPicture(picture.get(), row++, line, 1);
    }
    if (!ok) {
      writeFailed = true;
      break;
    }
    rioSwapSlines(rcb);
    if (!reportProgress(progress, height, done, kRoutine)) {
      stopped = true;
      break;
    }
  }
  return finishImport(&src, std::move(picture), stopped, writeFailed, outFormat, outHeader, kRoutine);
}

TPicture* rastImportImage(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                          RasterFormatId* outFormat, RastHeaderBlock* outHeader) {
  rastClearLastError();
  if (!file) {
    rastSetError(kRastNoStream, "rastImportImage");
    return nullptr;
  }
  return ImportTPicture(file, format, progress, outFormat, outHeader);
}

TPicture* rastImportImage(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                          RasterFormatId* outFormat, RastHeaderBlock* outHeader, double targetRowDpi,
                          double targetColumnDpi) {
  rastClearLastError();
  if (!file) {
    rastSetError(kRastNoStream, "rastImportImage");
    return nullptr;
  }
  return ImportScaleTPicture(file, format, progress, outFormat, outHeader, 0, targetRowDpi, targetColumnDpi);
}

int ExportTPictureWindow(std::FILE* file, const TPicture* picture, RasterFormatId format,
                         const RastHeaderBlock* header, RastProgressFn progress, int32_t firstRow,
                         int32_t firstColumn, int32_t lastRow, int32_t lastColumn, int keepOrigin) {
  static constexpr const char* kRoutine = "ExportTPictureWindow";
  if (!file) {
    rastSetError(kRastNoStream, kRoutine);
    return 0;
  }
  if (!picture) {
    rastSetError(kRastNoPicture, kRoutine);
    return 0;
  }
  if (firstRow < 0 || firstColumn < 0 || firstRow > lastRow || firstColumn > lastColumn ||
      lastRow >= picture->height || lastColumn >= picture->width) {
    rastSetError(kRastOutOfRange, kRoutine);
    return 0;
  }

  StreamPtr stream(streamOpen(file, "w"));
  if (!stream) {
    noteFailedAt(587);
    rastSetError(kRastOutOfMemory, kRoutine);
    return 0;
  }
  // Sizes fit: the window lies inside the picture, whose sides are int32.
  const int32_t windowWidth = lastColumn - firstColumn + 1;
  const int32_t pageWidth = keepOrigin ? lastColumn + 1 : windowWidth;
  const int32_t pageHeight = keepOrigin ? lastRow + 1 : lastRow - firstRow + 1;
  RioStatus status = 0;
  RcbPtr rcb(rioOpenRasterWrite(stream.get(), pageWidth, pageHeight, format, &status));
  if (!rcb) {
    noteFailedAt(602);
    setMappedError(status, kRoutine);
    return 0;
  }
  (void)rioSetXDpi(rcb.get(), picture->columnDpi);
  (void)rioSetYDpi(rcb.get(), picture->rowDpi);
  if (header && header->data && header->length > 0) {
    if (RioStatus r = rioSetExtraHeader(rcb.get(), header->data, header->length)) {
      noteFailedAt(602);
      setMappedError(r, kRoutine);
      return 0;
    }
  }

  // The row is taken into a list of the window's width, then copied within the writer's own line width
  // (a writer may lower it, and its line buffers with it).
  SlinePtr runs(alloc_sline(windowWidth));
  if (!runs) {
    noteFailedAt(602);
    rastSetError(kRastOutOfMemory, kRoutine);
    return 0;
  }
  const int32_t writerWidth = rioGetWidth(rcb.get());

  auto writeFailed = [&](int32_t line, RioStatus r) {
    noteFailedAt(line);
    rioDiagnostic("rioWriteRasterSline status = %d expected %d\n", r, 0);
    const RioStatus rcbStatus = rcb->status != 0 ? rcb->status : r;
    rcb.reset();
    stream.reset();
    rastSetError(rastErrorFromStatus(rcbStatus) != 0 ? rastErrorFromStatus(rcbStatus) : kRastRasterStatus,
                 kRoutine);
    return 0;
  };

  if (keepOrigin) {
    for (int32_t i = 0; i < firstRow; ++i) {
      rcb->curSline[0] = rcb->curSline[1] = kSlineEnd;
      if (RioStatus r = rioWriteRasterSline(rcb.get())) return writeFailed(628, r);
      rioSwapSlines(rcb.get());
    }
  }
  const int32_t total = lastRow - firstRow + 1;
  for (int32_t row = firstRow; row <= lastRow; ++row) {
    (void)ExtractRunsTPicture(picture, row, runs.get(), firstColumn, lastColumn);
    if (!keepOrigin && firstColumn > 0) rioShiftSline(runs.get(), -firstColumn);
    rioCopySlineClipped(runs.get(), rcb->curSline, writerWidth);
    if (RioStatus r = rioWriteRasterSline(rcb.get())) return writeFailed(651, r);
    rioSwapSlines(rcb.get());
    if (progress && progress(total, row - firstRow + 1) == 0) {
      // The page is incomplete: the writer is told so that it does not pad it out.
      (void)rioSetError(rcb.get(), kRioUnexpectedEof);
      rcb.reset();
      stream.reset();
      noteFailedAt(670);
      rastSetError(kRastStopped, kRoutine);
      return 0;
    }
  }

  // The writer's status and its close result count: a page whose trailer failed is not a success.
  const RioStatus rcbStatus = rcb->status;
  const RioStatus closeStatus = rioCloseRaster(rcb.release());
  const RioStatus failure = rcbStatus != 0 ? rcbStatus : closeStatus;
  // The bytes are in the caller's handle only once it has flushed them.
  const bool complete = streamClose(stream.release()) == 1 && std::fflush(file) == 0;
  if (failure != 0) {
    noteFailedAt(674);
    RastError e = rastErrorFromStatus(failure);
    rastSetError(e != 0 ? e : kRastRasterStatus, kRoutine);
    return 0;
  }
  if (!complete) {
    rioDiagnostic("Failed in tileio line %d\n", 674);
    rastSetError(kRastOutputIncomplete, kRoutine);
    return 0;
  }
  return 1;
}

int rastExportImage(std::FILE* file, const TPicture* picture, RasterFormatId format,
                    const RastHeaderBlock* header, RastProgressFn progress) {
  if (!picture) {
    rastSetError(kRastNoPicture, "rastExportImage");
    return 0;
  }
  if (!file) {
    rastSetError(kRastNoStream, "rastExportImage");
    return 0;
  }
  return ExportTPictureWindow(file, picture, format, header, progress, 0, 0, picture->height - 1,
                              picture->width - 1, 1);
}

int rastExportImageWindow(std::FILE* file, const TPicture* picture, RasterFormatId format,
                          const RastHeaderBlock* header, RastProgressFn progress, const double window[4],
                          int keepOrigin) {
  static constexpr const char* kRoutine = "rastExportImageWindow";
  if (!picture) {
    rastSetError(kRastNoPicture, kRoutine);
    return 0;
  }
  if (!file) {
    rastSetError(kRastNoStream, kRoutine);
    return 0;
  }
  const double left = window[0], top = window[1], right = window[2], bottom = window[3];
  // Written so that a NaN fails every test.
  const bool inside = left >= 0 && top >= 0 && right <= picture->width - 1.0 && bottom <= picture->height - 1.0;
  if (!inside || !(left <= right) || !(top <= bottom)) {
    rastSetError(kRastOutOfRange, kRoutine);
    return 0;
  }
  return ExportTPictureWindow(file, picture, format, header, progress, static_cast<int32_t>(top),
                              static_cast<int32_t>(left), static_cast<int32_t>(bottom),
                              static_cast<int32_t>(right), keepOrigin);
}

}  // namespace vantrel
