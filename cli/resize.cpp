#include "cli/resize.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "picture/import.h"
#include "picture/tpicture.h"
#include "picture/transform.h"
#include "rio/sline.h"
#include "rio/status.h"

namespace vantrel {
namespace {

constexpr int64_t kFixedOne = 32768;  // 1.0 with 15 fraction bits
constexpr double kMmPerInch = 25.4;
constexpr double kAssumedDpi = 200;  // an axis whose resolution is unknown

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

bool refuse(std::FILE* out, const char* text) {
  std::fprintf(out, "%s: %s\n", kProgramName, text);
  return false;
}

struct BitmapDeleter {
  void operator()(uint32_t* bits) const { FreeBitmapString(bits); }
};
using BitmapPtr = std::unique_ptr<uint32_t, BitmapDeleter>;

struct SlineDeleter {
  void operator()(int32_t* runs) const { free_sline(runs); }
};
using SlinePtr = std::unique_ptr<int32_t, SlineDeleter>;

// A scaled side as a line count: rounded, refused when not representable or below one.
bool scaledSide(int64_t side, double factor, int64_t max, int32_t* out) {
  double v = roundHalfAway(static_cast<double>(side) * factor);
  if (!std::isfinite(v) || v < 1 || v > static_cast<double>(max)) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

int32_t roundUp32(int32_t v) {
  return static_cast<int32_t>((static_cast<int64_t>(v) + 31) / 32 * 32);
}

// The writing side of the resize path. Every written line stays in curSline afterwards, also for a writer
// that keeps a reference line: after the swap the line just written is copied back, so a repeat writes the
// line itself and the coder's reference is the previous written line.
class ResizeOutput {
 public:
  ResizeOutput(RCB* rcb, int32_t lines) : rcb_(rcb), lines_(lines) {}

  bool full() const { return rcb_->linesWritten >= lines_; }

  RioStatus writeCurrent() {
    if (full()) return kRioOk;
    if (RioStatus r = rioWriteRasterSline(rcb_)) return r;
    rioSwapSlines(rcb_);
    if (rcb_->slineCount == 2) rioCopySline(rcb_->refSline, rcb_->curSline);
    return kRioOk;
  }

 private:
  RCB* rcb_;
  int32_t lines_;
};

}  // namespace

namespace {

constexpr double kRadiansPerDegree = 0.017453292519943295;

// The raster status whose console text names a failed turn, from the toolkit's last error.
RioStatus turnFailureStatus(RastError error) {
  // A quarter turn that could not finish gives 19; it fails only for lack of memory.
  return error == kRastOutOfMemory || error == kRastTransformFailed ? kRioOutOfMemory : kRioInternal;
}

}  // namespace

RCB* openPictureInput(TranslateJob& job, RioStatus* status) {
  RasterFormatId formatRead = 0;
  RastHeaderBlock header;
  RioStatus readStatus = 0;
  job.picture.reset(ImportTPicture(job.inFile.get(), job.inFormat, nullptr, &formatRead, &header, &readStatus));
  job.inFormat = formatRead;
  // Header data the reader hands on travel with the served lines, as on the plain path.
  struct HeaderFree {
    void operator()(uint8_t* block) const { rioFree(block); }
  };
  std::unique_ptr<uint8_t, HeaderFree> headerBlock(header.data);
  // An import that ended with an error (undecipherable data, a page that ended early) is never turned.
  if (!job.picture || rastGetLastError() != kRastNoError) {
    *status = readStatus != 0 && readStatus != kRioEndOfPage ? readStatus : kRioOutOfMemory;
    job.picture.reset();
    return nullptr;
  }

  RcbPtr rcb(rioNew<RCB>());
  if (!rcb) {
    *status = kRioOutOfMemory;
    return nullptr;
  }
  const double angle = job.rotation * kRadiansPerDegree;
  if (angle != 0) {
    // The turn consumes the picture whether or not it succeeds.
    TPicture* turned = rastRotateImage(job.picture.release(), angle, nullptr, 0);
    job.picture.reset(turned);
    if (!turned) {
      *status = turnFailureStatus(rastGetLastError());
      return nullptr;
    }
  }
  const TPicture* picture = job.picture.get();
  // The turned page's column resolution is its x resolution and its row resolution its y; -dpi sets both.
  rcb->xDpi = job.inDpi > 0 ? job.inDpi : rastGetImageColumnDPI(picture);
  rcb->yDpi = job.inDpi > 0 ? job.inDpi : rastGetImageRowDPI(picture);
  rcb->width = static_cast<int32_t>(rastGetImageWidth(picture));
  rcb->height = static_cast<int32_t>(rastGetImageHeight(picture));
  if (rcb->width < 1 || rcb->width > kMaxLineWidth) {
    *status = kRioBadColumns;
    return nullptr;
  }
  if (RioStatus r = rioAllocSlinePair(rcb.get())) {
    *status = r;
    return nullptr;
  }
  if (headerBlock) {
    const int32_t length = header.length;
    if (RioStatus r = rioAttachExtraHeader(rcb.get(), headerBlock.release(), length)) {
      *status = r;
      return nullptr;
    }
  }
  *status = kRioOk;
  return rcb.release();
}

bool nextInputLine(RCB* in, TranslateJob& job) {
  const TPicture* picture = job.picture.get();
  if (!picture) return rioReadRasterSline(in) != nullptr;
  // The RCB's line buffers are made for its width: never take more columns or rows than both have.
  const int32_t rows = std::min(in->height, picture->height);
  const int32_t columns = std::min(in->width, picture->width);
  if (in->linesRead >= rows || in->curSline == nullptr) return false;
  if (columns > 0) {
    (void)ExtractRunsTPicture(picture, in->linesRead, in->curSline, 0, columns - 1);
  } else {
    in->curSline[0] = in->curSline[1] = kSlineEnd;
  }
  ++in->linesRead;
  return true;
}

bool checkPaperSize(RCB* in, TranslateJob& job, std::FILE* out) {
  if (job.sizeCode == 0) return true;
  static constexpr const char* kNotStandard = "Input file must be a standard size (A0-A4 or A0L - A4L)";
  const double w = roundHalfAway(rioGetWidth(in) / axisDpi(rioGetXDpi(in)) * kMmPerInch);
  const double h = roundHalfAway(rioGetHeight(in) / axisDpi(rioGetYDpi(in)) * kMmPerInch);
  const double shortSide = std::min(w, h);
  const double longSide = std::max(w, h);
  const int s = lastMatch(shortSide);
  const int l = lastMatch(longSide);
  if (s < 0 || l < 0) return refuse(out, kNotStandard);

  int32_t inputCode = 0;
  if (s - l == 1) {
    inputCode = l + 1;  // the page is A(l)
  } else if (s == 0 || longSide < kPaperMm[s - 1]) {
    return refuse(out, kNotStandard);
  } else {
    inputCode = s + kLongSizeBit;  // the short side of A(s-1) with a longer sheet's long side: A(s-1)L
  }

  const int32_t target = job.sizeCode;
  if (inputCode == target) return true;
  const bool inputLong = (inputCode & kLongSizeBit) != 0;
  const bool targetLong = (target & kLongSizeBit) != 0;
  if (inputLong != targetLong)
    return refuse(out, inputLong ? "Cannot convert long size to standard" : "Cannot convert standard size to long");
  job.scale = static_cast<double>(kPaperMm[paperIndex(target)]) / kPaperMm[paperIndex(inputCode)];
  return true;
}

RioStatus resizeTranslate(RcbPtr in, TranslateJob& job, RasterStream* outStream, RasterFormatId outFormat) {
  const int32_t inWidth = rioGetWidth(in.get());
  const int32_t inHeight = rioGetHeight(in.get());

  // Scale factors and output resolutions; an axis of unknown resolution counts as 200 dpi.
  double sx = 0, sy = 0, outXDpi = 0, outYDpi = 0;
  if (job.scale != 0) {
    sx = sy = job.scale;
    outXDpi = rioGetXDpi(in.get());
    outYDpi = rioGetYDpi(in.get());
  } else {
    const double inX = axisDpi(rioGetXDpi(in.get()));
    const double inY = axisDpi(rioGetYDpi(in.get()));
    outXDpi = job.outXDpi != 0 ? job.outXDpi : inX;
    outYDpi = job.outYDpi != 0 ? job.outYDpi : inY;
    sx = outXDpi / inX;
    sy = outYDpi / inY;
  }

  // Output sizes: a width the line buffers can hold, a height that stays an int32 when rounded up to 32.
  int32_t outW = 0, outH = 0;
  if (!scaledSide(inWidth, sx, kMaxLineWidth, &outW)) return kRioBadColumns;
  if (!scaledSide(inHeight, sy, INT32_MAX - 31, &outH)) return kRioBadRows;

  const int32_t words = static_cast<int32_t>(bitmapWords(outW));
  BitmapPtr bitmap(AllocBitmapString(words));
  if (!bitmap) return kRioOutOfMemory;

  // The mmr writer is opened with sizes rounded up to 32 and pads the page itself; outH lines of outW
  // pixels are written either way.
  const bool mmr = outFormat == kFormatMmr;
  RioStatus status = 0;
  RcbPtr output(rioOpenRasterWrite(outStream, mmr ? roundUp32(outW) : outW, mmr ? roundUp32(outH) : outH,
                                   outFormat, &status));
  if (!output) return status;
  (void)rioSetXDpi(output.get(), outXDpi);
  (void)rioSetYDpi(output.get(), outYDpi);
  if (in->extraHeader) status = rioSetExtraHeader(output.get(), in->extraHeader, in->extraHeaderLength);

  // Fixed-point factors in 64 bits: wide pages at high targets overflow 32.
  const auto xfix = static_cast<uint64_t>(sx * kFixedOne);
  const auto yfix = static_cast<int64_t>(outH < inHeight ? sy * kFixedOne : kFixedOne / sy);

  SlinePtr scaled, merged;
  if (status == 0 && outW != inWidth) {
    scaled.reset(alloc_sline(inWidth));
    merged.reset(alloc_sline(inWidth));
    if (!scaled || !merged) status = kRioOutOfMemory;
  }

  // Lines go out over the columns both the page and the writer's line buffers hold.
  const int32_t lastColumn = std::min(outW, rioGetWidth(output.get())) - 1;
  ResizeOutput writer(output.get(), outH);
  auto emit = [&]() -> RioStatus {
    if (writer.full()) return kRioOk;
    (void)BitmapStringToRuns(bitmap.get(), words, output->curSline, 0, lastColumn);
    FillBitmapString(bitmap.get(), words, 0);
    return writer.writeCurrent();
  };

  int64_t acc = 0;
  bool pending = false;  // lines collected into the bitmap that no output line holds yet
  while (status == 0 && nextInputLine(in.get(), job)) {
    int32_t* line = in->curSline;
    if (outW != inWidth) {
      rioCopySline(line, scaled.get());
      rioScaleSlineFixed(scaled.get(), xfix);
      line = scaled.get();
      if (outW < inWidth) {
        rioNormalizeSline(scaled.get(), merged.get());
        line = merged.get();
      }
    }
    rioClipSline(line, outW);
    WriteRunsBitmapString(bitmap.get(), words, line, 1);
    pending = true;

    if (outH < inHeight) {
      acc += yfix;
      if (acc > kFixedOne) {
        acc -= kFixedOne;
        status = emit();
        pending = false;
      }
    } else if (outH == inHeight) {
      status = emit();
      pending = false;
    } else {
      (void)BitmapStringToRuns(bitmap.get(), words, output->curSline, 0, lastColumn);
      while (status == 0 && acc < kFixedOne && !writer.full()) {
        status = writer.writeCurrent();
        acc += yfix;
      }
      FillBitmapString(bitmap.get(), words, 0);
      acc -= kFixedOne;
      pending = false;
    }
    rioSwapSlines(in.get());
  }

  if (status == 0) {
    // A page that gave no output line yet gets what it collected; after that the padding repeats the last
    // line written.
    if (output->linesWritten == 0 && pending) status = emit();
    if (output->linesWritten == 0) output->curSline[0] = output->curSline[1] = kSlineEnd;
    while (status == 0 && !writer.full()) status = writer.writeCurrent();
  }
  bitmap.reset();
  scaled.reset();
  merged.reset();
  if (status == 0 && !(in->status == 0 || (in->status == kRioEndOfPage && in->linesRead >= in->height)))
    status = in->status;
  // A failed run's output is deleted: the writer is told, so that it does not pad the page.
  if (status != 0) rioSetError(output.get(), status);
  in.reset();
  // The writer's close finishes the file (trailers, patched headers): its failure fails the run.
  const RioStatus closed = rioCloseRaster(output.release());
  return status != 0 ? status : closed;
}

void releaseJobPicture(TranslateJob& job) {
  job.picture.reset();
}

}  // namespace vantrel
