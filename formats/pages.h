// Documents of several pages. A reader whose files may hold several pages (TIFF's directory chain) and a
// writer whose output may (multi-page TIFF, PDF, PostScript) implement PageOps; every other format is a document of
// one page. Pages stream one after the other: a reader moves to a page and reads its header, a writer ends
// the page it has written and takes the next one's size, so nothing grows with the page count.
#pragma once

#include <cstdint>

#include "rio/format_id.h"
#include "rio/rcb.h"

namespace vantrel {

struct PageOps {
  // Reading: the pages of the document, counted on the first call. A chain that loops or leaves the file
  // ends the count at the fault; the pages before it stay readable.
  RioStatus (*countPages)(RCB* rcb, int32_t* count);
  // Reading: moves to page `index` (from 0) and reads its header: width, height, resolutions, header block.
  RioStatus (*readPage)(RCB* rcb, int32_t index);
  // Writing: ends the page written so far; the document stays open for the next page.
  RioStatus (*endPage)(RCB* rcb);
};

extern const PageOps kTiffPages;  // reads and writes
extern const PageOps kPdfPages;   // writes
extern const PageOps kPostScriptPages;  // writes

// The page operations of a driver; nullptr for a one-page format.
const PageOps* rioPageOps(const FormatDriver* driver);
// Whether an output of this format may hold several pages.
bool rioWritesPages(RasterFormatId format);

// The pages of the input document: 1 for a one-page reader.
[[nodiscard]] RioStatus rioCountPages(RCB* in, int32_t* count);
// The reader moves to page `index` and reads its header; the line count starts again and the line
// buffers fit the page. In an RCB that also writes, the writer's page must have been ended first.
[[nodiscard]] RioStatus rioReadPage(RCB* in, int32_t index);
// The writer ends its page; its next line begins the next page (of the size the RCB then holds).
[[nodiscard]] RioStatus rioEndWrittenPage(RCB* out);
// A writing RCB of its own takes the next page's size (after rioEndWrittenPage).
[[nodiscard]] RioStatus rioSizeWrittenPage(RCB* out, int32_t width, int32_t height);

}  // namespace vantrel
