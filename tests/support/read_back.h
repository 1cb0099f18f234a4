// The one read-back helper of the tests: a file, or bytes held in memory, opened with a reading RCB (format
// 0: recognise it) and read to the end as a translation reads it, the reference line swapped in after every
// line. The result is a page record with what the open answered, every header field the RCB carries, the
// lines as run lists (or as a bitmap), and the status and warnings the run ended with.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "formats/registry.h"
#include "formats/open.h"
#include "formats/pages.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/pbm.h"

namespace vantrel::testread {

namespace fs = std::filesystem;

using Runs = std::vector<std::pair<int32_t, int32_t>>;
using Bytes = std::vector<uint8_t>;

inline constexpr RioStatus kNoFile = -999;  // the file could not be opened: no RCB was tried

struct ReadOptions {
  int32_t maxLines = 1 << 20;  // a hostile height must not keep a test going
  int32_t page = 0;            // the page of the document read, from 0
};

struct PageRecord {
  RioStatus open = 0;         // what the open (and the header) answered
  RioStatus end = 0;          // the RCB's status after the last line: -1 is a normal end of page
  RioStatus lineWarning = 0;  // the first warning after the last line
  RioStatus warning = 0;      // the first warning once the reader's own close has run
  RasterFormatId format = 0;  // the reader the RCB chose
  int32_t width = 0;
  int32_t height = 0;
  double xDpi = 0;
  double yDpi = 0;
  int32_t rorient[2] = {0, 0};
  int32_t attribute = 0;
  int32_t xExtent = 0;
  int32_t yExtent = 0;
  std::string makerTag;
  std::string srcdocid;
  std::string notes;
  Bytes extra;  // the extra-header block
  std::vector<Runs> lines;

  // The lines as a bitmap of the header's width, as many rows as were read; runs are cut to the width.
  testpbm::Bitmap bitmap() const {
    testpbm::Bitmap page(width, static_cast<int32_t>(lines.size()));
    for (size_t y = 0; y < lines.size(); ++y)
      for (auto [s, e] : lines[y]) page.fill(s, e, static_cast<int32_t>(y));
    return page;
  }
};

inline Runs toRuns(const int32_t* p) {
  Runs r;
  for (; p[0] != kSlineEnd; p += 2) r.emplace_back(p[0], p[1]);
  return r;
}

// The black runs of pixels [left, left + width) of a page row (clipped to the page), shifted to start at 0.
inline Runs runsOf(const testpbm::Bitmap& page, int32_t y, int32_t left = 0, int32_t width = INT32_MAX) {
  Runs runs;
  const int32_t end = static_cast<int32_t>(std::min<int64_t>(int64_t{left} + width, page.width));
  for (int32_t x = left; x < end;) {
    if (!page.black(x, y)) {
      ++x;
      continue;
    }
    const int32_t s = x;
    while (x < end && page.black(x, y)) ++x;
    runs.emplace_back(s - left, x - left);
  }
  return runs;
}

// Reads everything from a stream positioned at the first byte.
inline PageRecord readBack(RasterStream* in, RasterFormatId format, const ReadOptions& options = {}) {
  PageRecord r;
  RCB* rcb = rioOpenRasterRead(in, format, &r.open);
  if (!rcb) return r;
  if (options.page > 0 && (r.open = rioReadPage(rcb, options.page)) != 0) {
    (void)rioCloseRaster(rcb);
    return r;
  }
  r.format = rioGetInFormat(rcb);
  r.width = rioGetWidth(rcb);
  r.height = rioGetHeight(rcb);
  r.xDpi = rioGetXDpi(rcb);
  r.yDpi = rioGetYDpi(rcb);
  r.rorient[0] = rioGetRorient(rcb, 0);
  r.rorient[1] = rioGetRorient(rcb, 1);
  r.attribute = rioGetAttribute(rcb);
  r.xExtent = rioGetXExtent(rcb);
  r.yExtent = rioGetYExtent(rcb);
  char tag[5] = {};
  rioGetMakerTag(rcb, tag);
  r.makerTag.assign(tag, 4);
  r.srcdocid = rioGetCalsText(rcb, CalsText::kSrcdocid);
  r.notes = rioGetCalsText(rcb, CalsText::kNotes);
  if (const uint8_t* extra = rioGetExtraHeader(rcb))
    r.extra.assign(extra, extra + rioGetExtraHeaderLength(rcb));
  for (int32_t n = 0; n < options.maxLines; ++n) {
    Sline line = rioReadRasterSline(rcb);
    if (!line) break;
    r.lines.push_back(toRuns(line));
    rioSwapSlines(rcb);  // the line just read is the next line's reference
  }
  r.end = rioGetStatus(rcb);
  r.lineWarning = rioGetWarning(rcb);
  // The reader's close checks the line count; it runs here, by hand, so that its warning can be seen.
  (void)rioFormatDriver(r.format)->close(rcb);
  r.warning = rioGetWarning(rcb);
  rcb->inFormat = 0;  // closed already: the core's close must not close it again
  (void)rioCloseRaster(rcb);
  return r;
}

inline PageRecord fileNotOpened() {
  PageRecord r;
  r.open = kNoFile;
  return r;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

inline PageRecord readBack(const fs::path& path, RasterFormatId format = 0, const ReadOptions& options = {}) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return fileNotOpened();
  StreamPtr stream(streamOpen(file.get(), "r"));
  return readBack(stream.get(), format, options);
}

inline PageRecord readBackBytes(const Bytes& bytes, RasterFormatId format = 0,
                                const ReadOptions& options = {}) {
  std::unique_ptr<std::FILE, FileCloser> file(std::tmpfile());
  if (!file || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()))
    return fileNotOpened();
  std::rewind(file.get());
  StreamPtr stream(streamOpen(file.get(), "r"));
  return readBack(stream.get(), format, options);
}

inline PageRecord readBackBytes(const std::string& bytes, RasterFormatId format = 0,
                                const ReadOptions& options = {}) {
  return readBackBytes(Bytes(bytes.begin(), bytes.end()), format, options);
}

}  // namespace vantrel::testread
