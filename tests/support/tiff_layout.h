// The coded strips or tiles of a TIFF made by another program, and a decoder of any of their codings that
// our codecs serve, driven one row at a time as the TIFF reader drives them: a byte limit, a restart and a
// white reference line for each strip or tile. Used by the codec tests and the codec benchmark.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "codec/deflate.h"
#include "codec/fax.h"
#include "codec/lzw.h"
#include "rio/sline.h"
#include "rio/stream.h"

namespace vantrel::testtiff {

using Bytes = std::vector<uint8_t>;

// The first directory's layout: strips, or tiles in row-major order ("segments" either way).
struct TiffLayout {
  uint32_t width = 0, height = 0, compression = 1, photometric = 0, fillOrder = 1, t4Options = 0;
  uint32_t predictor = 1, rowsPerStrip = 0xFFFFFFFF, tileWidth = 0, tileLength = 0;
  std::vector<uint32_t> offsets, byteCounts;
  bool tiled() const { return tileWidth != 0; }
  uint32_t segmentWidth() const { return tiled() ? tileWidth : width; }
  uint32_t segmentRows() const { return tiled() ? tileLength : std::min(rowsPerStrip, height); }
};

inline bool parseLayout(const Bytes& t, TiffLayout* out) {
  if (t.size() < 8 || (t[0] != 'I' && t[0] != 'M')) return false;
  const bool little = t[0] == 'I';
  bool inside = true;
  auto u = [&](uint64_t at, int n) -> uint32_t {
    if (at + static_cast<uint64_t>(n) > t.size()) {
      inside = false;
      return 0;
    }
    uint32_t v = 0;
    for (int k = 0; k < n; ++k) v |= uint32_t{t[at + (little ? k : n - 1 - k)]} << (8 * k);
    return v;
  };
  const uint32_t ifd = u(4, 4);
  const uint32_t count = u(ifd, 2);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t e = ifd + 2 + 12ull * i;
    const uint32_t tag = u(e, 2), type = u(e + 2, 2), n = u(e + 4, 4);
    const int size = type == 3 ? 2 : 4;
    const uint64_t values = uint64_t{n} * size <= 4 ? e + 8 : u(e + 8, 4);
    auto list = [&](std::vector<uint32_t>* v) {
      for (uint32_t k = 0; k < n && inside; ++k) v->push_back(u(values + uint64_t{k} * size, size));
    };
    const uint32_t value = u(values, size);
    switch (tag) {
      case 256:
        out->width = value;
        break;
      case 257:
        out->height = value;
        break;
      case 259:
        out->compression = value;
        break;
      case 262:
        out->photometric = value;
        break;
      case 266:
        out->fillOrder = value;
        break;
      case 278:
        out->rowsPerStrip = value;
        break;
      case 292:
        out->t4Options = value;
        break;
      case 317:
        out->predictor = value;
        break;
      case 322:
        out->tileWidth = value;
        break;
      case 323:
        out->tileLength = value;
        break;
      case 273:
      case 324:
        list(&out->offsets);
        break;
      case 279:
      case 325:
        list(&out->byteCounts);
        break;
      default:
        break;
    }
  }
  return inside && out->width > 0 && out->height > 0 && !out->offsets.empty() &&
         out->offsets.size() == out->byteCounts.size();
}

// A read stream over bytes held in memory.
class MemoryStream {
 public:
  explicit MemoryStream(const Bytes& bytes) : bytes_(bytes) {
    file_ = bytes_.empty() ? std::tmpfile() : fmemopen(bytes_.data(), bytes_.size(), "rb");
    stream_ = file_ ? streamOpen(file_, "r") : nullptr;
    if (stream_) (void)streamMakeSeekable(stream_);
  }
  ~MemoryStream() {
    if (stream_) streamClose(stream_);
    if (file_) std::fclose(file_);
  }
  MemoryStream(const MemoryStream&) = delete;
  MemoryStream& operator=(const MemoryStream&) = delete;
  RasterStream* get() { return stream_; }

 private:
  Bytes bytes_;
  std::FILE* file_ = nullptr;
  RasterStream* stream_ = nullptr;
};

// One strip's or tile's decoder for Group 3 two-dimensional, LZW or Deflate data, driven row by row.
class SegmentDecoder {
 public:
  explicit SegmentDecoder(const TiffLayout& layout)
      : layout_(layout), width_(static_cast<int32_t>(layout.segmentWidth())) {
    lzw_ = std::make_unique<LzwDecoder>();
    const size_t values = static_cast<size_t>(slineValues(width_));
    cur_.assign(values, kSlineEnd);
    ref_.assign(values, kSlineEnd);
  }
  ~SegmentDecoder() { deflateDecoderEnd(&deflate_); }

  RioStatus start(int64_t byteCount) {
    const bool lsbFirst = layout_.fillOrder == 2;
    fax_ = FaxDecoder{};
    fax_.bits.lsbFirst = lsbFirst;
    faxDecoderSetByteLimit(&fax_, byteCount);
    lzwDecoderRestart(lzw_.get());
    lzw_->bits.lsbFirst = lsbFirst;
    lzwDecoderSetByteLimit(lzw_.get(), byteCount);
    deflate_.lsbFirst = lsbFirst;
    cur_[0] = cur_[1] = ref_[0] = ref_[1] = kSlineEnd;
    if (layout_.compression != 8 && layout_.compression != 32946) return kRioOk;
    const RioStatus status = deflateDecoderRestart(&deflate_);
    deflateDecoderSetByteLimit(&deflate_, byteCount);
    return status;
  }

  // The next row into `row` (segment width, 1 = black as stored, not yet inverted for photometric 1).
  RioStatus next(RasterStream* s, uint8_t* row) {
    const int32_t rowBytes = (width_ + 7) / 8;
    switch (layout_.compression) {
      case 5:
        return lzwDecodeBytes(lzw_.get(), s, row, rowBytes);
      case 8:
      case 32946:
        return deflateDecodeBytes(&deflate_, s, row, rowBytes);
      default:
        break;
    }
    if (layout_.compression != 3 || !(layout_.t4Options & 1)) return kRioInternal;
    const RioStatus status = g3Decode2dLine(&fax_, s, width_, ref_.data(), cur_.data());
    std::fill(row, row + rowBytes, 0);
    for (size_t i = 0; cur_[i] != kSlineEnd; i += 2)
      for (int32_t x = cur_[i]; x < cur_[i + 1]; ++x) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
    cur_.swap(ref_);
    return status;
  }

  // The next row of a byte coding taken in pieces of at most `piece` bytes.
  RioStatus nextInPieces(RasterStream* s, uint8_t* row, int32_t piece) {
    const int32_t rowBytes = (width_ + 7) / 8;
    for (int32_t at = 0; at < rowBytes; at += piece) {
      const int32_t n = std::min(piece, rowBytes - at);
      const RioStatus status = layout_.compression == 5 ? lzwDecodeBytes(lzw_.get(), s, row + at, n)
                                                        : deflateDecodeBytes(&deflate_, s, row + at, n);
      if (status != kRioOk) return status;
    }
    return kRioOk;
  }

 private:
  const TiffLayout& layout_;
  int32_t width_;
  FaxDecoder fax_;
  std::unique_ptr<LzwDecoder> lzw_;
  DeflateDecoder deflate_;
  std::vector<int32_t> cur_, ref_;
};

}  // namespace vantrel::testtiff
