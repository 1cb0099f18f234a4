// Group 4 code carried from reader to writer: every pair of whole-page Group 4 formats, through two RCBs and
// through one, writes the same bytes whether the writer copies the reader's code or codes the lines afresh,
// for our own code, libtiff's (both fill orders) and the real files' code. A stream coded in horizontal mode
// where vertical would do is carried as it is and reads back to the same pixels. Damaged code is refused.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "codec/fax_2d.h"
#include "formats/open.h"
#include "rio/carried_code.h"
#include "rio/rcb.h"
#include "tests/support/file_fixture.h"
#include "tests/support/pbm.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testfiles::Bytes;
using testpbm::quoted;
using testpbm::runShell;

constexpr RasterFormatId kGroup4Formats[] = {kFormatCals,  kFormatNativeG4, kFormatTiff,
                                             kFormatDsig4, kFormatCit,      kFormatMmr};

enum class Route { kTwoRcbs, kOneRcb };

struct Copy {
  RioStatus status = 0;  // the first failure, or what the writer's close answered
  Bytes bytes;
};

// The page of `in` copied into `to` as the console program (two RCBs) or the batch translator (one RCB)
// does; with `offer`, the writer is offered the reader's code as the run offers it.
Copy translate(const fs::path& in, RasterFormatId from, const fs::path& out, RasterFormatId to, Route route,
               bool offer) {
  Copy c;
  std::unique_ptr<std::FILE, testread::FileCloser> inFile(std::fopen(in.c_str(), "rb"));
  std::unique_ptr<std::FILE, testread::FileCloser> outFile(std::fopen(out.c_str(), "w+b"));
  if (!inFile || !outFile) {
    c.status = testread::kNoFile;
    return c;
  }
  StreamPtr inStream(streamOpen(inFile.get(), "r"));
  RasterStream* outStream = streamOpen(outFile.get(), "w");
  if (route == Route::kOneRcb) {
    RCB* rcb = rioOpenRasterReadWrite(inStream.get(), from, outStream, to, &c.status);
    if (rcb) {
      if (offer) rioOfferCarriedCode(rcb, rcb);
      while (c.status == 0 && rioReadRasterSline(rcb)) {
        c.status = rioWriteRasterSline(rcb);
        rioSwapSlines(rcb);
      }
      if (c.status == 0 && rcb->status != kRioOk && rcb->status != kRioEndOfPage) c.status = rcb->status;
      if (const RioStatus closed = rioCloseRaster(rcb); c.status == 0) c.status = closed;
    }
  } else {
    RcbPtr reader(rioOpenRasterRead(inStream.get(), from, &c.status));
    RcbPtr writer(reader ? rioOpenRasterWrite(outStream, reader->width, reader->height, to, &c.status) : nullptr);
    if (writer) {
      writer->xDpi = reader->xDpi;
      writer->yDpi = reader->yDpi;
      if (reader->extraHeader)
        c.status = rioSetExtraHeader(writer.get(), reader->extraHeader, reader->extraHeaderLength);
      if (offer) rioOfferCarriedCode(writer.get(), reader.get());
      while (c.status == 0) {
        Sline line = rioReadRasterSline(reader.get());
        if (!line) break;
        rioCopySline(line, writer->curSline);
        c.status = rioWriteRasterSline(writer.get());
        rioSwapSlines(writer.get());
        rioSwapSlines(reader.get());
      }
      if (c.status == 0 && reader->status != kRioOk && reader->status != kRioEndOfPage) c.status = reader->status;
      reader.reset();  // the console program closes its reader first
      if (const RioStatus closed = rioCloseRaster(writer.release()); c.status == 0) c.status = closed;
    }
  }
  const int32_t closed = streamClose(outStream);  // a failed writer has dropped its bytes
  if (c.status == 0) {
    EXPECT_EQ(closed, 1);
  }
  outFile.reset();
  c.bytes = testfiles::loadBytes(out);
  return c;
}

class CarriedGroup4 : public testfiles::FileTest {
 protected:
  // Carried and coded afresh give the same bytes for every writer and route (canonical code), or at least
  // the same pixels (`canonical` false); the reader must take the input whole.
  void expectLockstep(const fs::path& in, RasterFormatId from, const std::string& what, bool canonical = true) {
    for (RasterFormatId to : kGroup4Formats)
      for (Route route : {Route::kTwoRcbs, Route::kOneRcb}) {
        const Copy coded = translate(in, from, fresh(), to, route, false);
        const Copy carried = translate(in, from, fresh(), to, route, true);
        const std::string label = what + " to " + std::to_string(to) + (route == Route::kOneRcb ? " (one RCB)" : "");
        EXPECT_EQ(carried.status, coded.status) << label;
        if (coded.status != 0) continue;  // a page the writer cannot hold
        if (canonical) {
          EXPECT_TRUE(carried.bytes == coded.bytes) << label << ": carried over, the bytes differ";
        } else {
          EXPECT_TRUE(testread::readBackBytes(carried.bytes, to).lines ==
                      testread::readBackBytes(coded.bytes, to).lines)
              << label << ": carried over, the pixels differ";
        }
      }
  }

  // drawgen's page in `format`, through our own writer.
  fs::path draw(const std::string& args, RasterFormatId format) {
    const fs::path rnl = fresh("page");
    EXPECT_EQ(runShell(std::string(DRAWGEN_EXE) + " " + args + " -f rnl " + quoted(rnl)), 0) << args;
    const fs::path out = fresh("src");
    EXPECT_EQ(translate(rnl, kFormatRunLength, out, format, Route::kTwoRcbs, false).status, 0) << args;
    return out;
  }
};

TEST_F(CarriedGroup4, OurOwnCodeCarriesByteForByte) {
  for (const char* page : {"-w 1201 -h 257 -dpi 200 -seed 11", "-w 999 -h 301 -dpi 300 -scan -seed 5"})
    for (RasterFormatId from : kGroup4Formats)
      expectLockstep(draw(page, from), from, std::string(page) + " from " + std::to_string(from));
}

// libtiff's coder, most and least significant bit first, one strip and strips of a few rows.
TEST_F(CarriedGroup4, LibtiffCodeCarriesByteForByte) {
  ASSERT_TRUE(testpbm::toolExists("tiffcp")) << "libtiff-tools is missing (scripts/setup.sh installs it)";
  for (const char* page : {"-w 1201 -h 257 -dpi 200 -seed 3", "-w 1000 -h 300 -dpi 300 -scan -seed 9"}) {
    const fs::path plain = draw(page, kFormatTiffUncompressed);
    for (const char* fill : {"msb2lsb", "lsb2msb"})
      for (const char* rows : {"1000000", "64", "7", "1"}) {
        const fs::path tif = fresh("libtiff");
        ASSERT_EQ(runShell("tiffcp -c g4 -r " + std::string(rows) + " -f " + fill + " " + quoted(plain) + " " +
                           quoted(tif)),
                  0);
        expectLockstep(tif, kFormatTiff, std::string(page) + " " + fill + " strips of " + rows);
      }
  }
}

// The real Group 4 TIFF files other programs wrote (the realworld corpus beside the checkout).
TEST_F(CarriedGroup4, RealFilesCarryByteForByte) {
  if (!fs::is_directory(REALWORLD_DIR)) GTEST_SKIP() << "no corpus at " << REALWORLD_DIR;
  int tried = 0;
  for (const auto& entry : fs::directory_iterator(REALWORLD_DIR)) {
    const std::string name = entry.path().filename().string();
    if (name.find("g4") == std::string::npos || entry.path().extension() != ".tif") continue;
    if (testread::readBack(entry.path(), kFormatTiff).end != kRioEndOfPage) continue;  // refused as a page
    ++tried;
    // A scanner's coder that takes other modes than a canonical coder would.
    expectLockstep(entry.path(), kFormatTiff, name, name != "g4_5pages.tif");
  }
  EXPECT_GE(tried, 10);
}

// Horizontal mode for every pair of changes: valid, not what a coder that prefers vertical mode writes.
Bytes horizontalOnly(const testpbm::Bitmap& page) {
  std::unique_ptr<std::FILE, testread::FileCloser> file(std::tmpfile());
  RasterStream* s = streamOpen(file.get(), "w");
  FaxBitWriter w;
  for (int32_t y = 0; y < page.height; ++y) {
    const testread::Runs runs = testread::runsOf(page, y);
    int32_t a0 = 0;
    auto pair = [&](int32_t a1, int32_t a2) {
      bitsPut(w, s, 1, 3);  // 001
      fax_detail::putRun(w, s, 0, a1 - a0);
      fax_detail::putRun(w, s, 1, a2 - a1);
      a0 = a2;
    };
    for (auto [start, end] : runs) pair(start, end);
    if (a0 < page.width) pair(page.width, page.width);
  }
  bitsPut(w, s, (1u << 12) | 1u, 24);  // end of block
  bitsFlushWord(w, s);
  EXPECT_EQ(streamClose(s), 1);
  std::rewind(file.get());
  Bytes bytes;
  for (int c; (c = std::fgetc(file.get())) != EOF;) bytes.push_back(static_cast<uint8_t>(c));
  return bytes;
}

TEST_F(CarriedGroup4, NonCanonicalCodeCarriesToTheSamePixels) {
  const testpbm::Bitmap page = testpbm::makePage(517, 90, 77);
  // A CALS file of the page from our writer, its data replaced by the hand-made stream.
  const fs::path rnl = fresh("page");
  std::vector<testread::Runs> lines;
  for (int32_t y = 0; y < page.height; ++y) lines.push_back(testread::runsOf(page, y));
  testfiles::writeWithDriver(rnl, kFormatRunLength, page.width, page.height, lines);
  const fs::path ours = fresh("cals");
  ASSERT_EQ(translate(rnl, kFormatRunLength, ours, kFormatCals, Route::kTwoRcbs, false).status, 0);
  Bytes cals = load(ours);
  const Bytes code = horizontalOnly(page);
  cals.resize(2048);
  cals.insert(cals.end(), code.begin(), code.end());
  const fs::path in = save(cals);

  for (RasterFormatId to : kGroup4Formats) {
    const Copy coded = translate(in, kFormatCals, fresh(), to, Route::kTwoRcbs, false);
    const Copy carried = translate(in, kFormatCals, fresh(), to, Route::kTwoRcbs, true);
    ASSERT_EQ(carried.status, 0) << to;
    EXPECT_FALSE(carried.bytes == coded.bytes) << to << ": the code was not carried over";
    const testread::PageRecord back = testread::readBackBytes(carried.bytes, to);
    EXPECT_EQ(back.end, kRioEndOfPage) << to;
    EXPECT_TRUE(back.bitmap() == page) << to << ": carried code reads back to other pixels";
  }
  // The native Group 4 file holds the stream itself, then its own end of block and padding.
  const Copy native = translate(in, kFormatCals, fresh(), kFormatNativeG4, Route::kTwoRcbs, true);
  const Bytes data(native.bytes.end() - static_cast<std::ptrdiff_t>(code.size()), native.bytes.end());
  EXPECT_TRUE(data == code);
}

// Code damaged in the middle of the page is refused whether or not it would have been carried.
TEST_F(CarriedGroup4, DamagedCodeIsRefused) {
  Bytes cals = load(draw("-w 800 -h 200 -dpi 200 -seed 2", kFormatCals));
  for (size_t i = 2048 + (cals.size() - 2048) / 2; i < cals.size(); ++i) cals[i] = 0;
  const fs::path in = save(cals);
  for (RasterFormatId to : kGroup4Formats) {
    EXPECT_NE(translate(in, kFormatCals, fresh(), to, Route::kTwoRcbs, true).status, 0) << to;
    EXPECT_NE(translate(in, kFormatCals, fresh(), to, Route::kOneRcb, true).status, 0) << to;
  }
}

}  // namespace
}  // namespace vantrel
