// Picture import and export: whole pages between files and pictures, the scaling accumulators, the
// progress callback, hostile and truncated inputs, memory exhaustion, export windows and the notes that a
// failed export hands to the diagnostics sink.
#include "picture/import.h"
#include "rio/diagnostics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "rio/alloc.h"
#include "rio/rcb.h"
#include "rio/stream.h"
#include "tests/support/pbm.h"
#include "tests/support/pbm_picture.h"
#include "tests/support/read_back.h"
#include "tests/support/run_pages.h"
#include "tests/support/scratch_dir.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

using testread::PageRecord;
using testread::readBack;
using testruns::File;
using testruns::Page;
using testruns::Runs;
using testruns::toRuns;
using testruns::writePage;

struct PictureFree {
  void operator()(TPicture* p) const { FreeTPicture(p); }
};
using Picture = std::unique_ptr<TPicture, PictureFree>;

Runs pictureRow(const TPicture* p, int32_t row) {
  std::vector<int32_t> buf(static_cast<size_t>(slineValues(p->width)));
  (void)ExtractRunsTPicture(p, row, buf.data(), 0, p->width - 1);
  return toRuns(buf.data());
}

// Row i holds the single run [2i, 2i + 1): every row tells which input rows an output row collects.
Page ladder(int32_t rows, double dpi) {
  Page page{2 * rows + 8, dpi, dpi, {}};
  for (int32_t i = 0; i < rows; ++i) page.lines.push_back({{2 * i, 2 * i + 1}});
  return page;
}

// The runs of the rows [first, last] of a ladder, OR-ed.
Runs ladderGroup(int32_t first, int32_t last) {
  Runs r;
  for (int32_t i = first; i <= last; ++i) r.emplace_back(2 * i, 2 * i + 1);
  return r;
}

class PictureFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    dir_ = scratch_.path();
    previous_ = fs::current_path();
    fs::current_path(dir_);  // nothing may appear in the working directory
    previousSink_ = rioSetDiagnostics({recordNote, &notes_});
    baseline_ = rioBytesInUse();
    rastClearLastError();
  }
  void TearDown() override {
    rioFailAllocationAfter(-1);
    EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked";
    rioSetDiagnostics(previousSink_);
    EXPECT_FALSE(fs::exists(dir_ / "debug.out")) << "the library writes no file of its own";
    fs::current_path(previous_);
  }
  static void recordNote(void* notes, const char* text) { *static_cast<std::string*>(notes) += text; }

  TPicture* import(const fs::path& path, RasterFormatId format = 0, RastProgressFn progress = nullptr,
                   RasterFormatId* outFormat = nullptr, RastHeaderBlock* header = nullptr) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return nullptr;
    return rastImportImage(f.get(), format, progress, outFormat, header);
  }
  TPicture* importScaled(const fs::path& path, double rowDpi, double columnDpi, RasterFormatId format = 0) {
    File f(std::fopen(path.c_str(), "rb"));
    if (!f) return nullptr;
    return rastImportImage(f.get(), format, nullptr, nullptr, nullptr, rowDpi, columnDpi);
  }
  // The diagnostic notes export handed to the thread's sink.
  std::string notes() const { return notes_; }

  testsupport::ScratchDir scratch_{"vantrel-import"};
  fs::path dir_;
  fs::path previous_;
  int64_t baseline_ = 0;
  std::string notes_;
  DiagnosticsSink previousSink_;
};

// ---- import

TEST_F(PictureFiles, ImportsAPageAsItIs) {
  Page page{100, 300, 150, {{{0, 3}, {10, 20}}, {}, {{5, 100}}, {{1, 2}, {4, 8}, {60, 63}}}};
  writePage(dir_ / "in.rnl", kFormatRunLength, page);
  RasterFormatId format = 0;
  Picture p(import(dir_ / "in.rnl", 0, nullptr, &format));
  ASSERT_TRUE(p);
  EXPECT_EQ(rastGetLastError(), 0);
  EXPECT_EQ(format, kFormatRunLength);
  EXPECT_EQ(p->width, 100);
  EXPECT_EQ(p->height, 4);
  EXPECT_EQ(p->columnDpi, 300.0f);
  EXPECT_EQ(p->rowDpi, 150.0f);
  for (int32_t row = 0; row < 4; ++row) EXPECT_EQ(pictureRow(p.get(), row), page.lines[row]) << row;
}

TEST_F(PictureFiles, ImportHandsBackTheReadersHeaderBlock) {
  Page page = ladder(5, 200);
  writePage(dir_ / "in.cg4", kFormatCals, page);
  RasterFormatId format = 0;
  RastHeaderBlock header;
  Picture p(import(dir_ / "in.cg4", 0, nullptr, &format, &header));
  ASSERT_TRUE(p);
  EXPECT_EQ(format, kFormatCals);
  for (int32_t row = 0; row < 5; ++row) EXPECT_EQ(pictureRow(p.get(), row), page.lines[row]);
  if (header.data) {
    EXPECT_GT(header.length, 0);
    rioFree(header.data);  // the caller owns it
  }
}

TEST_F(PictureFiles, ImportClearsTheLastErrorOnEntry) {
  writePage(dir_ / "in.rnl", kFormatRunLength, ladder(3, 200));
  rastSetError(kRastBadData, "earlier");
  Picture p(import(dir_ / "in.rnl"));
  ASSERT_TRUE(p);
  EXPECT_EQ(rastGetLastError(), 0);
}

TEST_F(PictureFiles, ImportWithoutAFileIsError6) {
  EXPECT_EQ(rastImportImage(nullptr, 0, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastNoStream);
  EXPECT_EQ(rastImportImage(nullptr, 0, nullptr, nullptr, nullptr, 200, 200), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastNoStream);
}

TEST_F(PictureFiles, RotationIsNotSupported) {
  writePage(dir_ / "in.rnl", kFormatRunLength, ladder(3, 200));
  File f(std::fopen((dir_ / "in.rnl").c_str(), "rb"));
  EXPECT_EQ(ImportScaleTPicture(f.get(), 0, nullptr, nullptr, nullptr, 1, 200, 200), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastNotSupported);
}

TEST_F(PictureFiles, UnknownResolutionsImportAtTheirOwnSizeWithTheTargets) {
  Page page = ladder(6, 0);
  writePage(dir_ / "in.dump", kFormatRunDump, page);
  Picture p(importScaled(dir_ / "in.dump", 400, 100, kFormatRunDump));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, page.width);
  EXPECT_EQ(p->height, 6);
  EXPECT_EQ(p->rowDpi, 400.0f);
  EXPECT_EQ(p->columnDpi, 100.0f);
  for (int32_t row = 0; row < 6; ++row) EXPECT_EQ(pictureRow(p.get(), row), page.lines[row]);
}

// Vertical scaling alone (the column target is the input's): which input rows each output row collects.
struct GroupCase {
  const char* label;
  double inDpi;
  double targetRowDpi;
  int32_t rows;
  int32_t outRows;
  std::vector<std::pair<int32_t, int32_t>> groups;  // input rows [first, last] of output rows 0, 1, ...
};

class ImportGroups : public PictureFiles, public ::testing::WithParamInterface<GroupCase> {};

TEST_P(ImportGroups, OutputRowsCollectTheseInputRows) {
  const GroupCase& c = GetParam();
  writePage(dir_ / "in.rnl", kFormatRunLength, ladder(c.rows, c.inDpi));
  Picture p(importScaled(dir_ / "in.rnl", c.targetRowDpi, c.inDpi));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->height, c.outRows);
  EXPECT_EQ(p->rowDpi, static_cast<float>(c.targetRowDpi));
  for (size_t i = 0; i < c.groups.size(); ++i)
    EXPECT_EQ(pictureRow(p.get(), static_cast<int32_t>(i)), ladderGroup(c.groups[i].first, c.groups[i].second))
        << "output row " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Accumulator, ImportGroups,
    ::testing::Values(
        // Step 16384: the first row takes three input rows, every later one two.
        GroupCase{"Halve", 400, 200, 11, 6, {{0, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}},
        // Step 21845: 0-1, 2-3, 4, 5-6, 7, ...
        GroupCase{"TwoThirds", 300, 200, 9, 6, {{0, 1}, {2, 3}, {4, 4}, {5, 6}, {7, 7}, {8, 8}}},
        GroupCase{"Same", 200, 200, 4, 4, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(PictureFiles, DoublingRepeatsEveryRowAndDoublesEveryBoundary) {
  Page page{50, 200, 200, {{{0, 3}, {10, 20}}, {}, {{5, 50}}, {{1, 2}}}};
  writePage(dir_ / "in.rnl", kFormatRunLength, page);
  Picture p(importScaled(dir_ / "in.rnl", 400, 400));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 100);
  EXPECT_EQ(p->height, 8);
  for (int32_t row = 0; row < 8; ++row) {
    Runs expect;
    for (auto [s, e] : page.lines[row / 2]) expect.emplace_back(2 * s, 2 * e);
    EXPECT_EQ(pictureRow(p.get(), row), expect) << row;
  }
}

TEST_F(PictureFiles, ShrinkingKeepsRunsThatCollapse) {
  // At a quarter of the width a one-pixel run falls to nothing; it keeps one pixel, neighbours join.
  Page page{64, 400, 400, {{{1, 2}, {9, 10}, {11, 12}, {40, 48}}}};
  writePage(dir_ / "in.rnl", kFormatRunLength, page);
  Picture p(importScaled(dir_ / "in.rnl", 400, 100));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->width, 16);
  EXPECT_EQ(pictureRow(p.get(), 0), (Runs{{0, 1}, {2, 3}, {10, 12}}));
}

TEST_F(PictureFiles, ScaledSizesBeyondAPictureAreRefused) {
  writePage(dir_ / "in.rnl", kFormatRunLength, ladder(3, 50));
  for (auto [row, column] : {std::pair{1e12, 50.0}, {50.0, 1e12}, {50.0, 0.0}, {0.0, 50.0}}) {
    rastClearLastError();
    EXPECT_EQ(importScaled(dir_ / "in.rnl", row, column), nullptr) << row << " " << column;
    EXPECT_EQ(rastGetLastError(), kRastBadSize);
  }
}

int gCalls = 0;
int stopAtFirst(int32_t, int32_t) {
  ++gCalls;
  return 0;
}
int32_t gLastTotal = 0;
int32_t gLastDone = 0;
int keepGoing(int32_t total, int32_t done) {
  gLastTotal = total;
  gLastDone = done;
  return 1;
}

TEST_F(PictureFiles, ProgressCallbackSeesEveryRow) {
  writePage(dir_ / "in.rnl", kFormatRunLength, ladder(7, 200));
  Picture p(import(dir_ / "in.rnl", 0, keepGoing));
  ASSERT_TRUE(p);
  EXPECT_EQ(gLastTotal, 7);
  EXPECT_EQ(gLastDone, 7);
}

TEST_F(PictureFiles, ProgressCallbackStopsImportAtTheFirstRow) {
  Page page = ladder(5, 200);
  writePage(dir_ / "in.rnl", kFormatRunLength, page);
  gCalls = 0;
  Picture p(import(dir_ / "in.rnl", 0, stopAtFirst));
  ASSERT_TRUE(p);
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(rastGetLastError(), kRastStopped);
  EXPECT_EQ(pictureRow(p.get(), 0), page.lines[0]);
  for (int32_t row = 1; row < p->height; ++row) EXPECT_EQ(pictureRow(p.get(), row), Runs{}) << row;

  gCalls = 0;
  File f(std::fopen((dir_ / "in.rnl").c_str(), "rb"));
  Picture q(rastImportImage(f.get(), 0, stopAtFirst, nullptr, nullptr, 400, 400));
  ASSERT_TRUE(q);
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(rastGetLastError(), kRastStopped);
  EXPECT_EQ(pictureRow(q.get(), 1), pictureRow(q.get(), 0));  // the first row, repeated
  EXPECT_EQ(pictureRow(q.get(), 2), Runs{});
}

// ---- hostile input

std::string fileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void putBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct TruncCase {
  const char* label;
  RasterFormatId format;
  size_t headerBytes;
};

class ImportTruncated : public PictureFiles, public ::testing::WithParamInterface<TruncCase> {};

TEST_P(ImportTruncated, GivesThePartialPictureAndTheMappedError) {
  Page page{300, 200, 200, {}};
  for (int32_t i = 0; i < 200; ++i) page.lines.push_back({{i % 50, i % 50 + 100 + i % 7}, {250, 251 + i % 40}});
  writePage(dir_ / "full", GetParam().format, page);
  const std::string bytes = fileBytes(dir_ / "full");
  const size_t header = GetParam().headerBytes;
  ASSERT_GT(bytes.size(), header + 300);
  putBytes(dir_ / "cut", bytes.substr(0, header + (bytes.size() - header) * 2 / 3));

  const PageRecord readable = readBack(dir_ / "cut");
  const RioStatus endStatus = readable.end;
  ASSERT_NE(endStatus, 0);
  ASSERT_NE(endStatus, kRioEndOfPage);

  Picture p(import(dir_ / "cut"));
  ASSERT_TRUE(p);
  EXPECT_EQ(rastGetLastError(), rastErrorFromStatus(endStatus));
  EXPECT_NE(rastGetLastError(), 0);
  EXPECT_EQ(p->height, 200);
  ASSERT_GT(readable.lines.size(), 10u);
  for (size_t row = 0; row < readable.lines.size(); ++row)
    EXPECT_EQ(pictureRow(p.get(), static_cast<int32_t>(row)), readable.lines[row]) << row;

  // Cut inside the header: no picture, an error.
  putBytes(dir_ / "header", bytes.substr(0, 40));
  rastClearLastError();
  EXPECT_EQ(import(dir_ / "header"), nullptr);
  EXPECT_NE(rastGetLastError(), 0);
}

INSTANTIATE_TEST_SUITE_P(Readers, ImportTruncated,
                         ::testing::Values(TruncCase{"NativeRunLength", kFormatRunLength, 128},
                                           TruncCase{"NativeGroup4", kFormatNativeG4, 128},
                                           TruncCase{"Cals", kFormatCals, 2048}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(PictureFiles, ImportOfGarbageIsABadFormat) {
  putBytes(dir_ / "junk", std::string(500, '\x5A'));
  EXPECT_EQ(import(dir_ / "junk"), nullptr);
  EXPECT_EQ(rastGetLastError(), kRastBadFormat);
  putBytes(dir_ / "empty", "");
  EXPECT_EQ(import(dir_ / "empty"), nullptr);
  EXPECT_NE(rastGetLastError(), 0);
}

// ---- with independent tools (libtiff-tools, netpbm; a missing tool fails the test)

class PictureTools : public PictureFiles {
 protected:
  void SetUp() override {
    PictureFiles::SetUp();
    for (const char* tool : {"pnmtotiff", "tiffcp", "tifftopnm"})
      ASSERT_TRUE(testpbm::toolExists(tool)) << tool << " is missing: install libtiff-tools and netpbm";
  }
  // A Group 4 TIFF of the page, made by netpbm.
  fs::path toolTiff(const testpbm::Bitmap& page) {
    EXPECT_TRUE(testpbm::writePbm(dir_ / "in.pbm", page));
    const fs::path tif = dir_ / "tool.tif";
    EXPECT_EQ(testpbm::runShell("pnmtotiff -g4 -xresolution 150 -yresolution 150 " + testpbm::quoted(dir_ / "in.pbm") + " > " +
                                testpbm::quoted(tif) + " 2>/dev/null"),
              0);
    return tif;
  }
  // The pixels libtiff finds in a TIFF.
  testpbm::Bitmap throughLibtiff(const fs::path& tiff) {
    const fs::path strips = dir_ / "strips.tif";
    const fs::path pnm = dir_ / "back.pnm";
    EXPECT_EQ(testpbm::runShell("tiffcp -c none " + testpbm::quoted(tiff) + " " + testpbm::quoted(strips) +
                                " 2>/dev/null && tifftopnm -quiet " + testpbm::quoted(strips) + " > " +
                                testpbm::quoted(pnm) + " 2>/dev/null"),
              0);
    testpbm::Bitmap back;
    EXPECT_TRUE(testpbm::readPnm(pnm, &back));
    return back;
  }
};

TEST_F(PictureTools, ImportsATiffMadeByNetpbm) {
  const testpbm::Bitmap page = testpbm::makePage(1000, 150, 0x1A2B);
  RasterFormatId format = 0;
  Picture p(import(toolTiff(page), 0, nullptr, &format));
  ASSERT_TRUE(p);
  EXPECT_EQ(rastGetLastError(), 0);
  EXPECT_EQ(format, kFormatTiff);
  EXPECT_EQ(testpbm::difference(testpbm::pageFromPicture(p.get()), page), "equal");
}

TEST_F(PictureTools, DoublesATiffMadeByNetpbmPixelForPixel) {
  const testpbm::Bitmap page = testpbm::makePage(301, 40, 0x77);
  const fs::path tif = toolTiff(page);
  ASSERT_EQ(readBack(tif).xDpi, 150);
  Picture p(importScaled(tif, 300, 300));
  ASSERT_TRUE(p);
  testpbm::Bitmap expect(602, 80);
  for (int32_t y = 0; y < 80; ++y)
    for (int32_t x = 0; x < 602; ++x)
      if (page.black(x / 2, y / 2)) expect.set(x, y);
  EXPECT_EQ(testpbm::difference(testpbm::pageFromPicture(p.get()), expect), "equal");
}

TEST_F(PictureTools, ExportedWindowsReadInLibtiff) {
  const testpbm::Bitmap page = testpbm::makePage(700, 120, 0x5151);
  Picture p(testpbm::pictureFromPage(page));
  ASSERT_TRUE(p);
  const int32_t c0 = 37, r0 = 11, c1 = 650, r1 = 99;
  for (int keep : {0, 1}) {
    SCOPED_TRACE(keep ? "keep origin" : "window alone");
    const fs::path out = dir_ / "out.tif";
    {
      File f(std::fopen(out.c_str(), "wb"));
      const double window[4] = {c0, r0, c1, r1};
      ASSERT_EQ(rastExportImageWindow(f.get(), p.get(), kFormatTiff, nullptr, nullptr, window, keep), 1);
    }
    const int32_t dx = keep ? 0 : c0, dy = keep ? 0 : r0;
    testpbm::Bitmap expect(c1 + 1 - dx, r1 + 1 - dy);
    for (int32_t y = r0; y <= r1; ++y)
      for (int32_t x = c0; x <= c1; ++x)
        if (page.black(x, y)) expect.set(x - dx, y - dy);
    EXPECT_EQ(testpbm::difference(throughLibtiff(out), expect), "equal");
  }
}

// Every allocation in turn fails: the import gives no picture and error 1, and leaks nothing.
TEST_F(PictureFiles, OutOfMemoryAnywhereGivesNoPictureAndError1) {
  Page page{200, 200, 200, {}};
  for (int32_t i = 0; i < 40; ++i) page.lines.push_back({{i, i + 60}, {150, 199}});
  writePage(dir_ / "in.cg4", kFormatCals, page);
  bool succeeded = false;
  for (int64_t n = 0; n < 400 && !succeeded; ++n) {
    for (bool scaled : {false, true}) {
      File f(std::fopen((dir_ / "in.cg4").c_str(), "rb"));
      RastHeaderBlock header;
      rioFailAllocationAfter(n);
      Picture p(scaled ? rastImportImage(f.get(), 0, nullptr, nullptr, &header, 100, 300)
                       : rastImportImage(f.get(), 0, nullptr, nullptr, &header));
      rioFailAllocationAfter(-1);
      if (!p) {
        EXPECT_EQ(header.data, nullptr) << "a failed import hands out no block";
      }
      rioFree(header.data);
      if (p) {
        EXPECT_EQ(rastGetLastError(), 0) << n;
        if (!scaled) succeeded = true;
      } else {
        EXPECT_EQ(rastGetLastError(), kRastOutOfMemory) << "after " << n << " allocations";
      }
      p.reset();
      EXPECT_EQ(rioBytesInUse(), baseline_) << "after " << n << " allocations";
    }
  }
  EXPECT_TRUE(succeeded);
}

// ---- export

Picture picture200x50() {
  Picture p(AllocTPicture(50, 200));
  p->columnDpi = 300;
  p->rowDpi = 150;
  for (int32_t row = 0; row < 50; ++row) {
    std::vector<int32_t> runs = {row, row + 30, 95, 105 + row, 150, 200, -1, -1};
    EXPECT_TRUE(WriteRunsTPicture(p.get(), row, runs.data(), 1));
  }
  return p;
}

struct ExportCase {
  const char* label;
  RasterFormatId format;
  int keepOrigin;
};

class ExportWindow : public PictureFiles, public ::testing::WithParamInterface<ExportCase> {};

TEST_P(ExportWindow, WritesRows10To19Columns100To199) {
  const ExportCase& c = GetParam();
  Picture p = picture200x50();
  {
    File f(std::fopen((dir_ / "out").c_str(), "wb"));
    const double window[4] = {100, 10, 199, 19};
    ASSERT_EQ(rastExportImageWindow(f.get(), p.get(), c.format, nullptr, nullptr, window, c.keepOrigin), 1);
  }
  EXPECT_EQ(rastGetLastError(), 0);
  const PageRecord out = readBack(dir_ / "out");
  EXPECT_EQ(out.end, kRioEndOfPage);
  EXPECT_EQ(out.width, c.keepOrigin ? 200 : 100);
  ASSERT_EQ(out.lines.size(), c.keepOrigin ? 20u : 10u);
  const int32_t dx = c.keepOrigin ? 0 : 100;
  const size_t first = c.keepOrigin ? 10 : 0;
  for (size_t i = 0; i < first; ++i) EXPECT_EQ(out.lines[i], Runs{}) << i;
  for (int32_t row = 10; row < 20; ++row) {
    // Picture row: [row, row + 30), [95, 105 + row), [150, 200); inside columns 100..199.
    Runs expect = {{100 - dx, 105 + row - dx}, {150 - dx, 200 - dx}};
    EXPECT_EQ(out.lines[first + static_cast<size_t>(row - 10)], expect) << row;
  }
  EXPECT_EQ(notes(), "");
}

INSTANTIATE_TEST_SUITE_P(Formats, ExportWindow,
                         ::testing::Values(ExportCase{"RunLengthWindow", kFormatRunLength, 0},
                                           ExportCase{"RunLengthKeepOrigin", kFormatRunLength, 1},
                                           ExportCase{"Group4Window", kFormatNativeG4, 0},
                                           ExportCase{"CalsKeepOrigin", kFormatCals, 1}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(PictureFiles, ExportsTheWholePictureWithItsResolutions) {
  Picture p = picture200x50();
  {
    File f(std::fopen((dir_ / "out").c_str(), "wb"));
    ASSERT_EQ(rastExportImage(f.get(), p.get(), kFormatNativeG4, nullptr, nullptr), 1);
  }
  const PageRecord out = readBack(dir_ / "out");
  EXPECT_EQ(out.width, 200);
  EXPECT_EQ(out.xDpi, 300);
  EXPECT_EQ(out.yDpi, 150);
  ASSERT_EQ(out.lines.size(), 50u);
  for (int32_t row = 0; row < 50; ++row) EXPECT_EQ(out.lines[row], pictureRow(p.get(), row)) << row;
}

TEST_F(PictureFiles, ImportThenExportGivesTheSameLines) {
  Page page{777, 200, 200, {}};
  for (int32_t i = 0; i < 90; ++i) page.lines.push_back({{i * 3 % 400, i * 3 % 400 + 5 + i}, {700, 777}});
  writePage(dir_ / "in.cg4", kFormatCals, page);
  Picture p(import(dir_ / "in.cg4"));
  ASSERT_TRUE(p);
  {
    File f(std::fopen((dir_ / "out.rnl").c_str(), "wb"));
    ASSERT_EQ(rastExportImage(f.get(), p.get(), kFormatRunLength, nullptr, nullptr), 1);
  }
  EXPECT_EQ(readBack(dir_ / "out.rnl").lines, page.lines);
}

TEST_F(PictureFiles, WindowsOutsideOrInvertedAreError8AndTouchNothing) {
  Picture p = picture200x50();
  const double windows[][4] = {{0, 0, 200, 49},  {0, 0, 199, 50},  {-1, 0, 10, 10}, {0, -0.5, 10, 10},
                               {20, 0, 10, 10}, {0, 20, 10, 10}, {0, 0, NAN, 10}};
  for (const auto& w : windows) {
    File f(std::fopen((dir_ / "out").c_str(), "wb"));
    rastClearLastError();
    EXPECT_EQ(rastExportImageWindow(f.get(), p.get(), kFormatRunLength, nullptr, nullptr, w, 0), 0);
    EXPECT_EQ(rastGetLastError(), kRastOutOfRange) << w[0] << " " << w[1] << " " << w[2] << " " << w[3];
    f.reset();
    EXPECT_EQ(fs::file_size(dir_ / "out"), 0u);
  }
  // The window routine itself refuses an inverted window too.
  File f(std::fopen((dir_ / "out").c_str(), "wb"));
  EXPECT_EQ(ExportTPictureWindow(f.get(), p.get(), kFormatRunLength, nullptr, nullptr, 10, 0, 5, 20, 0), 0);
  EXPECT_EQ(rastGetLastError(), kRastOutOfRange);
  EXPECT_EQ(rastExportImage(f.get(), nullptr, kFormatRunLength, nullptr, nullptr), 0);
  EXPECT_EQ(rastGetLastError(), kRastNoPicture);
  EXPECT_EQ(rastExportImage(nullptr, p.get(), kFormatRunLength, nullptr, nullptr), 0);
  EXPECT_EQ(rastGetLastError(), kRastNoStream);
}

TEST_F(PictureFiles, ProgressCallbackStopsExportWithError20AndANote) {
  Picture p = picture200x50();
  gCalls = 0;
  {
    File f(std::fopen((dir_ / "out").c_str(), "wb"));
    EXPECT_EQ(rastExportImage(f.get(), p.get(), kFormatRunLength, nullptr, stopAtFirst), 0);
  }
  EXPECT_EQ(gCalls, 1);
  EXPECT_EQ(rastGetLastError(), kRastStopped);
  EXPECT_EQ(notes(), "Failed in SOURCE\\tileio line 670\n");
  EXPECT_LT(readBack(dir_ / "out").lines.size(), 50u);
}

TEST_F(PictureFiles, ALostOutputIsError15AndANote) {
  Picture p = picture200x50();
  File f(std::fopen("/dev/full", "wb"));
  ASSERT_TRUE(f) << "needs /dev/full";
  EXPECT_EQ(rastExportImage(f.get(), p.get(), kFormatRunLength, nullptr, nullptr), 0);
  EXPECT_NE(rastGetLastError(), 0);
  EXPECT_NE(notes().find("tileio line 674\n"), std::string::npos) << notes();
}

TEST_F(PictureFiles, AWriteErrorIsReportedWithItsStatus) {
  // A page wider than a buffer per line: the stream flushes into a read-only handle during the rows.
  Picture p(AllocTPicture(40, 30000));
  for (int32_t row = 0; row < 40; ++row) {
    std::vector<int32_t> runs;
    for (int32_t x = row % 2; x + 1 < 30000; x += 4) runs.insert(runs.end(), {x, x + 1});
    runs.insert(runs.end(), {-1, -1});
    ASSERT_TRUE(WriteRunsTPicture(p.get(), row, runs.data(), 1));
  }
  putBytes(dir_ / "ro", "");
  File f(std::fopen((dir_ / "ro").c_str(), "rb"));
  EXPECT_EQ(rastExportImage(f.get(), p.get(), kFormatRunLength, nullptr, nullptr), 0);
  EXPECT_NE(rastGetLastError(), 0);
  const std::string n = notes();
  EXPECT_NE(n.find("tileio line "), std::string::npos) << n;
  EXPECT_EQ(n.find('\t'), std::string::npos) << "a backslash, not a tab";
}

TEST_F(PictureFiles, AFormatThatCannotWriteIsError10AndANote) {
  Picture p = picture200x50();
  File f(std::fopen((dir_ / "out").c_str(), "wb"));
  EXPECT_EQ(rastExportImage(f.get(), p.get(), 2, nullptr, nullptr), 0);
  EXPECT_EQ(rastGetLastError(), kRastNotSupported);
  EXPECT_EQ(notes(), "Failed in SOURCE\\tileio line 602\n");
}

TEST_F(PictureFiles, ExportHandsTheHeaderBlockToTheWriter) {
  Page page = ladder(4, 200);
  writePage(dir_ / "in.rnl", kFormatRunLength, page);
  RastHeaderBlock header;
  Picture p(import(dir_ / "in.rnl", 0, nullptr, nullptr, &header));
  ASSERT_TRUE(p);
  {
    File f(std::fopen((dir_ / "out.rnl").c_str(), "wb"));
    EXPECT_EQ(rastExportImage(f.get(), p.get(), kFormatRunLength, &header, nullptr), 1);
  }
  rioFree(header.data);
  EXPECT_EQ(readBack(dir_ / "out.rnl").lines, page.lines);
}

}  // namespace
}  // namespace vantrel
