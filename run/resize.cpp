// The geometry branches of the console translation run: the paper-size check of mmr output and the resize
// path, which the batch translator's resampling shares with its own rounding of the sizes.
#include <algorithm>
#include <cmath>
#include <memory>

#include "formats/open.h"
#include "formats/pages.h"
#include "rio/resample.h"
#include "rio/sline.h"
#include "rio/status.h"
#include "run/option_table.h"
#include "run/page_digest.h"
#include "run/translate.h"

namespace vantrel {
namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kAssumedDpi = kDefaultResolution;  // an axis whose resolution is unknown

// Long side of sheet A(k) for k = 0..5; sheet A(k) is entry k+1 by entry k.
constexpr int32_t kPaperMm[] = {1189, 841, 594, 420, 297, 210};
constexpr int kPaperEntries = 6;
constexpr int32_t kPaperToleranceMm = 20;
constexpr int32_t kLongSizeBit = 8;

// Round half away from zero.
double roundHalfAway(double v) {
  return v < 0 ? std::trunc(v - 0.5) : std::trunc(v + 0.5);
}

double axisDpi(double dpi) {
  return dpi == 0 ? kAssumedDpi : dpi;
}

// The last table entry that lies within the tolerance of `mm`; -1 when none.
int lastMatch(double mm) {
  int found = -1;
  for (int k = 0; k < kPaperEntries; ++k)
    if (std::fabs(mm - kPaperMm[k]) <= kPaperToleranceMm) found = k;
  return found;
}

int32_t paperIndex(int32_t sizeCode) {
  return (sizeCode - 1) % 8;
}

bool refuse(const Dialect& dialect, Reporter& reporter, const char* text) {
  reporter.report(Severity::kError, dialect.text(Message::kRefusal, text));
  return false;
}

struct SlineDeleter {
  void operator()(int32_t* runs) const { free_sline(runs); }
};
using SlinePtr = std::unique_ptr<int32_t, SlineDeleter>;

int32_t roundUp32(int32_t v) {
  return static_cast<int32_t>((static_cast<int64_t>(v) + 31) / 32 * 32);
}

// The writing side of the resize path. Every written line stays in curSline afterwards, also for a writer
// that keeps a reference line: after the swap the line just written is copied back, so a repeat writes the
// line itself and the coder's reference is the previous written line.
class ResizeOutput {
 public:
  ResizeOutput(RCB* rcb, int32_t lines, PageDigest* digest) : rcb_(rcb), lines_(lines), digest_(digest) {}

  bool full() const { return rcb_->linesWritten >= lines_; }
  int64_t rowsLeft() const { return static_cast<int64_t>(lines_) - rcb_->linesWritten; }

  RioStatus writeCurrent() {
    if (full()) return kRioOk;
    if (digest_) digest_->addLine(rcb_->curSline);
    if (RioStatus r = rioWriteRasterSline(rcb_)) return r;
    rioSwapSlines(rcb_);
    if (rcb_->slineCount == 2) rioCopySline(rcb_->refSline, rcb_->curSline);
    return kRioOk;
  }

 private:
  RCB* rcb_;
  int32_t lines_;
  PageDigest* digest_;
};

}  // namespace

bool checkPaperSize(const RCB* in, TranslateJob& job, const Dialect& dialect, Reporter& reporter) {
  if (job.options.sizeCode == 0) return true;
  static constexpr const char* kNotStandard = "Input file must be a standard size (A0-A4 or A0L - A4L)";
  const double w = roundHalfAway(rioGetWidth(in) / axisDpi(rioGetXDpi(in)) * kMmPerInch);
  const double h = roundHalfAway(rioGetHeight(in) / axisDpi(rioGetYDpi(in)) * kMmPerInch);
  const double shortSide = std::min(w, h);
  const double longSide = std::max(w, h);
  const int s = lastMatch(shortSide);
  const int l = lastMatch(longSide);
  if (s < 0 || l < 0) return refuse(dialect, reporter, kNotStandard);

  int32_t inputCode = 0;
  if (s - l == 1) {
    inputCode = l + 1;  // the page is A(l)
  } else if (s == 0 || longSide < kPaperMm[s - 1]) {
    return refuse(dialect, reporter, kNotStandard);
  } else {
    inputCode = s + kLongSizeBit;  // the short side of A(s-1) with a longer sheet's long side: A(s-1)L
  }

  const int32_t target = job.options.sizeCode;
  if (inputCode == target) return true;
  const bool inputLong = (inputCode & kLongSizeBit) != 0;
  const bool targetLong = (target & kLongSizeBit) != 0;
  if (inputLong != targetLong)
    return refuse(dialect, reporter,
                  inputLong ? "Cannot convert long size to standard" : "Cannot convert standard size to long");
  job.scale = static_cast<double>(kPaperMm[paperIndex(target)]) / kPaperMm[paperIndex(inputCode)];
  return true;
}

RioStatus resizeTranslate(RunInput& source, const TranslateJob& job, RasterStream* outStream,
                          const Dialect& dialect, PageDigest* digest) {
  RcbPtr output;
  const RioStatus status = resizePage(source, job, outStream, output, dialect, digest, 1);
  source.closeReader();
  if (!output) return status;
  // The writer's close finishes the file (trailers, patched headers): its failure fails the run.
  const RioStatus closed = rioCloseRaster(output.release());
  return status != 0 ? status : closed;
}

RioStatus resizePage(RunInput& source, const TranslateJob& job, RasterStream* outStream, RcbPtr& output,
                     const Dialect& dialect, PageDigest* digest, int32_t pages) {
  RCB* in = source.rcb();
  const RasterFormatId outFormat = job.options.outFormat;
  const int32_t inWidth = rioGetWidth(in);
  const int32_t inHeight = rioGetHeight(in);

  // Scale factors and output resolutions; an axis of unknown resolution counts as 200 dpi.
  double sx = 0, sy = 0, outXDpi = 0, outYDpi = 0;
  if (job.scale != 0) {
    sx = sy = job.scale;
    outXDpi = rioGetXDpi(in);
    outYDpi = rioGetYDpi(in);
  } else {
    const double inX = axisDpi(rioGetXDpi(in));
    const double inY = axisDpi(rioGetYDpi(in));
    outXDpi = job.options.outXDpi != 0 ? job.options.outXDpi : inX;
    outYDpi = job.options.outYDpi != 0 ? job.options.outYDpi : inY;
    sx = outXDpi / inX;
    sy = outYDpi / inY;
  }

  // The page budget first (a page beyond it is too many rows whatever its width), then a width the line
  // buffers can hold and a height that stays an int32 when rounded up to 32.
  if (!(static_cast<double>(inWidth) * sx * static_cast<double>(inHeight) * sy <= kMaxPagePixels))
    return kRioBadRows;
  int32_t outW = 0, outH = 0;
  if (!scaledSide(inHeight, sy, dialect.sizeRule, INT32_MAX - 31, &outH)) return kRioBadRows;
  if (!scaledSide(inWidth, sx, dialect.sizeRule, kMaxLineWidth, &outW)) return kRioBadColumns;
  if (RioStatus r = rioCheckPageBudget(outW, outH, outStream->settings)) return r;

  // The output row being collected (the union of the scaled lines merged into it) and room for the next
  // union: run lists, so a line costs its runs whatever the width.
  SlinePtr group(alloc_sline(outW)), merged(alloc_sline(outW));
  if (!group || !merged) return kRioOutOfMemory;

  // The console opens the mmr writer with sizes rounded up to 32, and the writer pads the page itself;
  // outH lines of outW pixels are written either way.
  const bool roundTo32 = outFormat == kFormatMmr && dialect.kind == DialectKind::kConsole;
  RioStatus status = 0;
  const int32_t openWidth = roundTo32 ? roundUp32(outW) : outW;
  const int32_t openHeight = roundTo32 ? roundUp32(outH) : outH;
  if (!output) {
    output.reset(rioOpenRasterWrite(outStream, openWidth, openHeight, outFormat, &status));
    if (!output) return status;
    output->pagesToWrite = pages;
  } else if (RioStatus r = rioSizeWrittenPage(output.get(), openWidth, openHeight)) {
    return r;
  }
  (void)rioSetXDpi(output.get(), outXDpi);
  (void)rioSetYDpi(output.get(), outYDpi);
  if (in->extraHeader) status = rioSetExtraHeader(output.get(), in->extraHeader, in->extraHeaderLength);
  if (status == 0 && !in->extraHeader) status = rioSetExtraHeader(output.get(), nullptr, 0);
  rioCarryOrientation(output.get(), in);

  LineResampler resampler;
  if (status == 0) status = resampler.init(inWidth, inHeight, outW, outH, sx, sy);
  if (status == 0 && digest && !digest->begin(rioGetWidth(output.get()), rioGetHeight(output.get())))
    status = kRioOutOfMemory;

  // Lines go out over the columns both the page and the writer's line buffers hold.
  const int32_t lineWidth = std::min(outW, rioGetWidth(output.get()));
  ResizeOutput writer(output.get(), outH, digest);
  auto add = [&](const int32_t* line) {
    rioMergeSline(group.get(), line, merged.get());
    std::swap(group, merged);
  };
  auto emit = [&]() -> RioStatus {
    rioCopySlineClipped(group.get(), output->curSline, lineWidth);
    group.get()[0] = group.get()[1] = kSlineEnd;
    return writer.writeCurrent();
  };

  bool pending = false;  // lines collected into the group that no output line holds yet
  while (status == 0 && source.next()) {
    // The scaled line is clipped in place: it is the resampler's, or the input's own line when the
    // widths agree.
    auto* line = const_cast<int32_t*>(resampler.scaleRow(in->curSline));
    rioClipSline(line, outW);
    add(line);
    pending = true;
    // The rows this group is due now; the last output row is held back until the input ends, so that every
    // line left over is merged into it.
    const int64_t due = resampler.rowsAfterLine(writer.rowsLeft());
    const int64_t now = std::min(due, writer.rowsLeft() - 1);
    if (now > 0) {
      rioCopySlineClipped(group.get(), output->curSline, lineWidth);
      for (int64_t i = 0; status == 0 && i < now; ++i) status = writer.writeCurrent();
      if (due == now) {
        group.get()[0] = group.get()[1] = kSlineEnd;
        pending = false;
      }
    }
    rioSwapSlines(in);
  }

  if (status == 0) {
    // The group the input ended in is the next output row, so the bottom of the page is kept; after that
    // the padding repeats the last line written.
    if (pending && !writer.full()) status = emit();
    if (output->linesWritten == 0) output->curSline[0] = output->curSline[1] = kSlineEnd;
    while (status == 0 && !writer.full()) status = writer.writeCurrent();
  }
  group.reset();
  merged.reset();
  if (status == 0 && !source.endedWell()) status = inputFailure(in->status);
  // A failed run's output is dropped: the writer is told, so that it does not pad the page.
  if (status != 0) rioSetError(output.get(), status);
  return status;
}

}  // namespace vantrel
