// Shared pieces of the fax codec tests: run lists and line buffers, streams over bytes in memory, bit
// strings written with the T.4 and T.6 code words, seeded drawing-like pages and the encoders run over them.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/rng.h"
#include "codec/fax.h"
#include "rio/sline.h"
#include "rio/stream.h"

namespace vantrel::testfax {

using Runs = std::vector<int32_t>;  // (start, end) pairs, no terminator

// An RCB-style line buffer: the (0, 0) sentinel pair, then room for a line of `width` pixels.
class LineBuffer {
 public:
  explicit LineBuffer(int32_t width) : v_(slineValues(width) + 2, kSlineEnd) { v_[0] = v_[1] = 0; }
  int32_t* data() { return v_.data() + 2; }
  void set(const Runs& runs) {
    std::copy(runs.begin(), runs.end(), data());
    data()[runs.size()] = data()[runs.size() + 1] = kSlineEnd;
  }
  Runs get() const {
    Runs r;
    for (size_t i = 2; v_[i] != kSlineEnd; i += 2) r.insert(r.end(), {v_[i], v_[i + 1]});
    return r;
  }
  bool sentinelIntact() const { return v_[0] == 0 && v_[1] == 0; }

 private:
  std::vector<int32_t> v_;
};

// A read stream over bytes (a temporary file, so an empty input works as well).
class Source {
 public:
  explicit Source(const std::vector<uint8_t>& bytes) {
    file_ = std::tmpfile();
    if (!bytes.empty()) (void)!std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::rewind(file_);
    stream_ = streamOpen(file_, "r");
  }
  ~Source() {
    streamClose(stream_);
    std::fclose(file_);
  }
  RasterStream* stream() { return stream_; }

 private:
  std::FILE* file_ = nullptr;
  RasterStream* stream_ = nullptr;
};

// A write stream whose bytes collect in memory.
class Sink {
 public:
  Sink() {
    stream_ = streamOpen(nullptr, "w");
    (void)streamSetWriteCallback(stream_, &append, this);
  }
  ~Sink() {
    if (stream_) streamClose(stream_);
  }
  RasterStream* stream() { return stream_; }
  std::vector<uint8_t> finish() {
    streamClose(stream_);
    stream_ = nullptr;
    return bytes_;
  }

 private:
  static size_t append(const void* data, size_t size, size_t count, void* ctx) {
    auto* self = static_cast<Sink*>(ctx);
    const auto* p = static_cast<const uint8_t*>(data);
    self->bytes_.insert(self->bytes_.end(), p, p + size * count);
    return count;
  }
  RasterStream* stream_ = nullptr;
  std::vector<uint8_t> bytes_;
};

// "0011 0101 ..." -> bytes, most significant bit first, the last byte padded with zero bits.
inline std::vector<uint8_t> bitBytes(const std::string& bits) {
  std::vector<uint8_t> out;
  int n = 0;
  for (char c : bits) {
    if (c != '0' && c != '1') continue;
    if (n % 8 == 0) out.push_back(0);
    if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
    ++n;
  }
  return out;
}

inline std::string bitString(const std::vector<uint8_t>& bytes) {
  std::string s;
  for (uint8_t b : bytes)
    for (int i = 7; i >= 0; --i) s += (b >> i) & 1 ? '1' : '0';
  return s;
}

inline std::vector<uint8_t> reversed(std::vector<uint8_t> bytes) {
  for (uint8_t& b : bytes) b = kBitReverse[b];
  return bytes;
}

// A decoded line must be sorted, non-touching and inside [0, width].
inline bool validLine(const Runs& r, int32_t width) {
  int32_t last = -1;
  for (size_t i = 0; i < r.size(); i += 2) {
    if (r[i] <= last || r[i + 1] <= r[i] || r[i + 1] > width) return false;
    last = r[i + 1];
  }
  return true;
}

// The statuses a decoder may end hostile data with.
inline bool isDecodeFailure(RioStatus s) {
  return s == kRioEndOfPage || s == kRioUnexpectedEof || s == kRioBadData || s == kRioUnsupported ||
         s == kRioBadColumns;
}

// Up to 300 random bytes: plain, mostly zeros (where end-of-line codes and the deepest code trees are) or
// mostly ones.
inline std::vector<uint8_t> garbageBytes(Rng& rng) {
  std::vector<uint8_t> bytes(rng.below(300));
  const int flavour = rng.below(4);
  for (uint8_t& b : bytes) {
    b = static_cast<uint8_t>(rng.next());
    if (flavour == 1) b &= static_cast<uint8_t>(rng.next());
    if (flavour == 2) b |= static_cast<uint8_t>(rng.next());
    if (flavour == 3) b &= static_cast<uint8_t>(rng.next() & rng.next());
  }
  return bytes;
}

// T.4 and T.6 code words the vectors are written with.
inline const std::string EOL = "000000000001";
inline const std::string W0 = "00110101", W2 = "0111", W3 = "1000", W5 = "1100", W7 = "1111", W9 = "10100",
                         W10 = "00111", W11 = "01000", W15 = "110101", W47 = "00001010", W56 = "01011001",
                         W63 = "00110100";
inline const std::string WM64 = "11011", WM128 = "10010", WM384 = "00110111", WM832 = "011010010",
                         WM1728 = "010011011";
inline const std::string X1792 = "00000001000", X2560 = "000000011111";
inline const std::string B0 = "0000110111", B1 = "010", B2 = "11", B3 = "10", B5 = "0011", B6 = "0010",
                         B7 = "00011", B8 = "000101", B9 = "000100", B10 = "0000100", B16 = "0000010111",
                         B20 = "00001101000", B37 = "000011010100";
inline const std::string BM64 = "0000001111";
inline const std::string P = "0001", H = "001", V0 = "1", VR1 = "011", VR2 = "000011", VR3 = "0000011",
                         VL1 = "010", VL3 = "0000010";
inline const std::string EOFB = EOL + EOL;

inline Runs runsOf(const std::vector<uint8_t>& pixels) {
  Runs r;
  const int32_t width = static_cast<int32_t>(pixels.size());
  for (int32_t x = 0; x < width;) {
    if (!pixels[x]) {
      ++x;
      continue;
    }
    const int32_t start = x;
    while (x < width && pixels[x]) ++x;
    r.insert(r.end(), {start, x});
  }
  return r;
}

// A page mixing what drawings have (rows like the one above with edges moved, long runs, blank and solid
// rows) with noise rows of short runs; every row also starts or ends black now and then.
inline std::vector<Runs> randomPage(int32_t width, int32_t height, uint64_t seed) {
  Rng rng(seed);
  std::vector<Runs> page;
  std::vector<uint8_t> row(width, 0);
  auto randomRow = [&] {
    int32_t x = 0;
    uint8_t colour = rng.chance(30) ? 1 : 0;
    while (x < width) {
      const int kind = rng.below(10);
      int32_t len = kind < 6 ? 1 + rng.below(12) : kind < 9 ? 1 + rng.below(300) : 1 + rng.below(width);
      len = std::min(len, width - x);
      std::fill(row.begin() + x, row.begin() + x + len, colour);
      x += len;
      colour ^= 1;
    }
  };
  for (int32_t y = 0; y < height; ++y) {
    const int pick = rng.below(100);
    if (y == 0 || pick < 10) {
      randomRow();
    } else if (pick < 14) {
      std::fill(row.begin(), row.end(), 0);
    } else if (pick < 17) {
      std::fill(row.begin(), row.end(), 1);
    } else {
      // Like the row above: a few spans set or cleared, sometimes shifted by up to 4 pixels.
      if (rng.chance(20)) {
        const int32_t shift = rng.below(9) - 4;
        std::vector<uint8_t> moved(width, 0);
        for (int32_t x = 0; x < width; ++x)
          if (x - shift >= 0 && x - shift < width) moved[x] = row[x - shift];
        row.swap(moved);
      }
      for (int k = rng.below(4); k > 0; --k) {
        const int32_t x = rng.below(width);
        const int32_t len = std::min<int32_t>(1 + rng.below(6), width - x);
        std::fill(row.begin() + x, row.begin() + x + len, static_cast<uint8_t>(rng.below(2)));
      }
    }
    if (rng.chance(5)) row[0] = 1;
    if (rng.chance(5)) row[width - 1] = 1;
    page.push_back(runsOf(row));
  }
  return page;
}

// Codes the lines with the Group 3 one-dimensional or the Group 4 encoder and its finish.
inline std::vector<uint8_t> encodeLines(bool group4, int32_t width, const std::vector<Runs>& lines,
                                        FaxEncoder e = {}) {
  Sink sink;
  LineBuffer cur(width), ref(width);
  for (const Runs& line : lines) {
    cur.set(line);
    const RioStatus s = group4 ? g4EncodeLine(&e, sink.stream(), width, cur.data(), ref.data())
                               : g3EncodeLine(&e, sink.stream(), width, cur.data());
    EXPECT_EQ(s, kRioOk);
    ref.set(cur.get());
  }
  EXPECT_EQ(group4 ? g4EncodeFinish(&e, sink.stream()) : g3EncodeFinish(&e, sink.stream()), kRioOk);
  return sink.finish();
}

}  // namespace vantrel::testfax
