// The raster control block: one image being read, written, or both, in one format, one line at a time.
// An RCB joins a RasterStream to a FormatDriver, counts lines against the height, keeps the first error
// and the first warning, and carries header fields from a reader to a writer.
#pragma once

#include <cstdint>
#include <memory>

#include "rio/alloc.h"
#include "rio/carried_code.h"
#include "rio/format_id.h"
#include "rio/settings.h"
#include "rio/sline.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

struct RCB;
using DriverOp = RioStatus (*)(RCB*);

// The eleven operations of one format, in slot order.
struct FormatDriver {
  DriverOp open;
  DriverOp readHeader;
  DriverOp writeHeader;
  DriverOp allocSlines;
  DriverOp readSline;
  DriverOp writeSline;
  DriverOp spare1;
  DriverOp spare2;
  DriverOp spare3;
  DriverOp finishWrite;
  DriverOp close;
};

// A private state block: the data and how to release it. The core releases what is still held when the
// RCB goes away, so a failed open leaks nothing.
struct StateBlock {
  void* data = nullptr;
  void (*release)(void*) = nullptr;
};

enum class CalsText : int { kSrcdocid, kDstdocid, kTxtfilid, kFigid, kSrcgph, kDoccls, kNotes, kCount };
// Each text's width is what a 128-byte CALS record leaves after its keyword.
inline constexpr int kCalsTextWidth[] = {118, 118, 118, 121, 120, 120, 121};

// Widest line the core makes buffers for; wider headers are refused as too many columns.
inline constexpr int32_t kMaxLineWidth = 1 << 24;
// The page budget: a page of more pixels (far above a 36-inch roll 100 feet long at 400 dpi) is refused as
// too many rows, on reading when the header is read and on writing when the RCB is opened, so a hostile
// header never makes a reader or a writer run away.
inline constexpr int64_t kMaxPagePixels = int64_t{1} << 33;

// Whether width x height lies within the page budget (both sides taken as given, negatives excluded).
constexpr bool rioPageWithinBudget(int64_t width, int64_t height) {
  return width >= 0 && height >= 0 && (width == 0 || height <= kMaxPagePixels / width);
}

// Rows and columns a page may have: 2^20 (66 m at 400 dpi), unless the settings raise it ("ZEB_MAXPAGE",
// decimal, hexadecimal after 0x, octal after a leading 0; at most INT32_MAX). A value at or below the default
// or no number leaves the default. Columns stay within kMaxLineWidth whatever the setting.
inline constexpr int64_t kDefaultMaxPageSide = int64_t{1} << 20;
[[nodiscard]] int64_t rioMaxPageSide(const RioSettings* settings);
// Both budgets for a page of width x height: 0, -14 (too many columns) or -15 (too many rows).
[[nodiscard]] RioStatus rioCheckPageBudget(int64_t width, int64_t height, const RioSettings* settings);

// The output budget of a writer whose rows are padded to a device line, so that its output grows with the
// rows whatever the page holds: a page whose output would pass 2^34 bytes is refused as too many rows.
inline constexpr int64_t kMaxOutputBytes = int64_t{1} << 34;
constexpr bool rioOutputWithinBudget(int64_t rows, int64_t bytesPerRow, int64_t fixedBytes) {
  return rows >= 0 && bytesPerRow > 0 && fixedBytes >= 0 && fixedBytes <= kMaxOutputBytes &&
         rows <= (kMaxOutputBytes - fixedBytes) / bytesPerRow;
}

struct RCB {
  RioStatus status = 0;   // the first error
  RioStatus warning = 0;  // the first non-fatal problem
  bool writing = false;
  bool reading = false;
  RasterFormatId inFormat = 0;
  RasterFormatId outFormat = 0;
  // The drivers of the two sides, stored by the opening (the registry's look-up); never owned.
  const FormatDriver* inDriver = nullptr;
  const FormatDriver* outDriver = nullptr;
  RasterStream* inStream = nullptr;   // owned by the caller
  RasterStream* outStream = nullptr;  // owned by the caller
  // The settings of the output stream when the RCB writes and it has some, else the input stream's
  // (nullptr: all unset). A read-write RCB's input settings stay reachable through inStream.
  const RioSettings* settings = nullptr;
  int32_t width = INT32_MAX;
  int32_t height = INT32_MAX;
  int32_t linesRead = 0;
  int32_t linesWritten = 0;
  int32_t slineCount = 0;
  int64_t slineBytes = 0;
  Sline curSline = nullptr;  // the current line: filled by the reader, encoded by the writer
  Sline refSline = nullptr;  // the previous line, when slineCount is 2
  bool headerWritten = false;
  uint8_t* probeBytes = nullptr;  // the first 5 input bytes, taken by recognition
  int32_t probeCount = 0;
  int32_t probeUsed = 0;  // probe bytes already handed to the reader
  // One private state per side, released once by the core when the RCB goes away. A driver that reads and
  // writes in one RCB keeps its reading state in readerState and its writing state in writerState.
  StateBlock readerState;
  StateBlock writerState;
  char makerTag[4] = {'Z', 'E', 'B', ' '};
  double xDpi = 0;
  double yDpi = 0;
  int32_t attribute = 126;
  int32_t xExtent = 0;
  int32_t yExtent = 0;
  int32_t rorient[2] = {0, 0};
  uint8_t* extraHeader = nullptr;  // owned by the RCB
  int32_t extraHeaderLength = 0;
  char calsText[static_cast<int>(CalsText::kCount)][122] = {};
  // Reading: the page's code as the reader found it, when it may be carried over unchanged. Writing:
  // what the run offered the writer (rio/carried_code.h).
  CarriedCode carried;
  // The document's pages (formats/pages.h), from 0: the page being read, the page being written, and the
  // pages the written document will hold (0: one page, or not stated).
  int32_t pageRead = 0;
  int32_t pageWritten = 0;
  int32_t pagesToWrite = 0;
};

// Opening is the registry's (formats/open.h): it finds the drivers and stores them in the RCB.
// Releases an RCB and everything it holds without calling a driver (a failed open).
void rioReleaseRcb(RCB* rcb);

// The next line (curSline), or nullptr when there is none: status then says why (-1 end of page).
[[nodiscard]] Sline rioReadRasterSline(RCB* rcb);
[[nodiscard]] RioStatus rioWriteRasterSline(RCB* rcb);
void rioSwapSlines(RCB* rcb);
// Lets the writer finish, closes the drivers and frees the RCB. The result is the drivers' close result.
RioStatus rioCloseRaster(RCB* rcb);

struct RcbCloser {
  void operator()(RCB* rcb) const { (void)rioCloseRaster(rcb); }
};
using RcbPtr = std::unique_ptr<RCB, RcbCloser>;

// Line buffers, called by the drivers' allocSlines.
[[nodiscard]] RioStatus rioAllocSline(RCB* rcb);
[[nodiscard]] RioStatus rioAllocSlinePair(RCB* rcb);
void rioFreeSlines(RCB* rcb);

// Error bookkeeping for drivers: the first error and the first warning win. A stream result a driver passes
// on (a positive code) is recorded and answered as -8.
inline RioStatus rioSetError(RCB* rcb, RioStatus code) {
  code = rioFromStreamResult(code);
  if (rcb->status == 0) rcb->status = code;
  return code;
}
inline void rioSetWarning(RCB* rcb, RioStatus code) {
  if (rcb->warning == 0) rcb->warning = code;
}

// A reader's or a writer's words on its file, noted on the stream of that side (rio/status.h).
inline void rioInputDetail(const RCB* rcb, std::string text) {
  if (rcb && rcb->inStream) rioNoteDetail(rcb->inStream->detail, std::move(text));
}
inline void rioOutputDetail(const RCB* rcb, std::string text) {
  if (rcb && rcb->outStream) rioNoteDetail(rcb->outStream->detail, std::move(text));
}

// The orientation a reader stated (CALS rorient, or a TIFF's Orientation as its CALS pair) handed to a
// writer; a reader that stated none leaves the writer's as it is.
inline void rioCarryOrientation(RCB* to, const RCB* from) {
  if (from->rorient[1] == 0) return;
  to->rorient[0] = from->rorient[0];
  to->rorient[1] = from->rorient[1];
}

// Driver operations shared by the formats: a slot a format does not implement (answering -16, or also
// recording it as the RCB's error), and one with nothing to do.
RioStatus rioDriverNotImplemented(RCB* rcb);
RioStatus rioDriverRefuses(RCB* rcb);
RioStatus rioDriverNothing(RCB* rcb);

// The settings drivers read: the RCB's, or a set with everything unset.
const RioSettings& rioSettings(const RCB* rcb);

// Reads header bytes for a reader: first what recognition took (probeBytes), then the stream. Returns the
// bytes delivered; the probe block is released once it is used up.
[[nodiscard]] int32_t rioReadInput(RCB* rcb, void* dest, int32_t n);

// State blocks in accounted memory. rioNewState constructs a T in `block` unless one is there already.
template <class T>
T* rioNewState(StateBlock& block);
void rioReleaseState(StateBlock& block);
template <class T>
T* rioState(const StateBlock& block) {
  return static_cast<T*>(block.data);
}

// Accessors. A null RCB: setters answer -9, getters 0 (or none).
int32_t rioGetWidth(const RCB* rcb);
RioStatus rioSetWidth(RCB* rcb, int32_t width);
int32_t rioGetHeight(const RCB* rcb);
RasterFormatId rioGetInFormat(const RCB* rcb);
double rioGetXDpi(const RCB* rcb);
RioStatus rioSetXDpi(RCB* rcb, double dpi);
double rioGetYDpi(const RCB* rcb);
RioStatus rioSetYDpi(RCB* rcb, double dpi);
RioStatus rioGetStatus(const RCB* rcb);
RioStatus rioGetWarning(const RCB* rcb);
Sline rioGetCurSline(const RCB* rcb);
const uint8_t* rioGetExtraHeader(const RCB* rcb);
int32_t rioGetExtraHeaderLength(const RCB* rcb);
// Takes ownership of a block allocated with rioMalloc, releasing the previous one.
RioStatus rioAttachExtraHeader(RCB* rcb, uint8_t* block, int32_t length);
// Hands the block to the caller (who then frees it with rioFree); the RCB is left without one.
uint8_t* rioDetachExtraHeader(RCB* rcb, int32_t* length);
// Stores a copy, replacing and releasing the previous one; -3 when memory runs out.
RioStatus rioSetExtraHeader(RCB* rcb, const uint8_t* data, int32_t length);
void rioGetMakerTag(const RCB* rcb, char out[5]);  // four spaces for a null RCB
int32_t rioGetAttribute(const RCB* rcb);
int32_t rioGetXExtent(const RCB* rcb);
int32_t rioGetYExtent(const RCB* rcb);
int32_t rioGetRorient(const RCB* rcb, int index);
RioStatus rioSetCalsText(RCB* rcb, CalsText which, const char* text);
const char* rioGetCalsText(const RCB* rcb, CalsText which);  // "NONE" when empty

template <class T>
T* rioNewState(StateBlock& block) {
  if (block.data) return static_cast<T*>(block.data);
  T* p = rioNew<T>();
  if (!p) return nullptr;
  block.data = p;
  block.release = [](void* q) { rioDelete(static_cast<T*>(q)); };
  return p;
}

}  // namespace vantrel
