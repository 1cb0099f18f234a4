// The fixture of the tests that go through real files: a scratch folder of the test's own, removed after
// it, a check that the test gave back all accounted memory, files saved and loaded as bytes, and pages
// written line by line through a driver whose own status and warnings the tests inspect (read_back.h reads
// them back).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "rio/alloc.h"
#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/read_back.h"
#include "tests/support/scratch_dir.h"

namespace vantrel::testfiles {

namespace fs = std::filesystem;

using Bytes = std::vector<uint8_t>;
using Runs = testread::Runs;

inline Bytes loadBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool saveBytes(const fs::path& p, const Bytes& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Puts the runs into a line buffer and ends it.
inline void putRuns(int32_t* line, const Runs& runs) {
  for (auto [s, e] : runs) *line++ = s, *line++ = e;
  line[0] = line[1] = kSlineEnd;
}

// ---- through a driver

struct DriverWrite {
  RioStatus open = 0;
  std::vector<RioStatus> lineResults;
  int32_t width = 0;  // the RCB's after open
  double xDpi = 0;    // the RCB's after the lines
  double yDpi = 0;
  RioStatus status = 0;  // the RCB's after the driver's finish and close
  RioStatus warning = 0;
  Bytes bytes;
};

// Writes the lines with the driver of `format`; `setup` runs before the first line. The driver is
// finished and closed by hand, so status and warning are its own before the core's close.
inline DriverWrite writeWithDriver(const fs::path& p, RasterFormatId format, int32_t width, int32_t height,
                                   const std::vector<Runs>& lines,
                                   const std::function<void(RCB*)>& setup = {}, bool swapLines = true) {
  DriverWrite w;
  std::FILE* f = std::fopen(p.c_str(), "wb");
  EXPECT_NE(f, nullptr) << p;
  if (!f) return w;
  RasterStream* out = streamOpen(f, "w");
  if (RCB* rcb = rioOpenRasterWrite(out, width, height, format, &w.open)) {
    w.width = rcb->width;
    if (setup) setup(rcb);
    for (const Runs& line : lines) {
      putRuns(rcb->curSline, line);
      w.lineResults.push_back(rioWriteRasterSline(rcb));
      if (swapLines) rioSwapSlines(rcb);  // a two-dimensional coder takes the previous line as reference
    }
    w.xDpi = rcb->xDpi;
    w.yDpi = rcb->yDpi;
    const FormatDriver* d = rioFormatDriver(format);
    (void)d->finishWrite(rcb);
    (void)d->close(rcb);
    w.status = rcb->status;
    w.warning = rcb->warning;
    rcb->outFormat = 0;  // finishWrite has run: the core's close must not run it again
    (void)rioCloseRaster(rcb);
  }
  EXPECT_EQ(streamClose(out), 1);
  std::fclose(f);
  w.bytes = loadBytes(p);
  return w;
}

// ---- the fixture

// A scratch folder named after the test, made fresh in SetUp and removed in TearDown, which also checks
// that the test gave back every accounted byte.
class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    baseline_ = rioBytesInUse();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "-" + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    scratch_ = std::make_unique<testsupport::ScratchDir>("vantrel-" + name);
    ASSERT_TRUE(scratch_->ok()) << name;
    dir_ = scratch_->path();
  }
  void TearDown() override {
    scratch_.reset();
    EXPECT_EQ(rioBytesInUse(), baseline_) << "accounted memory leaked";
  }

  // A new file name in the folder: the stem and a number.
  fs::path fresh(const std::string& stem = "out") { return dir_ / (stem + std::to_string(files_++)); }
  fs::path save(const Bytes& bytes) { return save(fresh("in"), bytes); }
  fs::path save(const fs::path& p, const Bytes& bytes) {
    EXPECT_TRUE(saveBytes(p, bytes)) << p;
    return p;
  }
  static Bytes load(const fs::path& p) { return loadBytes(p); }

  std::unique_ptr<testsupport::ScratchDir> scratch_;
  fs::path dir_;
  int files_ = 0;
  int64_t baseline_ = 0;
};

}  // namespace vantrel::testfiles
