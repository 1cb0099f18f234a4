// Versatec block format writer (id 16). The stream is a sequence of records: a 16-bit opcode, a 16-bit
// body length, then the body, every 16-bit value big-endian. Each raster line is one data block of exactly
// L bytes, L being the line length of the plotter model the settings name ("ZEB_VBF").
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "formats/common/raster_row.h"
#include "formats/registry.h"

namespace vantrel {
namespace {

constexpr uint16_t kStartOfPlot = 0x1801;
constexpr uint16_t kDataBlock = 0x1802;
constexpr uint16_t kEndOfFile = 0x1803;
constexpr uint16_t kSetupWord = 0x8200;
constexpr uint16_t kEndOfPlotWord = 0xFFFF;
constexpr int kRecordHead = 6;  // opcode, body length, line length in front of every raster line
constexpr double kDefaultDpi = 200;
constexpr int kHeaderBytes = 18;
constexpr int kTrailerBytes = 10;

struct VersatecModel {
  const char* name;
  uint16_t lineBytes;
};

// Bytes per raster line of each plotter model; a model name is compared exactly, case included.
constexpr uint16_t kUnsetModelLineBytes = 1760;
constexpr VersatecModel kModels[] = {
    {"V8510", 1320},    {"V8624", 576},     {"V8624HR", 1152},  {"V8625", 588},    {"V8625HR", 1176},
    {"V8636", 880},     {"V8636HR", 1760},  {"V8810A", 264},    {"V8810AHR", 512}, {"V8810B", 264},
    {"V8810BHR", 512},  {"V8836", 880},     {"V8836HR", 1760},  {"V8910C", 1284},  {"V8910", 1320},
    {"V8924C", 564},    {"V8924", 588},     {"V8924HRC", 1128}, {"V8924HR", 1176}, {"V8925C", 576},
    {"V8925", 588},     {"V8925HRC", 1152}, {"V8925HR", 1176},  {"V8936C", 856},   {"V8936", 880},
    {"V8936HRC", 1712}, {"V8936HR", 1760},  {"V8944C", 1052},   {"V8944", 1076},   {"V8944HRC", 2104},
    {"V8944HR", 2152},  {"V8770", 1760},    {"V8770E", 1760},
};

struct VersatecState {
  uint16_t lineBytes = 0;
  uint8_t* record = nullptr;  // the raster-line record: its 6-byte head, then the row of lineBytes bytes
  ~VersatecState() { rioFree(record); }
};

void putBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

// Line length of the model the settings name; 0 for a name that is no model. Unset means the default model.
uint16_t modelLineBytes(const char* model) {
  if (!model || !*model) return kUnsetModelLineBytes;
  for (const VersatecModel& m : kModels)
    if (std::strcmp(m.name, model) == 0) return m.lineBytes;
  return 0;
}

// A usable resolution, or 0 for unknown (0, negative, not finite).
double knownDpi(double dpi) {
  return std::isfinite(dpi) && dpi > 0 ? dpi : 0;
}

// The header's resolution: the mean of both axes, an unknown axis taking the other's value (200 when both
// are unknown), truncated and held to the 16-bit field.
uint16_t headerDpi(double xDpi, double yDpi) {
  double x = knownDpi(xDpi);
  double y = knownDpi(yDpi);
  if (x == 0 && y == 0) x = y = kDefaultDpi;
  if (x == 0) x = y;
  if (y == 0) y = x;
  const double mean = std::trunc((x + y) / 2);
  return static_cast<uint16_t>(std::min(mean, 65535.0));
}

VersatecState* stateOf(RCB* rcb) {
  return rioState<VersatecState>(rcb->writerState);
}

RioStatus versatecOpen(RCB* rcb) {
  if (!rcb->writing || rcb->outFormat != kFormatVersatec) return rioSetError(rcb, kRioNotImplemented);
  const uint16_t lineBytes = modelLineBytes(rioSettings(rcb).versatecModel.c_str());
  if (lineBytes == 0) {
    std::string models;
    for (const VersatecModel& m : kModels) models += std::string(models.empty() ? "" : ", ") + m.name;
    rioOutputDetail(rcb, "ZEB_VBF is \"" + rioSettings(rcb).versatecModel + "\": it may be unset or one of " +
                             models);
    return rioSetError(rcb, kRioNotImplemented);
  }
  // Every row is a whole plotter line whatever it holds, so the output budget bounds the rows.
  if (!rioOutputWithinBudget(rcb->height, kRecordHead + lineBytes, kHeaderBytes + kTrailerBytes))
    return rioSetError(rcb, kRioBadRows);
  auto* st = rioNewState<VersatecState>(rcb->writerState);
  if (!st) return rioSetError(rcb, kRioOutOfMemory);
  if (!st->record) {
    st->record = static_cast<uint8_t*>(rioMalloc(size_t{kRecordHead} + lineBytes));
    if (!st->record) return rioSetError(rcb, kRioOutOfMemory);
  }
  st->lineBytes = lineBytes;
  // The plotter prints L bytes a row, as it would cut a wider page: the stream keeps to that, and the
  // run is told what is left out.
  if (rcb->width > int32_t{lineBytes} * 8)
    rioOutputDetail(rcb, "the page is " + std::to_string(rcb->width) + " pixels wide and the plotter's line " +
                             std::to_string(int32_t{lineBytes} * 8) +
                             ": each row is cut at the line (ZEB_VBF names the plotter model)");
  putBe16(st->record, kDataBlock);
  putBe16(st->record + 2, static_cast<uint16_t>(lineBytes + 2));
  putBe16(st->record + 4, lineBytes);
  return kRioOk;
}

// Writers leave short writes to the stream, whose close reports them.
RioStatus versatecWriteHeader(RCB* rcb) {
  VersatecState* st = stateOf(rcb);
  if (!st) return rioSetError(rcb, kRioInternal);
  uint8_t h[kHeaderBytes];
  putBe16(h, kStartOfPlot);
  putBe16(h + 2, 0);
  putBe16(h + 4, kDataBlock);
  putBe16(h + 6, 0);
  putBe16(h + 8, kDataBlock);
  putBe16(h + 10, 6);
  putBe16(h + 12, kSetupWord);
  putBe16(h + 14, headerDpi(rcb->xDpi, rcb->yDpi));
  putBe16(h + 16, st->lineBytes);
  (void)streamWrite(rcb->outStream, h, sizeof h);
  return kRioOk;
}

RioStatus versatecAllocSlines(RCB* rcb) {
  return rioAllocSline(rcb);
}

// The row holds exactly L bytes: an image wider than 8 L pixels is cut at the right, a narrower one padded
// with white.
RioStatus versatecWriteSline(RCB* rcb) {
  VersatecState* st = stateOf(rcb);
  const int32_t* runs = rcb->curSline;
  if (!st || !runs) return rioSetError(rcb, kRioInternal);
  uint8_t* row = st->record + kRecordHead;
  const int32_t limit = std::min<int32_t>(rcb->width, int32_t{st->lineBytes} * 8);
  rowFromRuns<RunListEnd::kAtStart>(row, st->lineBytes, runs, rcb->slineBytes / 8 - 1, limit);
  (void)streamWrite(rcb->outStream, st->record, kRecordHead + st->lineBytes);
  return kRioOk;
}

// The end-of-plot block and the end of file. A page that received no line still gets its header first.
RioStatus versatecFinishWrite(RCB* rcb) {
  if (!stateOf(rcb)) return rioSetError(rcb, kRioInternal);
  if (!rcb->headerWritten) {
    rcb->headerWritten = true;
    if (RioStatus r = versatecWriteHeader(rcb)) return r;
  }
  uint8_t t[kTrailerBytes];
  putBe16(t, kDataBlock);
  putBe16(t + 2, 2);
  putBe16(t + 4, kEndOfPlotWord);
  putBe16(t + 6, kEndOfFile);
  putBe16(t + 8, 0);
  (void)streamWrite(rcb->outStream, t, sizeof t);
  return kRioOk;
}

RioStatus versatecClose(RCB* rcb) {
  rioReleaseState(rcb->writerState);
  return kRioOk;
}

}  // namespace

extern const FormatDriver kVersatecDriver = {
    versatecOpen, rioDriverRefuses, versatecWriteHeader, versatecAllocSlines, rioDriverRefuses,
    versatecWriteSline, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    versatecFinishWrite, versatecClose,
};

}  // namespace vantrel
