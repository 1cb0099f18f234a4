// FileNet IMG, JEDMICS C4 and EDMICS B4 files taken apart and put together on the test side, from the
// layouts alone and sharing no code with the library: a parsed file lists each tile's stored blocks
// (FileNet segments, or whole C4/B4 tiles) with their coding and bytes; the builders lay out blocks that
// another coder made (libtiff's Group 4 strips, or hand-made rows). Also the Group 4 strips of a TIFF and a
// minimal multi-strip TIFF around blocks, so that libtiff decodes what the library wrote.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vantrel::testtiled {

using Bytes = std::vector<uint8_t>;

inline uint32_t be(const Bytes& b, size_t at, int n) {
  uint32_t v = 0;
  for (int k = 0; k < n; ++k) v = v << 8 | (at + k < b.size() ? b[at + k] : 0);
  return v;
}
inline uint32_t le(const Bytes& b, size_t at, int n) {
  uint32_t v = 0;
  for (int k = n - 1; k >= 0; --k) v = v << 8 | (at + k < b.size() ? b[at + k] : 0);
  return v;
}
inline void putBe(Bytes& b, uint32_t v, int n) {
  for (int k = n - 1; k >= 0; --k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
inline void putLe(Bytes& b, uint32_t v, int n) {
  for (int k = 0; k < n; ++k) b.push_back(static_cast<uint8_t>(v >> (8 * k)));
}
inline void setBe(Bytes& b, size_t at, uint32_t v, int n) {
  for (int k = 0; k < n; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * (n - 1 - k)));
}
inline void setLe(Bytes& b, size_t at, uint32_t v, int n) {
  for (int k = 0; k < n; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
}

// A FileNet segment (coding 0-6, rows) or a C4/B4 tile (coding 6 Group 4, 1 raw).
struct Block {
  int coding = 6;
  int rows = 0;
  Bytes data;
};

// ---- FileNet

struct FileNetFile {
  uint32_t width = 0, height = 0, tileWidth = 0, tileLength = 0, dpi = 0, placement = 0;
  uint32_t listedWidth = 0, listedHeight = 0, imageHeader = 0, dataLength = 0;
  std::vector<uint32_t> tags;                              // in directory order
  std::vector<std::pair<uint32_t, uint32_t>> table;        // offset from the image header, length
  std::vector<std::vector<Block>> tiles;                   // row by row
  std::vector<uint32_t> tileEnds;                          // file position after each tile's data
};

// The tiled layout (first byte 0x03). False, with the reason, when anything lies outside the file.
inline bool parseFileNet(const Bytes& f, FileNetFile* out, std::string* why) {
  auto fail = [&](const char* w) {
    *why = w;
    return false;
  };
  if (f.size() < 8 || f[0] != 0x03) return fail("not the tiled layout");
  const uint32_t entries = be(f, 4, 4);
  if (8 + 12ull * entries > f.size()) return fail("directory");
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t e = 8 + 12 * i;
    const uint32_t tag = be(f, e, 4);
    out->tags.push_back(tag);
    if (tag == 1) out->imageHeader = be(f, e + 4, 4), out->dataLength = be(f, e + 8, 4);
    if (tag == 2) out->listedWidth = be(f, e + 4, 4), out->listedHeight = be(f, e + 8, 4);
  }
  const size_t b = out->imageHeader;
  if (b + 40 > f.size() || be(f, b, 4) != 0x12345678) return fail("image header");
  out->placement = be(f, b + 12, 4) & 0xFFFF;
  out->dpi = be(f, b + 16, 4);
  out->width = be(f, b + 24, 4);
  out->height = be(f, b + 28, 4);
  out->tileWidth = be(f, b + 32, 4);
  out->tileLength = be(f, b + 36, 4);
  if (out->tileWidth == 0 || out->tileLength == 0) return fail("tile size");
  const uint64_t count = uint64_t{(out->width + out->tileWidth - 1) / out->tileWidth} *
                         ((out->height + out->tileLength - 1) / out->tileLength);
  if (b + 40 + 8 * count > f.size()) return fail("tile table");
  for (uint64_t t = 0; t < count; ++t) {
    const uint32_t offset = be(f, b + 40 + 8 * t, 4);
    out->table.emplace_back(offset, be(f, b + 44 + 8 * t, 4));
    const size_t at = b + offset;
    if (at + 8 > f.size() || std::memcmp(&f[at], "323I", 4) != 0) return fail("tile");
    const uint32_t n = be(f, at + 4, 4);
    if (at + 8 + 4ull * n > f.size()) return fail("descriptors");
    size_t data = at + 8 + 4 * n;
    std::vector<Block> tile;
    for (uint32_t s = 0; s < n; ++s) {
      Block block;
      block.coding = f[at + 8 + 4 * s];
      block.rows = f[at + 9 + 4 * s];
      const uint32_t length = be(f, at + 10 + 4 * s, 2);
      if (data + length > f.size()) return fail("segment data");
      block.data.assign(f.begin() + static_cast<std::ptrdiff_t>(data),
                        f.begin() + static_cast<std::ptrdiff_t>(data + length));
      data += length;
      tile.push_back(std::move(block));
    }
    out->tiles.push_back(std::move(tile));
    out->tileEnds.push_back(static_cast<uint32_t>(data));
  }
  return true;
}

// One tile: "323I", the count, the descriptors, the data.
inline Bytes fileNetTile(const std::vector<Block>& segments) {
  Bytes t = {'3', '2', '3', 'I'};
  putBe(t, static_cast<uint32_t>(segments.size()), 4);
  for (const Block& s : segments) {
    t.push_back(static_cast<uint8_t>(s.coding));
    t.push_back(static_cast<uint8_t>(s.rows));
    putBe(t, static_cast<uint32_t>(s.data.size()), 2);
  }
  for (const Block& s : segments) t.insert(t.end(), s.data.begin(), s.data.end());
  return t;
}

struct FileNetLayout {
  uint32_t width = 0, height = 0, tileWidth = 0, tileLength = 0, dpi = 0, placement = 0;
  uint32_t listedWidth = 0, listedHeight = 0;  // the directory's sizes (0: as the image header)
  uint32_t imageHeader = 64;                   // B
};

// The tiled layout around tiles given row by row.
inline Bytes buildFileNet(const FileNetLayout& l, const std::vector<std::vector<Block>>& tiles) {
  Bytes f = {0x03, 0, 0, 0};
  putBe(f, 2, 4);
  for (uint32_t v : {2u, l.listedWidth ? l.listedWidth : l.width, l.listedHeight ? l.listedHeight : l.height})
    putBe(f, v, 4);
  for (uint32_t v : {1u, l.imageHeader, 0u}) putBe(f, v, 4);
  f.resize(l.imageHeader, 0);
  for (uint32_t v : {0x12345678u, 3u, 2u, l.placement, l.dpi, 0u, l.width, l.height, l.tileWidth, l.tileLength})
    putBe(f, v, 4);
  const size_t table = f.size();
  f.resize(table + 8 * tiles.size(), 0);
  for (size_t t = 0; t < tiles.size(); ++t) {
    const Bytes body = fileNetTile(tiles[t]);
    setBe(f, table + 8 * t, static_cast<uint32_t>(f.size() - l.imageHeader), 4);
    setBe(f, table + 8 * t + 4, static_cast<uint32_t>(body.size()), 4);
    f.insert(f.end(), body.begin(), body.end());
  }
  setBe(f, 28, static_cast<uint32_t>(f.size() - l.imageHeader), 4);
  return f;
}

// The single-tile layout: flags (placement, resolution index), then the segments of the one tile.
inline Bytes buildFileNetSingle(uint16_t width, uint16_t height, uint8_t flags, const std::vector<Block>& segments) {
  Bytes f = {0x02, flags};
  putBe(f, static_cast<uint32_t>(segments.size()), 2);
  putBe(f, width, 2);
  putBe(f, height, 2);
  const Bytes body = fileNetTile(segments);
  f.insert(f.end(), body.begin() + 8, body.end());
  return f;
}

// ---- C4 and B4

struct TwinFile {
  uint32_t width = 0, height = 0, dpi = 0, dataStart = 0, indexAt = 0;
  uint8_t countByte = 0, mode = 0;
  Bytes header;
  Bytes text;
  std::vector<std::pair<uint16_t, uint16_t>> index;  // (number field, length) in file order
  std::vector<Block> tiles;                           // in file order; coding 1 for raw
};

inline bool parseTwin(const Bytes& f, bool b4, TwinFile* out, std::string* why) {
  if (f.size() < 128) {
    *why = "header";
    return false;
  }
  out->header.assign(f.begin(), f.begin() + 128);
  out->indexAt = le(f, 0, 4);
  out->height = le(f, 4, 2);
  out->width = 8 * le(f, 6, 2);
  out->dataStart = be(f, 8, 4);
  out->countByte = f[12];
  out->mode = f[36];
  out->dpi = b4 ? be(f, 121, 2) : le(f, 38, 2);
  out->text.assign(f.begin() + 41, f.begin() + 121);
  const uint32_t count = ((out->width + 511) / 512) * ((out->height + 511) / 512);
  if (out->indexAt + 4ull * count > f.size()) {
    *why = "index";
    return false;
  }
  size_t data = out->dataStart;
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t number = static_cast<uint16_t>(le(f, out->indexAt + 4 * i, 2));
    const uint16_t length = static_cast<uint16_t>(le(f, out->indexAt + 4 * i + 2, 2));
    out->index.emplace_back(number, length);
    const size_t bytes = length == 0 ? 32768 : length;
    if (data + bytes > f.size()) {
      *why = "tile data";
      return false;
    }
    Block tile;
    tile.coding = length == 0 ? 1 : 6;
    tile.data.assign(f.begin() + static_cast<std::ptrdiff_t>(data),
                     f.begin() + static_cast<std::ptrdiff_t>(data + bytes));
    data += bytes;
    out->tiles.push_back(std::move(tile));
  }
  return true;
}

// Header, index and tiles given in tile order; the file holds them in `order` (tile numbers; empty: 0, 1,
// ...), each index entry with its tile's number, or all numbers zero. A raw tile (coding 1) is stored with
// length 0 and, in C4, bit 15 of its number.
inline Bytes buildTwin(bool b4, uint32_t width, uint32_t height, uint16_t dpi, const Bytes& text,
                       const std::vector<Block>& tiles, bool zeroNumbers = false,
                       std::vector<uint32_t> order = {}) {
  const auto count = static_cast<uint32_t>(tiles.size());
  if (order.empty())
    for (uint32_t t = 0; t < count; ++t) order.push_back(t);
  Bytes f;
  putLe(f, 128, 4);
  putLe(f, height, 2);
  putLe(f, (width + 7) / 8, 2);
  putBe(f, 128 + 4 * count, 4);
  f.resize(128, 0);
  f[12] = b4 ? static_cast<uint8_t>(count % 256) : count < 253 ? static_cast<uint8_t>(count) : 0;
  setBe(f, 28, 1, 2);
  f[36] = !b4 && count >= 253 ? 8 : 4;
  if (b4)
    setBe(f, 121, dpi, 2);
  else
    setLe(f, 38, dpi, 2);
  for (size_t i = 0; i < text.size() && i < 80; ++i) f[41 + i] = text[i];
  for (uint32_t t : order) {
    const bool raw = tiles[t].coding == 1;
    uint32_t number = zeroNumbers ? 0 : t;
    if (raw && !b4) number |= 0x8000;
    putLe(f, number, 2);
    putLe(f, raw ? 0 : static_cast<uint32_t>(tiles[t].data.size()), 2);
  }
  for (uint32_t t : order) f.insert(f.end(), tiles[t].data.begin(), tiles[t].data.end());
  return f;
}

// ---- TIFF strips

// Every strip of a TIFF's first directory, either byte order, offsets and counts SHORT or LONG.
inline bool tiffStrips(const Bytes& t, uint32_t* width, uint32_t* height, std::vector<Bytes>* strips) {
  if (t.size() < 8) return false;
  const bool little = t[0] == 'I';
  auto u = [&](size_t at, int n) { return little ? le(t, at, n) : be(t, at, n); };
  const uint32_t ifd = u(4, 4);
  const uint32_t entries = u(ifd, 2);
  std::vector<uint32_t> offsets, counts;
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + 12 * i;
    const uint32_t tag = u(e, 2), type = u(e + 2, 2), n = u(e + 4, 4);
    const int size = type == 3 ? 2 : 4;
    const size_t values = n * size <= 4 ? e + 8 : u(e + 8, 4);
    std::vector<uint32_t> list;
    for (uint32_t k = 0; k < n && k < 100000; ++k) list.push_back(u(values + k * size, size));
    if (tag == 256) *width = list.at(0);
    if (tag == 257) *height = list.at(0);
    if (tag == 273) offsets = list;
    if (tag == 279) counts = list;
  }
  if (offsets.size() != counts.size()) return false;
  for (size_t s = 0; s < offsets.size(); ++s) {
    if (size_t{offsets[s]} + counts[s] > t.size()) return false;
    strips->emplace_back(t.begin() + offsets[s], t.begin() + offsets[s] + counts[s]);
  }
  return true;
}

// A little-endian TIFF of Group 4 strips of rowsPerStrip rows (the last may hold fewer), white is zero.
inline Bytes group4StripsTiff(uint32_t width, uint32_t height, uint32_t rowsPerStrip, const std::vector<Bytes>& strips) {
  const auto n = static_cast<uint32_t>(strips.size());
  const uint32_t entries = 9;
  const uint32_t arrays = 8 + 2 + entries * 12 + 4;
  uint32_t data = arrays + 8 * n;
  Bytes t = {'I', 'I', 42, 0};
  putLe(t, 8, 4);
  putLe(t, entries, 2);
  auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
    putLe(t, tag, 2);
    putLe(t, type, 2);
    putLe(t, count, 4);
    putLe(t, value, 4);
  };
  entry(256, 4, 1, width);
  entry(257, 4, 1, height);
  entry(258, 3, 1, 1);
  entry(259, 3, 1, 4);
  entry(262, 3, 1, 0);
  entry(273, 4, n, n == 1 ? data : arrays);
  entry(277, 3, 1, 1);
  entry(278, 4, 1, rowsPerStrip);
  entry(279, 4, n, n == 1 ? static_cast<uint32_t>(strips[0].size()) : arrays + 4 * n);
  putLe(t, 0, 4);
  if (n > 1) {
    for (const Bytes& s : strips) {
      putLe(t, data, 4);
      data += static_cast<uint32_t>(s.size());
    }
    for (const Bytes& s : strips) putLe(t, static_cast<uint32_t>(s.size()), 4);
  } else {
    t.resize(data, 0);
  }
  for (const Bytes& s : strips) t.insert(t.end(), s.begin(), s.end());
  return t;
}

}  // namespace vantrel::testtiled
