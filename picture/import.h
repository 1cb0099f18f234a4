// Picture import and export (the tileio module): a whole page moves between a raster file and a TPicture.
// Import reads every line of an input through a reading RCB into a new picture, optionally scaled to new
// resolutions on the way; export writes a rectangular window of a picture, row by row, through a writing
// RCB in any output format.
//
// The caller opens the file and passes the handle; these routines wrap it in a RasterStream, close the
// stream before they return and leave the handle open. Failures are told through the toolkit's last error
// (rastGetLastError); import clears it on entry. Export appends a note on each failure to "debug.out" in
// the working directory (best effort: a note that cannot be written is skipped).
#pragma once

#include <cstdint>
#include <cstdio>

#include "picture/tpicture.h"
#include "rio/rcb.h"
#include "rio/settings.h"

namespace vantrel {

// Called with the rows of the whole operation and the rows done so far; 0 stops it (error 20).
using RastProgressFn = int (*)(int32_t total, int32_t done);

// Header data a reader hands on to a writer (a CALS input's identification records, for one). An import
// that returns a picture gives the caller the reader's block (data nullptr when there is none), allocated
// with rioMalloc and then owned by the caller (rioFree); export hands a copy of the given block to its
// writer.
struct RastHeaderBlock {
  uint8_t* data = nullptr;
  int32_t length = 0;
};

// What an import checks once the header is read, before the picture is made: the page itself, through the
// caller's `acceptPage` (its status, when not 0, refuses the page), and the bytes its picture may hold
// (directory and tile pool, plus `spareBytesPerTile` for every tile of the directory: the room a later
// whole-page transform needs, such as a transpose's second directory). A budget that the directory alone
// or, while the lines are read, the tiles would pass is -3, error 1. maxBytes 0: no budget.
struct ImportLimits {
  RioStatus (*acceptPage)(int32_t width, int32_t height, const void* context) = nullptr;
  const void* context = nullptr;
  int64_t maxBytes = 0;
  int64_t spareBytesPerTile = 0;
  // The page of the document imported (from 0); the document's page count goes to *pageCount when given. A
  // page past the last is refused as an internal error 1 (-4).
  int32_t page = 0;
  int32_t* pageCount = nullptr;
};

// The whole page as a picture of the input's size and resolutions. format 0 recognises the input.
// *outFormat (when given) receives the format read, *outHeader (when given) the reader's header block.
// On a read error the picture read so far is returned with the error set; out of memory (1) returns none.
// *readStatus (when given) receives the reader's own status (0 or -1 when the page was read whole), for
// callers that report it in the raster library's words.
[[nodiscard]] TPicture* ImportTPicture(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                                       RasterFormatId* outFormat, RastHeaderBlock* outHeader,
                                       RioStatus* readStatus = nullptr, const RioSettings* settings = nullptr,
                                       const ImportLimits* limits = nullptr);

// As ImportTPicture, from a reader the caller opened and put on its page (rioReadPage): the page's lines
// are read into the picture and the reader stays the caller's, for its next page. The bounds' page and
// pageCount are not used.
[[nodiscard]] TPicture* ImportPageTPicture(RCB* rcb, RioStatus* readStatus, const ImportLimits* limits);

// As ImportTPicture, scaled to targetRowDpi rows and targetColumnDpi columns per inch: lines are merged
// (black wins) or repeated with a fixed-point accumulator, runs scaled as run lists. An input that knows
// neither resolution is copied at its own size; the picture carries the targets either way. A rotation is
// not supported (error 10). A scaled size beyond what a picture holds, or below one pixel, is error 9.
[[nodiscard]] TPicture* ImportScaleTPicture(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                                            RasterFormatId* outFormat, RastHeaderBlock* outHeader, int rotate,
                                            double targetRowDpi, double targetColumnDpi);

// Toolkit entry points: error 6 without a file.
[[nodiscard]] TPicture* rastImportImage(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                                        RasterFormatId* outFormat, RastHeaderBlock* outHeader);
[[nodiscard]] TPicture* rastImportImage(std::FILE* file, RasterFormatId format, RastProgressFn progress,
                                        RasterFormatId* outFormat, RastHeaderBlock* outHeader,
                                        double targetRowDpi, double targetColumnDpi);

// Writes rows firstRow..lastRow, columns firstColumn..lastColumn (inclusive) of the picture. With
// keepOrigin the page keeps the window where it is (width lastColumn + 1, height lastRow + 1, empty lines
// above it); without, the window alone is the page. 1 on success, 0 on failure with the last error set:
// 6 no file, 7 no picture, 8 a window outside the picture or inverted, 20 stopped, 15 output incomplete,
// or the writer's status mapped.
[[nodiscard]] int ExportTPictureWindow(std::FILE* file, const TPicture* picture, RasterFormatId format,
                                       const RastHeaderBlock* header, RastProgressFn progress, int32_t firstRow,
                                       int32_t firstColumn, int32_t lastRow, int32_t lastColumn, int keepOrigin);

// The whole picture, keeping its origin.
[[nodiscard]] int rastExportImage(std::FILE* file, const TPicture* picture, RasterFormatId format,
                                  const RastHeaderBlock* header, RastProgressFn progress);

// A window {left, top, right, bottom} in pixels, each truncated; it must lie inside the picture with
// left <= right and top <= bottom, else error 8.
[[nodiscard]] int rastExportImageWindow(std::FILE* file, const TPicture* picture, RasterFormatId format,
                                        const RastHeaderBlock* header, RastProgressFn progress,
                                        const double window[4], int keepOrigin);

}  // namespace vantrel
