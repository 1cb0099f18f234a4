// Shared pieces of the tests that check our files against independent tools: 1-bit pages as packed rows,
// raw PBM and PGM files, a generated drawing-like page, shell commands, a scratch folder, and pages written
// through the library (tests/support/read_back.h reads them back).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "formats/open.h"
#include "rio/rcb.h"
#include "rio/sline.h"
#include "rio/stream.h"
#include "tests/support/scratch_dir.h"

namespace vantrel::testpbm {

namespace fs = std::filesystem;

// A 1-bit page: rows of (width + 7) / 8 bytes, most significant bit leftmost, 1 = black, pad bits 0.
struct Bitmap {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> bits;

  Bitmap() = default;
  Bitmap(int32_t w, int32_t h) : width(w), height(h), bits(static_cast<size_t>(rowBytes()) * h, 0) {}
  int32_t rowBytes() const { return (width + 7) / 8; }
  uint8_t* row(int32_t y) { return bits.data() + static_cast<size_t>(y) * rowBytes(); }
  const uint8_t* row(int32_t y) const { return bits.data() + static_cast<size_t>(y) * rowBytes(); }
  bool black(int32_t x, int32_t y) const { return (row(y)[x / 8] >> (7 - x % 8)) & 1; }
  void set(int32_t x, int32_t y) { row(y)[x / 8] = static_cast<uint8_t>(row(y)[x / 8] | (0x80 >> (x % 8))); }
  void fill(int32_t x0, int32_t x1, int32_t y) {
    for (int32_t x = std::max(x0, 0); x < std::min(x1, width); ++x) set(x, y);
  }
  int64_t blackCount() const {
    int64_t n = 0;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) n += black(x, y);
    return n;
  }
  bool operator==(const Bitmap&) const = default;
  friend void PrintTo(const Bitmap& page, std::ostream* os) {
    *os << page.width << "x" << page.height << ", " << page.blackCount() << " black";
  }
};

// "equal", or where the first difference is: sizes, or the first pixel that differs.
inline std::string difference(const Bitmap& got, const Bitmap& want) {
  if (got.width != want.width || got.height != want.height)
    return "size " + std::to_string(got.width) + "x" + std::to_string(got.height) + ", expected " +
           std::to_string(want.width) + "x" + std::to_string(want.height);
  int64_t differing = 0;
  std::string first;
  for (int32_t y = 0; y < want.height; ++y)
    for (int32_t x = 0; x < want.width; ++x)
      if (got.black(x, y) != want.black(x, y)) {
        if (differing++ == 0)
          first = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is " +
                  (got.black(x, y) ? "black" : "white");
      }
  if (differing == 0) return "equal";
  return first + "; " + std::to_string(differing) + " pixels differ";
}

// The page padded with white (or cut) to a new width.
inline Bitmap widened(const Bitmap& page, int32_t width) {
  Bitmap out(width, page.height);
  for (int32_t y = 0; y < page.height; ++y)
    for (int32_t x = 0; x < std::min(width, page.width); ++x)
      if (page.black(x, y)) out.set(x, y);
  return out;
}

inline uint64_t splitmix(uint64_t& state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A drawing-like page with the rows coders find hard: box outlines and lines, noise rows of short runs,
// all-black rows, pixels at both edges, and long runs of both colours for the makeup codes.
inline Bitmap makePage(int32_t width, int32_t height, uint64_t seed) {
  uint64_t s = seed;
  auto below = [&](int64_t n) {
    return n <= 1 ? 0 : static_cast<int32_t>(splitmix(s) % static_cast<uint64_t>(n));
  };
  Bitmap page(width, height);
  auto box = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    for (int32_t y = std::max(y0, 0); y < std::min(y1, height); ++y) page.fill(x0, x1, y);
  };
  for (int i = 0; i < 6 + width / 200; ++i) {
    const int32_t x = below(width), y = below(height), w = 1 + below(width), h = 1 + below(height);
    const int32_t t = 1 + below(4);
    switch (below(4)) {
      case 0:
        box(x, y, x + w, y + t);
        box(x, y + h - t, x + w, y + h);
        box(x, y, x + t, y + h);
        box(x + w - t, y, x + w, y + h);
        break;
      case 1:
        box(x, y, x + w, y + t);
        break;
      case 2:
        box(x, y, x + t, y + h);
        break;
      default:
        box(x, y, x + 1 + below(40), y + 1 + below(20));
        break;
    }
  }
  for (int32_t y = 0; y < height; ++y) {
    if (below(10) == 0)
      for (int32_t x = 0; x < width; x += 1 + below(8))
        page.row(y)[x / 8] ^= static_cast<uint8_t>(0x80 >> (x % 8));
    if (below(30) == 0) page.fill(0, width, y);
    if (below(8) == 0) page.set(0, y);
    if (below(8) == 0) page.set(width - 1, y);
  }
  page.fill(0, width, height / 2);
  page.fill(width / 5, width - width / 7, height / 3);
  std::fill(page.row(height / 4), page.row(height / 4) + page.rowBytes(), 0);
  return page;
}

inline std::vector<uint8_t> readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool writeBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

inline bool writePbm(const fs::path& path, const Bitmap& page) {
  std::ofstream out(path, std::ios::binary);
  out << "P4\n" << page.width << " " << page.height << "\n";
  out.write(reinterpret_cast<const char*>(page.bits.data()), static_cast<std::streamsize>(page.bits.size()));
  return static_cast<bool>(out);
}

// Raw PBM (P4) or raw PGM (P5, one byte a sample: darker than half the maximum is black). Pad bits of a
// PBM are cleared.
inline bool readPnm(const fs::path& path, Bitmap* page) {
  const std::vector<uint8_t> data = readBytes(path);
  size_t at = 0;
  auto token = [&]() {
    while (at < data.size() && (std::isspace(data[at]) || data[at] == '#')) {
      if (data[at] == '#')
        while (at < data.size() && data[at] != '\n') ++at;
      else
        ++at;
    }
    std::string t;
    while (at < data.size() && !std::isspace(data[at])) t += static_cast<char>(data[at++]);
    return t;
  };
  const std::string magic = token();
  if (magic != "P4" && magic != "P5") return false;
  const std::string w = token(), h = token();
  if (w.empty() || h.empty() || w.size() > 8 || h.size() > 8) return false;
  int32_t maxval = 1;
  if (magic == "P5") {
    const std::string m = token();
    if (m.empty() || m.size() > 3) return false;
    maxval = std::stoi(m);
    if (maxval < 1 || maxval > 255) return false;
  }
  ++at;  // the one white-space byte before the raster
  *page = Bitmap(std::stoi(w), std::stoi(h));
  if (magic == "P4") {
    if (data.size() < at + page->bits.size()) return false;
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), page->bits.size(), page->bits.begin());
    if (const int spare = page->width % 8)
      for (int32_t y = 0; y < page->height; ++y)
        page->row(y)[page->rowBytes() - 1] &= static_cast<uint8_t>(0xFF << (8 - spare));
    return true;
  }
  if (data.size() < at + static_cast<size_t>(page->width) * page->height) return false;
  for (int32_t y = 0; y < page->height; ++y)
    for (int32_t x = 0; x < page->width; ++x)
      if (2 * data[at + static_cast<size_t>(y) * page->width + x] < maxval) page->set(x, y);
  return true;
}

// Raw PBM (P4) only.
inline bool readPbm(const fs::path& path, Bitmap* page) {
  const std::vector<uint8_t> data = readBytes(path);
  return data.size() >= 2 && data[0] == 'P' && data[1] == '4' && readPnm(path, page);
}

// ---- shell commands

inline std::string quoted(const fs::path& p) {
  return "'" + p.string() + "'";
}

// Exit status of a shell command, -1 when it did not exit normally.
inline int runShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Standard output of a shell command (add 2>&1 for the error output too).
inline std::string capture(const std::string& command, int* exitStatus = nullptr) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  const int status = pclose(p);
  if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return out;
}

inline bool toolExists(const std::string& tool) {
  return runShell("command -v " + tool + " >/dev/null 2>&1") == 0;
}

using testsupport::ScratchDir;

// ---- pages through the library

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Writes the page through the writer of `format`; the RCB's status, or -999 when the file is not written.
inline RioStatus writeThroughLibrary(const fs::path& path, RasterFormatId format, const Bitmap& page,
                                     double xDpi, double yDpi, const RioSettings* settings = nullptr) {
  FilePtr file(std::fopen(path.c_str(), "wb"));
  if (!file) return -999;
  RasterStream* stream = streamOpen(file.get(), "w", settings);
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(stream, page.width, page.height, format, &status);
  if (rcb) {
    (void)rioSetXDpi(rcb, xDpi);
    (void)rioSetYDpi(rcb, yDpi);
    for (int32_t y = 0; y < page.height && status == 0; ++y) {
      int32_t* p = rioGetCurSline(rcb);
      for (int32_t x = 0; x < page.width;) {
        if (!page.black(x, y)) {
          ++x;
          continue;
        }
        *p++ = x;
        while (x < page.width && page.black(x, y)) ++x;
        *p++ = x;
      }
      p[0] = p[1] = kSlineEnd;
      status = rioWriteRasterSline(rcb);
      rioSwapSlines(rcb);  // the two-dimensional coder takes the previous line as its reference
    }
    if (status == 0) status = rioGetStatus(rcb);
    const RioStatus closed = rioCloseRaster(rcb);
    if (status == 0) status = closed;
  }
  if (streamClose(stream) != 1 && status == 0) status = -999;
  return status;
}

inline RioStatus writeThroughLibrary(const fs::path& path, RasterFormatId format, const Bitmap& page,
                                     double dpi, const RioSettings* settings = nullptr) {
  return writeThroughLibrary(path, format, page, dpi, dpi, settings);
}

}  // namespace vantrel::testpbm
