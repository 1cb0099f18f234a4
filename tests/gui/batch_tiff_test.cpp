// The batch run copying Group 4 TIFFs made by libtiff's tools (a multi-strip page, and pages wider than
// 32767 and than 65534 pixels) into every format of the list that the library reads and writes, each
// read back equal to the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "formats/registry.h"
#include "gui/batch.h"
#include "gui/summary.h"
#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::FakeBatchUi;
using testing::ScratchFolder;
using testruns::Page;
using testruns::Runs;

// A drawing-like page: a frame, a staircase of short runs and long horizontal lines.
Page sourcePage(int32_t width, int32_t height) {
  Page page{width, 0, 0, {}};
  for (int32_t y = 0; y < height; ++y) {
    Runs runs;
    if (y == 0 || y == height - 1 || y % 37 == 5) {
      runs.push_back({0, width});
    } else {
      runs.push_back({0, 2});
      for (int32_t x = 10 + (y * 13) % 97; x + 5 < width - 3; x += 997 + y % 7)
        runs.push_back({x, x + 1 + y % 5});
      runs.push_back({width - 3, width});
    }
    page.lines.push_back(std::move(runs));
  }
  return page;
}

void writePbm(const std::string& path, const Page& page) {
  const size_t rowBytes = (static_cast<size_t>(page.width) + 7) / 8;
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << page.width << " " << page.lines.size() << "\n";
  std::string row(rowBytes, '\0');
  for (const Runs& runs : page.lines) {
    std::fill(row.begin(), row.end(), '\0');
    for (auto [s, e] : runs)
      for (int32_t x = s; x < e; ++x) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    out.write(row.data(), static_cast<std::streamsize>(rowBytes));
  }
}

// Formats whose headers or records cannot hold every column: the native run-length format's pixel
// indexes have 15 bits and Image Systems run-length stops at 65534 columns, both cutting the runs at
// the edge (their last column follows each format's own rule, so it is not compared); Intergraph CIT's
// 16-bit width refuses a wider page.
struct ColumnLimit {
  int32_t columns = INT32_MAX;
  bool refuses = false;
};

ColumnLimit columnLimit(const std::string& rofName) {
  if (rofName == "rnl") return {32767, true};
  if (rofName == "rlc") return {65534, true};
  if (rofName == "cit") return {65535, true};
  if (rofName == "pcx") return {65536, true};
  return {};
}

Runs clipped(const Runs& runs, int32_t limit) {
  Runs out;
  for (auto [s, e] : runs)
    if (s < limit) out.push_back({s, std::min(e, limit)});
  return out;
}

struct TiffCase {
  const char* label;
  int32_t width;
  int32_t height;
  int32_t rowsPerStrip;
};

void PrintTo(const TiffCase& c, std::ostream* os) {
  *os << c.width << "x" << c.height << ", " << c.rowsPerStrip << " rows per strip";
}

class BatchCopiesTiff : public ::testing::TestWithParam<TiffCase> {};

TEST_P(BatchCopiesTiff, IntoEveryReadableFormatOfTheList) {
  ScratchFolder scratch;
  const TiffCase& c = GetParam();
  const Page source = sourcePage(c.width, c.height);
  writePbm(scratch.at("in.pbm"), source);
  const std::string tiff = scratch.at("in.tif");
  const std::string command = "pnmtotiff -g4 -rowsperstrip " + std::to_string(c.rowsPerStrip) + " " +
                              scratch.at("in.pbm") + " > " + tiff + " 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command << " (libtiff-tools and netpbm come from setup.sh)";

  int formats = 0;
  for (const OutputFormatRow& row : outputFormatRows()) {
    const FormatInfo& info = rioFormatInfo(rioFormatFromName(row.rofName));
    if (!info.reads || !info.writes) continue;
    SCOPED_TRACE(row.displayName);
    ++formats;
    const std::string folder = scratch.at(row.rofName);
    std::filesystem::create_directory(folder);
    BatchPlan plan;
    plan.inputs = {tiff};
    plan.row = row;
    plan.useInputDir = false;
    plan.outputDir = folder + "/";
    FakeBatchUi ui;
    bool ask = true;
    const BatchSummary summary = runBatch(plan, ui, {}, &ask);
    const std::string output = outputPathFor(tiff, false, plan.outputDir, row.extension);
    const ColumnLimit limit = columnLimit(row.rofName);
    if (c.width > limit.columns && limit.refuses) {
      EXPECT_EQ(summary.completed, 0);
      EXPECT_EQ(summary.files[0].cause, "too many or too few columns");
      EXPECT_FALSE(std::filesystem::exists(output));
      continue;
    }
    ASSERT_EQ(summary.completed, 1) << summary.files[0].cause;
    // Formats without a magic are read back by name, as the batch translator reads them.
    const RasterFormatId id = rioFormatFromName(row.rofName);
    const testread::PageRecord back = testread::readBack(output, info.byNameOnly ? id : 0);
    const int32_t compared = c.width > limit.columns ? limit.columns - 1 : c.width;
    if (c.width <= limit.columns) {
      EXPECT_EQ(back.width, c.width);
    }
    ASSERT_EQ(back.lines.size(), source.lines.size());
    for (size_t y = 0; y < source.lines.size(); ++y)
      ASSERT_EQ(clipped(back.lines[y], compared), clipped(source.lines[y], compared)) << "row " << y;
  }
  EXPECT_GE(formats, 9) << "the native, CALS, TIFF and MMR rows read and write";
}

INSTANTIATE_TEST_SUITE_P(Pages, BatchCopiesTiff,
                         ::testing::Values(TiffCase{"MultiStrip", 1728, 300, 16},
                                           TiffCase{"Wider32767", 40000, 40, 8},
                                           TiffCase{"Wider65534", 70000, 24, 24}),
                         [](const auto& info) { return std::string(info.param.label); });

// A TIFF of three pages: with All pages on, the TIFF and PDF rows take every page; a row of one page, or
// All pages off, takes page 1 and the summary says so.
TEST(BatchMultiPage, AllPagesIntoTiffAndPdfRowsPageOneElsewhere) {
  ScratchFolder scratch;
  std::string pages;
  for (int32_t i = 0; i < 3; ++i) {
    const std::string pbm = scratch.at("p" + std::to_string(i) + ".pbm");
    const std::string tif = scratch.at("p" + std::to_string(i) + ".tif");
    writePbm(pbm, sourcePage(200 + 50 * i, 100 + 10 * i));
    ASSERT_EQ(std::system(("pnmtotiff -g4 " + pbm + " > " + tif + " 2>/dev/null").c_str()), 0);
    pages += " " + tif;
  }
  const std::string tiff = scratch.at("doc.tif");
  ASSERT_EQ(std::system(("tiffcp" + pages + " " + tiff).c_str()), 0);
  std::filesystem::create_directory(scratch.at("out"));
  const struct {
    const char* rofName;
    bool allPages;
    int32_t pagesWritten;  // 0: the output is not read back (PDF)
    bool noted;
  } cases[] = {{"tiffg4", true, 3, false}, {"pdf", true, 0, false}, {"tiffg4", false, 1, true},
               {"calsg4", true, 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.rofName) + (c.allPages ? ", All pages" : ""));
    BatchPlan plan;
    plan.inputs = {tiff};
    for (const OutputFormatRow& row : outputFormatRows())
      if (std::string(row.rofName) == c.rofName) plan.row = row;
    plan.useInputDir = false;
    plan.outputDir = scratch.at("out") + "/";
    plan.allPages = c.allPages;
    FakeBatchUi ui;
    bool ask = false;
    const BatchSummary summary = runBatch(plan, ui, {}, &ask);
    ASSERT_EQ(summary.completed, 1) << summary.files[0].cause;
    EXPECT_EQ(summary.files[0].note.find("holds 3 pages; page 1 translated") != std::string::npos, c.noted)
        << summary.files[0].note;
    if (c.noted) {
      EXPECT_NE(summaryText(summary).find("page 1 translated"), std::string::npos);
    }
    const std::string output = outputPathFor(tiff, false, plan.outputDir, plan.row.extension);
    for (int32_t page = 0; page < c.pagesWritten; ++page) {
      testread::ReadOptions options;
      options.page = page;
      const testread::PageRecord back = testread::readBack(output, 0, options);
      ASSERT_EQ(back.open, 0) << "page " << page + 1;
      EXPECT_EQ(back.width, 200 + 50 * page);
      EXPECT_EQ(back.lines.size(), static_cast<size_t>(100 + 10 * page));
    }
    testread::ReadOptions past;
    past.page = c.pagesWritten;
    if (c.pagesWritten > 0) {
      EXPECT_NE(testread::readBack(output, 0, past).open, 0);
    }
  }
}

}  // namespace
}  // namespace vantrel::gui
