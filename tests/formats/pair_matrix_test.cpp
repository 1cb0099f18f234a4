// Every readable format copied into every writable format, the pairs taken from the registry: a seeded
// drawing-like page is written in the readable format, then copied line by line into the writable one
// through two RCBs (read RCB -> run list copy -> write RCB, as the console program translates) and through
// one RCB that reads and writes (as the batch translator does). The output must carry the source's pixels,
// cut to what the two formats hold. Readable outputs are read back with the read-back helper; device
// streams are decoded by the tests' own decoders. The pages are small but wider than 32767 and 65534
// columns too, where 15- and 16-bit fields end.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "formats/native.h"
#include "formats/registry.h"
#include "rio/format_id.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/device_decoders.h"
#include "tests/support/file_fixture.h"
#include "tests/support/pbm.h"
#include "tests/support/pdf_image.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testfiles::Bytes;
using testpbm::Bitmap;

enum class Route { kTwoRcbs, kReadWrite };

struct PageShape {
  int32_t width;
  int32_t height;
};

// A tall page of ordinary width, and a short one wider than both 32767 and 65534 columns.
constexpr PageShape kShapes[] = {{300, 40}, {70000, 3}};

struct PairCase {
  RasterFormatId from;
  RasterFormatId to;
  Route route;
  PageShape shape;
};

// The first name the console lists for an id, or "id" and its number.
std::string nameOf(RasterFormatId id) {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  for (int i = 0; i < count; ++i)
    if (names[i].id == id && names[i].listed) return names[i].name;
  return "id" + std::to_string(id);
}

std::string caseName(const PairCase& c) {
  return nameOf(c.from) + "_to_" + nameOf(c.to) + (c.route == Route::kTwoRcbs ? "_tworcbs_" : "_readwrite_") +
         std::to_string(c.shape.width) + "x" + std::to_string(c.shape.height);
}

void PrintTo(const PairCase& c, std::ostream* os) {
  *os << caseName(c);
}

// The widest line a format's header can state (15- and 16-bit fields); the writer refuses a wider page.
int32_t widestLine(RasterFormatId id) {
  switch (id) {
    case kFormatRunLength:
      return 32767;
    case kFormatRlc:
    case kFormatRlcFamily:
    case kFormatGraphtec:
      return 65534;
    case kFormatJdl4000:
      return 65528;
    case kFormatCalComp:
      return 65535 * 32;
    case kFormatCit:
      return 65535;
    case kFormatJdl:
    case kFormatJedmicsC4:
    case kFormatEdmicsB4:
      return 8 * 65535;
    case kFormatPcx:
      return 65536;
    default:
      return kMaxLineWidth;
  }
}

// Sources are the formats we can both write (to make the source) and read; a source too wide for its own
// format is left out.
std::vector<PairCase> registryPairs() {
  std::vector<PairCase> pairs;
  for (RasterFormatId from = 1; from <= kMaxFormatId; ++from) {
    if (!rioFormatInfo(from).reads || !rioFormatInfo(from).writes) continue;
    for (RasterFormatId to = 1; to <= kMaxFormatId; ++to) {
      if (!rioFormatInfo(to).writes) continue;
      for (Route route : {Route::kTwoRcbs, Route::kReadWrite})
        for (const PageShape& shape : kShapes)
          if (shape.width <= widestLine(from)) pairs.push_back({from, to, route, shape});
    }
  }
  return pairs;
}

// How an output is checked.
enum class Check {
  kReadBack,    // our own readers (the writer's id, or recognition when the registry lists no reader)
  kHpRaster,    // PCL and RTL rows
  kVersatec,    // block-format raster records
  kCalComp,     // count-and-group records
  kHpgl2,       // strokes of the polyline-encoded command
  kJdl,         // Japan Digital Labs rows
  kJdl4000,     // JDL 4000E count-and-byte pairs
  kNkk,         // PackBits rows of W / 8 + 1 bytes
  kGraphtec,    // Image Systems run-length behind the Graphtec header: its last four bytes are that header
  kPdfImage,    // the PDF page's Group 4 image, read back as CALS (Ghostscript renders it in tests/interop)
  kCleanClose,  // no decoder: PostScript is rendered by Ghostscript in tests/interop only
};

Check checkOf(RasterFormatId id) {
  switch (id) {
    case kFormatRtl:
    case kFormatPcl:
    case kFormatRtlPlain:
      return Check::kHpRaster;
    case kFormatVersatec:
      return Check::kVersatec;
    case kFormatCalComp:
      return Check::kCalComp;
    case kFormatHpgl2:
      return Check::kHpgl2;
    case kFormatJdl:
      return Check::kJdl;
    case kFormatJdl4000:
      return Check::kJdl4000;
    case kFormatNkk:
      return Check::kNkk;
    case kFormatGraphtec:
      return Check::kGraphtec;
    case kFormatPostScript:
      return Check::kCleanClose;
    case kFormatPdf:
      return Check::kPdfImage;
    default:
      return Check::kReadBack;
  }
}

// Columns of a `width` wide page that a format holds, as its writer documents it: the native run-length
// format cuts lines at its 15-bit pixel fields, the Image Systems family at 65534 columns, a Versatec
// plotter at its model's line length (checked against the decoded line length); every other format here
// holds the whole line.
int32_t columnsHeld(RasterFormatId id, int32_t width) {
  if (id == kFormatRlc || id == kFormatRlcFamily || id == kFormatGraphtec) return std::min(width, 65534);
  // C4 and B4 state the width in bytes: the page comes back padded white to a whole byte.
  if (id == kFormatJedmicsC4 || id == kFormatEdmicsB4) return (width + 7) / 8 * 8;
  return id == kFormatRunLength ? std::min(width, kNativeMaxWidth) : width;
}

struct Outcome {
  RioStatus open = 0;
  RioStatus write = 0;  // the first failed line
  RioStatus end = 0;    // the reading side's status after the last line: -1 is the end of the page
  RioStatus close = 0;
  int32_t streamOk = -1;
};

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The console program's way: a read RCB and a write RCB, each line copied across, both swapped.
Outcome copyThroughTwoRcbs(RasterStream* in, RasterFormatId from, RasterStream* out, RasterFormatId to) {
  Outcome o;
  RcbPtr reader(rioOpenRasterRead(in, from, &o.open));
  if (!reader) return o;
  RcbPtr writer(rioOpenRasterWrite(out, rioGetWidth(reader.get()), rioGetHeight(reader.get()), to, &o.open));
  if (!writer) return o;
  (void)rioSetXDpi(writer.get(), rioGetXDpi(reader.get()));
  (void)rioSetYDpi(writer.get(), rioGetYDpi(reader.get()));
  if (const uint8_t* extra = rioGetExtraHeader(reader.get()))
    o.write = rioSetExtraHeader(writer.get(), extra, rioGetExtraHeaderLength(reader.get()));
  // A writer that holds fewer columns has lowered its width and its line buffers with it.
  const int32_t held = rioGetWidth(writer.get());
  const bool narrower = held < rioGetWidth(reader.get());
  while (o.write == 0) {
    Sline line = rioReadRasterSline(reader.get());
    if (!line) break;
    if (narrower)
      rioCopySlineClipped(line, rioGetCurSline(writer.get()), held);
    else
      rioCopySline(line, rioGetCurSline(writer.get()));
    o.write = rioWriteRasterSline(writer.get());
    rioSwapSlines(writer.get());
    rioSwapSlines(reader.get());
  }
  o.end = rioGetStatus(reader.get());
  o.close = rioCloseRaster(writer.release());
  return o;
}

// The batch translator's way: one RCB whose two drivers share the lines.
Outcome copyThroughOneRcb(RasterStream* in, RasterFormatId from, RasterStream* out, RasterFormatId to) {
  Outcome o;
  RCB* rcb = rioOpenRasterReadWrite(in, from, out, to, &o.open);
  if (!rcb) return o;
  while (o.write == 0 && rioReadRasterSline(rcb)) {
    o.write = rioWriteRasterSline(rcb);
    rioSwapSlines(rcb);
  }
  o.end = rioGetStatus(rcb);
  o.close = rioCloseRaster(rcb);
  return o;
}

// Rows of packed pixels, most significant bit leftmost, as a page `pixels` wide.
Bitmap pageOfRows(const std::vector<std::vector<uint8_t>>& rows, int32_t pixels) {
  Bitmap page(pixels, static_cast<int32_t>(rows.size()));
  for (int32_t y = 0; y < page.height; ++y) {
    const std::vector<uint8_t>& row = rows[static_cast<size_t>(y)];
    std::copy_n(row.begin(), std::min<size_t>(row.size(), static_cast<size_t>(page.rowBytes())), page.row(y));
  }
  return page;
}

// The seeded page of a shape, made once: the generator is the slow part of a wide case.
const Bitmap& sourcePage(const PageShape& shape) {
  static std::map<std::pair<int32_t, int32_t>, Bitmap> made;
  auto [at, added] = made.try_emplace({shape.width, shape.height});
  if (added) at->second = testpbm::makePage(shape.width, shape.height, 0xC0FFEEu + shape.width);
  return at->second;
}

class PairMatrix : public testfiles::FileTest, public ::testing::WithParamInterface<PairCase> {
 protected:
  // The Versatec writer takes its plotter model from the environment: the default model for every pair.
  void SetUp() override {
    FileTest::SetUp();
    if (const char* model = std::getenv("ZEB_VBF")) savedModel_ = model;
    unsetenv("ZEB_VBF");
  }
  void TearDown() override {
    if (savedModel_) setenv("ZEB_VBF", savedModel_->c_str(), 1);
    FileTest::TearDown();
  }

  // Checks the output's pixels against `want` (the source cut to what both formats hold).
  void checkOutput(const fs::path& output, RasterFormatId to, const Bitmap& want) {
    const Bytes bytes = load(output);
    switch (checkOf(to)) {
      case Check::kReadBack: {
        const testread::PageRecord back = testread::readBack(output, rioFormatInfo(to).reads ? to : 0);
        ASSERT_EQ(back.open, kRioOk) << "the output does not open";
        EXPECT_EQ(back.end, kRioEndOfPage);
        EXPECT_EQ(back.height, want.height);
        EXPECT_EQ(testpbm::difference(back.bitmap(), want), "equal");
        return;
      }
      case Check::kHpRaster: {
        const devicetest::HpRasterDecoded d =
            devicetest::decodeHpRaster(std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(d.error, "");
        EXPECT_EQ(d.width, want.width);
        EXPECT_EQ(testpbm::difference(pageOfRows(d.rows, want.width), want), "equal");
        return;
      }
      case Check::kVersatec: {
        devicetest::VbfPlot plot;
        ASSERT_EQ(devicetest::decodeVbf(bytes, &plot), "");
        // The plotter prints its whole line: what the page does not cover is white, the rest is cut off.
        const int32_t line = plot.lineBytes * 8;
        EXPECT_EQ(testpbm::difference(pageOfRows(plot.rows, line), testpbm::widened(want, line)), "equal");
        return;
      }
      case Check::kCalComp: {
        devicetest::CrfPlot plot;
        ASSERT_EQ(devicetest::decodeCrf(bytes, &plot), "");
        const int32_t groups = plot.groups * 32;  // rows are whole 32-pixel groups, white beyond the page
        EXPECT_EQ((want.width + 31) / 32, plot.groups);
        EXPECT_EQ(testpbm::difference(pageOfRows(plot.rows, groups), testpbm::widened(want, groups)),
                  "equal");
        return;
      }
      case Check::kHpgl2: {
        const devicetest::Hpgl2Decoded d = devicetest::decodeHpgl2(std::string(bytes.begin(), bytes.end()));
        ASSERT_EQ(d.error, "");
        Bitmap got(want.width, want.height);
        for (const devicetest::Stroke& k : d.strokes) {
          ASSERT_TRUE(k.row >= 0 && k.row < want.height && k.s >= 0 && k.e <= want.width) << k;
          got.fill(static_cast<int32_t>(k.s), static_cast<int32_t>(k.e), static_cast<int32_t>(k.row));
        }
        EXPECT_EQ(testpbm::difference(got, want), "equal");
        return;
      }
      case Check::kJdl:
      case Check::kJdl4000:
      case Check::kNkk: {
        devicetest::ByteRows rows;
        if (checkOf(to) == Check::kJdl) {
          ASSERT_EQ(devicetest::decodeJdl(bytes, want.width, &rows), "");
        } else if (checkOf(to) == Check::kJdl4000) {
          devicetest::Jd4Header header;
          ASSERT_EQ(devicetest::decodeJd4(bytes, want.width, &header, &rows), "");
          EXPECT_EQ(header.height, static_cast<uint32_t>(want.height));
        } else {
          uint32_t width = 0, height = 0;
          char flag = 0;
          ASSERT_EQ(devicetest::decodeNkk(bytes, &width, &height, &flag, &rows), "");
          EXPECT_EQ(width, static_cast<uint32_t>(want.width));
        }
        EXPECT_EQ(testpbm::difference(pageOfRows(rows, want.width), want), "equal");
        return;
      }
      case Check::kGraphtec: {
        ASSERT_GE(bytes.size(), 20u);
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 8), "GRAPHTEC");
        const testread::PageRecord back = testread::readBackBytes(Bytes(bytes.begin() + 16, bytes.end()), kFormatRlc);
        ASSERT_EQ(back.open, kRioOk);
        EXPECT_EQ(back.end, kRioEndOfPage);
        EXPECT_EQ(testpbm::difference(back.bitmap(), want), "equal");
        return;
      }
      case Check::kPdfImage: {
        int columns = 0, rows = 0;
        std::string code;
        ASSERT_TRUE(testpdf::firstImage(std::string(bytes.begin(), bytes.end()), &columns, &rows, &code));
        EXPECT_EQ(columns, want.width);
        const testread::PageRecord back = testread::readBackBytes(testpdf::calsOf(columns, rows, code), kFormatCals);
        ASSERT_EQ(back.open, kRioOk);
        EXPECT_EQ(back.end, kRioEndOfPage);
        EXPECT_EQ(testpbm::difference(back.bitmap(), want), "equal");
        return;
      }
      case Check::kCleanClose:
        EXPECT_FALSE(bytes.empty());
        return;
    }
  }

  std::optional<std::string> savedModel_;
};

TEST_P(PairMatrix, OutputCarriesTheSourcePixels) {
  const PairCase& c = GetParam();
  const Bitmap& page = sourcePage(c.shape);
  const fs::path source = fresh("source");
  ASSERT_EQ(testpbm::writeThroughLibrary(source, c.from, page, 200), kRioOk) << "the source is not written";
  const Bitmap held = testpbm::widened(page, columnsHeld(c.from, page.width));
  const Bitmap want = testpbm::widened(held, columnsHeld(c.to, held.width));

  const fs::path output = fresh("output");
  Outcome o;
  {
    FilePtr in(std::fopen(source.c_str(), "rb"));
    FilePtr out(std::fopen(output.c_str(), "wb"));
    ASSERT_TRUE(in && out);
    RasterStream* is = streamOpen(in.get(), "r");
    RasterStream* os = streamOpen(out.get(), "w");
    o = c.route == Route::kTwoRcbs ? copyThroughTwoRcbs(is, c.from, os, c.to)
                                   : copyThroughOneRcb(is, c.from, os, c.to);
    o.streamOk = streamClose(os);
    (void)streamClose(is);
  }
  if (held.width > widestLine(c.to)) {
    // A page wider than the format's header can state is refused before anything is written.
    EXPECT_EQ(o.open, kRioBadColumns);
    return;
  }
  // A PDF/A page's sides lie within 3 and 14,400 units: sides more than 4,800 times apart (at one
  // resolution) are refused at the first line, before anything is written.
  if (c.to == kFormatPdf && held.width > 4800 * int64_t{held.height}) {
    EXPECT_EQ(o.write, kRioBadColumns);
    return;
  }
  ASSERT_EQ(o.open, kRioOk) << "open";
  EXPECT_EQ(o.write, kRioOk) << "a line was refused";
  EXPECT_EQ(o.end, kRioEndOfPage) << "the copy did not end at the end of the page";
  EXPECT_EQ(o.close, kRioOk) << "close";
  EXPECT_EQ(o.streamOk, 1) << "not every byte reached the file";
  checkOutput(output, c.to, want);
}

INSTANTIATE_TEST_SUITE_P(Registry, PairMatrix, ::testing::ValuesIn(registryPairs()),
                         [](const auto& info) { return caseName(info.param); });

}  // namespace
}  // namespace vantrel
