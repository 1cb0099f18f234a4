#include "picture/transform.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace vantrel {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2 * kPi;
// Residual angles may overshoot 45 degrees by rounding of the sector arithmetic.
constexpr double kResidualLimit = kPi / 4 + 1e-9;

// ---------------------------------------------------------------------------------------------------------
// Tables, generated from the bit patterns they describe.

constexpr std::array<uint8_t, 256> makeBitReverse() {
  std::array<uint8_t, 256> table{};
  for (int v = 0; v < 256; ++v) {
    int r = 0;
    for (int b = 0; b < 8; ++b) {
      if (v & (1 << b)) r |= 0x80 >> b;
    }
    table[static_cast<size_t>(v)] = static_cast<uint8_t>(r);
  }
  return table;
}
inline constexpr std::array<uint8_t, 256> kBitReverse = makeBitReverse();

// The black pixels of one byte, the most significant bit being pixel 0.
struct BytePixels {
  uint8_t count;
  uint8_t pixel[8];
};

constexpr std::array<BytePixels, 256> makeBytePixels() {
  std::array<BytePixels, 256> table{};
  for (int v = 0; v < 256; ++v) {
    BytePixels p{};
    for (int i = 0; i < 8; ++i) {
      if (v & (0x80 >> i)) p.pixel[p.count++] = static_cast<uint8_t>(i);
    }
    table[static_cast<size_t>(v)] = p;
  }
  return table;
}
inline constexpr std::array<BytePixels, 256> kBytePixels = makeBytePixels();

// Column reduction: the 8 pixels of a byte ORed down to n pixels (n in 1..8), pixel p going to pixel
// ceil((p + 1) * n / 8) - 1; the result is left-aligned in the byte (pixel 0 in the top bit).
constexpr std::array<std::array<uint8_t, 256>, 9> makeGroupBits() {
  std::array<std::array<uint8_t, 256>, 9> table{};
  for (int n = 1; n <= 8; ++n) {
    for (int v = 0; v < 256; ++v) {
      int out = 0;
      for (int p = 0; p < 8; ++p) {
        if (!(v & (0x80 >> p))) continue;
        int q = ((p + 1) * n + 7) / 8 - 1;
        out |= 0x80 >> q;
      }
      table[static_cast<size_t>(n)][static_cast<size_t>(v)] = static_cast<uint8_t>(out);
    }
  }
  return table;
}
inline constexpr std::array<std::array<uint8_t, 256>, 9> kGroupBits = makeGroupBits();

// Pixel c of a word, in memory order.
constexpr uint32_t pixelBit(int c) {
  return wordFromMsbFirst(0x80000000u >> c);
}

// ---------------------------------------------------------------------------------------------------------
// Small helpers.

bool refuseProtected(const TPicture* p, const char* routine) {
  if (!TPictureIsProtected(p)) return false;
  rastSetError(kRastProtected, routine);
  return true;
}

uint32_t rowWord(const TPicture* p, TileEntry e, int r) {
  if (entryIsWhite(e)) return 0;
  if (entryIsBlack(e)) return 0xFFFFFFFFu;
  return tileWords(p, e)[r];
}

// Replaces a real tile that became uniform by its reserved entry, keeping the mark.
void packEntry(TPicture* p, TileEntry& e) {
  const uint32_t* w = tileWords(p, e);
  uint32_t all = 0xFFFFFFFFu, any = 0;
  for (int i = 0; i < kTileWords; ++i) {
    all &= w[i];
    any |= w[i];
  }
  if (any != 0 && all != 0xFFFFFFFFu) return;
  TileEntry mark = e & kSavedMark;
  FreeTPictureTile(p, e);
  e = (any == 0 ? kWhiteEntry : kBlackEntry) | mark;
}

// Makes an entry a real tile of its own uniform content; the tile must have been reserved.
void makeTile(TPicture* p, TileEntry& e) {
  if (entryIsTile(e)) return;
  TileEntry t = AllocTPictureTile(p, entryIsBlack(e) ? 0xFFFFFFFFu : 0);
  e = t | (e & kSavedMark);
}

int64_t paddedSide(int64_t side) {
  return bitmapWords(side) * 32;
}

// Tiles ClearPaddingTPicture will need: black entries on an edge that has padding.
uint64_t paddingTilesNeeded(const TPicture* p) {
  uint64_t need = 0;
  if (p->tileCount == 0) return 0;
  if (p->width % 32 != 0) {
    for (int32_t r = 0; r < p->tileRows; ++r) need += entryIsBlack(tileRowEntries(p, r)[p->tilesAcross - 1]);
  }
  if (p->height % 32 != 0) {
    const TileEntry* last = tileRowEntries(p, p->tileRows - 1);
    for (int32_t c = 0; c < p->tilesAcross; ++c) need += entryIsBlack(last[c]);
  }
  return need;
}

bool clearPadding(TPicture* p, const char* routine) {
  if (!ReserveTPictureTiles(p, static_cast<uint32_t>(paddingTilesNeeded(p)))) {
    rastSetError(kRastOutOfMemory, routine);
    return false;
  }
  return ClearPaddingTPicture(p);
}

// ---------------------------------------------------------------------------------------------------------
// Bit shifts by 1..31 pixels, in place. A neighbour pair that stays uniform stays a reserved entry; every
// tile the shift creates is reserved before anything moves.

enum class Shift { kLeft, kRight, kUp, kDown };

// The neighbour whose pixels enter the entry at (row, column), white beyond the picture.
TileEntry feeder(const TPicture* p, int32_t row, int32_t column, Shift d) {
  switch (d) {
    case Shift::kLeft:
      return column + 1 < p->tilesAcross ? tileRowEntries(p, row)[column + 1] : kWhiteEntry;
    case Shift::kRight:
      return column > 0 ? tileRowEntries(p, row)[column - 1] : kWhiteEntry;
    case Shift::kUp:
      return row + 1 < p->tileRows ? tileRowEntries(p, row + 1)[column] : kWhiteEntry;
    case Shift::kDown:
      return row > 0 ? tileRowEntries(p, row - 1)[column] : kWhiteEntry;
  }
  return kWhiteEntry;
}

bool staysUniform(TileEntry e, TileEntry from) {
  return (entryIsWhite(e) && entryIsWhite(from)) || (entryIsBlack(e) && entryIsBlack(from));
}

void shiftTile(TPicture* p, TileEntry& e, TileEntry from, int n, Shift d) {
  makeTile(p, e);
  uint32_t* w = tileWords(p, e);
  switch (d) {
    case Shift::kLeft:
      for (int r = 0; r < kTileWords; ++r) {
        uint32_t own = wordToMsbFirst(w[r]);
        uint32_t in = wordToMsbFirst(rowWord(p, from, r));
        w[r] = wordFromMsbFirst(own << n | in >> (32 - n));
      }
      break;
    case Shift::kRight:
      for (int r = 0; r < kTileWords; ++r) {
        uint32_t own = wordToMsbFirst(w[r]);
        uint32_t in = wordToMsbFirst(rowWord(p, from, r));
        w[r] = wordFromMsbFirst(own >> n | in << (32 - n));
      }
      break;
    case Shift::kUp:
      std::memmove(w, w + n, static_cast<size_t>(kTileWords - n) * sizeof(uint32_t));
      for (int r = 0; r < n; ++r) w[kTileWords - n + r] = rowWord(p, from, r);
      break;
    case Shift::kDown:
      std::memmove(w + n, w, static_cast<size_t>(kTileWords - n) * sizeof(uint32_t));
      for (int r = 0; r < n; ++r) w[r] = rowWord(p, from, kTileWords - n + r);
      break;
  }
  packEntry(p, e);
}

bool shiftBits(TPicture* p, int n, Shift d, const char* routine) {
  if (n == 0 || p->tileCount == 0) return true;
  uint64_t need = 0;
  for (int32_t r = 0; r < p->tileRows; ++r) {
    const TileEntry* row = tileRowEntries(p, r);
    for (int32_t c = 0; c < p->tilesAcross; ++c)
      need += !entryIsTile(row[c]) && !staysUniform(row[c], feeder(p, r, c, d));
  }
  if (need > kMaxPoolIndex || !ReserveTPictureTiles(p, static_cast<uint32_t>(need))) {
    rastSetError(kRastOutOfMemory, routine);
    return false;
  }
  // Each tile is done before the neighbour it takes pixels from.
  const bool backwards = d == Shift::kRight || d == Shift::kDown;
  for (int32_t i = 0; i < p->tileRows; ++i) {
    int32_t r = backwards ? p->tileRows - 1 - i : i;
    TileEntry* row = tileRowEntries(p, r);
    for (int32_t j = 0; j < p->tilesAcross; ++j) {
      int32_t c = backwards ? p->tilesAcross - 1 - j : j;
      TileEntry from = feeder(p, r, c, d);
      if (!staysUniform(row[c], from)) shiftTile(p, row[c], from, n, d);
    }
  }
  return true;
}

// Whole-tile moves of every tile row by k entries, left or right, releasing the entries pushed out and
// bringing in white.
void moveColumns(TPicture* p, int32_t k, bool left) {
  k = std::min(k, p->tilesAcross);
  if (k == 0) return;
  for (int32_t r = 0; r < p->tileRows; ++r) {
    TileEntry* row = tileRowEntries(p, r);
    int32_t keep = p->tilesAcross - k;
    if (left) {
      for (int32_t c = 0; c < k; ++c) FreeTPictureTile(p, row[c]);
      std::memmove(row, row + k, static_cast<size_t>(keep) * sizeof(TileEntry));
      std::fill(row + keep, row + p->tilesAcross, kWhiteEntry);
    } else {
      for (int32_t c = keep; c < p->tilesAcross; ++c) FreeTPictureTile(p, row[c]);
      std::memmove(row + k, row, static_cast<size_t>(keep) * sizeof(TileEntry));
      std::fill(row, row + k, kWhiteEntry);
    }
  }
}

void moveRows(TPicture* p, int32_t k, bool up) {
  k = std::min(k, p->tileRows);
  if (k == 0 || p->tilesAcross == 0) return;
  const int64_t across = p->tilesAcross;
  const int64_t moved = (int64_t{p->tileRows} - k) * across;
  const int64_t gone = int64_t{k} * across;
  TileEntry* d = p->directory;
  if (up) {
    for (int64_t i = 0; i < gone; ++i) FreeTPictureTile(p, d[i]);
    std::memmove(d, d + gone, static_cast<size_t>(moved) * sizeof(TileEntry));
    std::fill(d + moved, d + moved + gone, kWhiteEntry);
  } else {
    for (int64_t i = moved; i < moved + gone; ++i) FreeTPictureTile(p, d[i]);
    std::memmove(d + gone, d, static_cast<size_t>(moved) * sizeof(TileEntry));
    std::fill(d, d + gone, kWhiteEntry);
  }
}

// ---------------------------------------------------------------------------------------------------------
// Turn plans: the quarter turn and residual turn for an angle in [0, 2 pi], shared by the turn itself and
// by the point mapping so that the crop fits what the turn makes.

struct TurnPlan {
  int quarter = 0;  // 0 none, 1 clockwise, 2 half, 3 counter-clockwise
  double theta = 0;
  bool clockwise = true;
};

TurnPlan planFor(double a) {
  TurnPlan plan;
  if (a <= kPi / 4) {
    plan = {0, a, true};
  } else if (a <= kPi / 2) {
    plan = {1, kPi / 2 - a, false};
  } else if (a <= 3 * kPi / 4) {
    plan = {1, a - kPi / 2, true};
  } else if (a <= kPi) {
    plan = {2, kPi - a, false};
  } else if (a <= 5 * kPi / 4) {
    plan = {2, a - kPi, true};
  } else if (a <= 3 * kPi / 2) {
    plan = {3, 3 * kPi / 2 - a, false};
  } else if (a < 7 * kPi / 4) {
    plan = {3, a - 3 * kPi / 2, true};
  } else {
    plan = {0, kTwoPi - a, false};
  }
  plan.theta = std::max(plan.theta, 0.0);
  return plan;
}

// [0, 2 pi) for a finite angle.
double normalizeAngle(double a) {
  a = std::fmod(a, kTwoPi);
  if (a < 0) a += kTwoPi;
  return a >= kTwoPi ? 0 : a;
}

// The residual turn moves nothing by a whole pixel.
bool residualStill(int64_t height, int64_t width, double theta) {
  const double t = std::tan(theta / 2);
  const double s = std::sin(theta);
  return static_cast<double>(height - 1) * t + 0.5 < 1 && static_cast<double>(width - 1) * s + 0.5 < 1;
}

// The most any row moves in a shear of a picture of `rows` rows.
int64_t shearReach(int64_t rows, double f) {
  return rows > 0 ? static_cast<int64_t>(std::trunc(static_cast<double>(rows - 1) * f + 0.5)) : 0;
}

int64_t shearShift(int64_t k, double f) {
  return static_cast<int64_t>(std::floor(static_cast<double>(k) * f + 0.5));
}

// A point and the size of the picture it lies in, moved through the steps of a turn.
struct Mapped {
  int64_t x, y, height, width;
  void mirrorRows() {
    height = paddedSide(height);
    y = height - 1 - y;
  }
  void mirrorColumns() {
    width = paddedSide(width);
    x = width - 1 - x;
  }
  void transpose() {
    std::swap(x, y);
    std::swap(height, width);
  }
  void shear(double f, bool downRight) {
    x += shearShift(downRight ? y : height - 1 - y, f);
    width += shearReach(height, f) + 32;
  }
};

void mapQuarter(Mapped& m, int quarter) {
  switch (quarter) {
    case 1:
      m.mirrorRows();
      m.transpose();
      break;
    case 2:
      m.mirrorRows();
      m.mirrorColumns();
      break;
    case 3:
      m.transpose();
      m.mirrorRows();
      break;
    default:
      break;
  }
}

void mapResidual(Mapped& m, double theta, bool clockwise) {
  if (residualStill(m.height, m.width, theta)) return;
  const double t = std::tan(theta / 2);
  const double s = std::sin(theta);
  m.shear(t, !clockwise);
  m.transpose();
  m.shear(s, clockwise);
  m.transpose();
  m.shear(t, !clockwise);
}

bool quarterTurn(TPicture* p, int quarter) {
  switch (quarter) {
    case 1:
      return Rotate90TPicture(p);
    case 2:
      return Rotate180TPicture(p);
    case 3:
      return Rotate270TPicture(p);
    default:
      return true;
  }
}

TPicture* shear(TPicture* p, double f, int keepSource, bool downRight, const char* routine) {
  auto fail = [&](TPicture* made, uint32_t* bits) -> TPicture* {
    FreeBitmapString(bits);
    FreeTPicture(made);
    if (!keepSource) FreeTPicture(p);
    return nullptr;
  };
  if (!(f >= 0 && f < 1)) {
    rastSetError(kRastOutOfRange, routine);
    return fail(nullptr, nullptr);
  }
  const int64_t height = p->height;
  const int64_t width = int64_t{p->width} + shearReach(height, f) + 32;
  if (width > kMaxPictureSide) {
    rastSetError(kRastOutOfMemory, "AllocTPicture");
    return fail(nullptr, nullptr);
  }
  TPicture* n = AllocTPicture(p->height, static_cast<int32_t>(width));
  if (!n) return fail(nullptr, nullptr);
  n->columnDpi = p->columnDpi;
  n->rowDpi = p->rowDpi;
  const auto words = static_cast<int32_t>(bitmapWords(p->width) + 1);
  uint32_t* bits = AllocBitmapString(words);
  if (!bits) return fail(n, nullptr);
  for (int32_t y = 0; y < p->height; ++y) {
    const int64_t shift = shearShift(downRight ? y : height - 1 - y, f);
    ReadShiftedBitmapStringTPicture(p, y, bits, words, static_cast<int32_t>(shift % 32));
    if (!WriteBitmapStringTPicture(n, y, bits, words, static_cast<int32_t>(shift / 32))) return fail(n, bits);
  }
  FreeBitmapString(bits);
  PackBlackTPicture(n);
  if (!keepSource) FreeTPicture(p);
  return n;
}

// ---------------------------------------------------------------------------------------------------------
// Scaling of one source row into an output row bitmap (ORed in).

struct ScaleRows {
  const TPicture* source;
  double columnFactor;
  int32_t outWidth;
  int32_t outWords;
  uint32_t* out;      // outWords
  uint32_t* in;       // source row words
  int32_t* offsets;   // source words + 1
  int32_t* runs;      // slineValues(source width)
  int64_t runFactor;  // trunc(columnFactor * 32768)
  float byteSpan;     // output pixels per source byte when reducing

  void orBits(int64_t at, uint32_t msbBits, int count) {
    if (at < 0 || count <= 0) return;
    for (int i = 0; i < count;) {
      int64_t pos = at + i;
      if (pos >= outWidth) return;
      int bit = static_cast<int>(pos & 31);
      int take = std::min(count - i, 32 - bit);
      uint32_t chunk = (msbBits << i) & (take == 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> take));
      out[pos >> 5] |= wordFromMsbFirst(chunk >> bit);
      i += take;
    }
  }

  void add(int32_t row) {
    const int32_t width = source->width;
    if (width == 0) return;
    if (columnFactor == 1) {
      int32_t words = ReadBitmapStringTPicture(source, row, in, 0, width - 1);
      OrBitmapString(out, in, std::min(words, outWords));
    } else if (columnFactor > 1) {
      ExtractRunsTPicture(source, row, runs, 0, width - 1);
      for (int32_t* r = runs; !rioSlineEnd(r); r += 2) {
        r[0] = static_cast<int32_t>(std::min<int64_t>(int64_t{r[0]} * runFactor >> 15, outWidth));
        r[1] = static_cast<int32_t>(std::min<int64_t>(int64_t{r[1]} * runFactor >> 15, outWidth));
      }
      WriteRunsBitmapString(out, outWords, runs, 1);
    } else {
      ReadBitmapStringTPicture(source, row, in, 0, width - 1, offsets);
      for (const int32_t* o = offsets; *o >= 0; ++o) {
        const uint32_t w = in[*o / 4];
        for (int k = 0; k < 4; ++k) {
          const uint32_t v = wordByte(w, k);
          if (v == 0) continue;
          const float l = static_cast<float>(*o + k) * byteSpan;
          const float e = l + byteSpan;
          int n = static_cast<int>(std::trunc(e)) - static_cast<int>(std::trunc(l));
          if (n <= 0) n = 1;
          n = std::min(n, 8);
          // A group that would begin before pixel 0 is put at pixel 0, so its black is kept.
          int64_t at = std::max<int64_t>(static_cast<int64_t>(std::trunc(e)) - n, 0);
          orBits(at, uint32_t{kGroupBits[static_cast<size_t>(n)][v]} << 24, n);
        }
      }
    }
  }
};

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// Directory operations.

bool MirrorHorizontalDirectory(TPicture* p) {
  if (refuseProtected(p, "MirrorHorizontalDirectory")) return false;
  for (int32_t k = 0; k < p->tileRows / 2; ++k) {
    std::swap_ranges(tileRowEntries(p, k), tileRowEntries(p, k) + p->tilesAcross,
                     tileRowEntries(p, p->tileRows - 1 - k));
  }
  return true;
}

bool MirrorVerticalDirectory(TPicture* p) {
  if (refuseProtected(p, "MirrorVerticalDirectory")) return false;
  for (int32_t r = 0; r < p->tileRows; ++r)
    std::reverse(tileRowEntries(p, r), tileRowEntries(p, r) + p->tilesAcross);
  return true;
}

bool MirrorDiagonalDirectory(TPicture* p) {
  if (refuseProtected(p, "MirrorDiagonalDirectory")) return false;
  const int32_t rows = p->tileRows;
  const int32_t across = p->tilesAcross;
  TileEntry* old = SwapTPictureDirectory(p, p->width, p->height);
  if (!old) return false;
  for (int32_t i = 0; i < rows; ++i) {
    const TileEntry* from = old + static_cast<int64_t>(i) * across;
    for (int32_t j = 0; j < across; ++j) tileRowEntries(p, j)[i] = from[j];
  }
  rioFree(old);
  std::swap(p->columnDpi, p->rowDpi);
  return true;
}

// ---------------------------------------------------------------------------------------------------------
// Tile operations.

void ReverseTileRows(const uint32_t* from, uint32_t* to) {
  for (int r = 0; r < kTileWords; ++r) to[r] = from[kTileWords - 1 - r];
}

void MirrorTileRows(const uint32_t* from, uint32_t* to) {
  for (int r = 0; r < kTileWords; ++r) {
    const uint32_t m = wordToMsbFirst(from[r]);
    const uint32_t reversed = uint32_t{kBitReverse[m & 0xFF]} << 24 |
                              uint32_t{kBitReverse[(m >> 8) & 0xFF]} << 16 |
                              uint32_t{kBitReverse[(m >> 16) & 0xFF]} << 8 | kBitReverse[m >> 24];
    to[r] = wordFromMsbFirst(reversed);
  }
}

void TransposeTile(const uint32_t* from, uint32_t* to) {
  std::fill(to, to + kTileWords, 0u);
  for (int r = 0; r < kTileWords; ++r) {
    const uint32_t w = from[r];
    if (w == 0) continue;
    const uint32_t bit = pixelBit(r);
    if (w == 0xFFFFFFFFu) {
      for (int c = 0; c < kTileWords; ++c) to[c] |= bit;
      continue;
    }
    for (int k = 0; k < 4; ++k) {
      const BytePixels& px = kBytePixels[wordByte(w, k)];
      for (int i = 0; i < px.count; ++i) to[8 * k + px.pixel[i]] |= bit;
    }
  }
}

// ---------------------------------------------------------------------------------------------------------
// Mirrors.

bool MirrorTPicture(TPicture* p, DirectoryOperation directoryOperation, TileOperation tileOperation) {
  if (refuseProtected(p, "MirrorTPicture")) return false;
  if (!directoryOperation(p)) return false;
  // Each tile's flipped form goes into the spare; the tile's own storage becomes the next spare. The first
  // tile's form waits in the scratch buffer and moves into the last spare at the end.
  uint32_t scratch[kTileWords];
  uint32_t* spare = scratch;
  TileEntry spareEntry = 0;  // the pool tile behind `spare`, 0 while it is the scratch buffer
  int64_t first = -1;
  for (int64_t i = 0; i < p->tileCount; ++i) {
    const TileEntry e = p->directory[i];
    if (!entryIsTile(e)) continue;
    uint32_t* words = tileWords(p, e);
    tileOperation(words, spare);
    if (spareEntry == 0) {
      first = i;
    } else {
      p->directory[i] = spareEntry | (e & kSavedMark);
    }
    spareEntry = entryUnmarked(e);
    spare = words;
  }
  if (first >= 0) {
    std::memcpy(spare, scratch, sizeof scratch);
    p->directory[first] = spareEntry | (p->directory[first] & kSavedMark);
  }
  if (directoryOperation == MirrorHorizontalDirectory) p->height = p->tileRows * 32;
  if (directoryOperation == MirrorVerticalDirectory) p->width = p->tilesAcross * 32;
  return true;
}

bool MirrorHorizontalTPicture(TPicture* p) {
  if (refuseProtected(p, "MirrorHorizontalTPicture")) return false;
  return MirrorTPicture(p, MirrorHorizontalDirectory, ReverseTileRows);
}

bool MirrorVerticalTPicture(TPicture* p) {
  if (refuseProtected(p, "MirrorVerticalTPicture")) return false;
  return MirrorTPicture(p, MirrorVerticalDirectory, MirrorTileRows);
}

bool MirrorDiagonalTPicture(TPicture* p) {
  if (refuseProtected(p, "MirrorDiagonalTPicture")) return false;
  return MirrorTPicture(p, MirrorDiagonalDirectory, TransposeTile);
}

// ---------------------------------------------------------------------------------------------------------
// Quarter turns.

bool Rotate90TPicture(TPicture* p) {
  if (refuseProtected(p, "Rotate90TPicture")) return false;
  const int32_t height = p->height;
  if (!MirrorHorizontalTPicture(p)) return false;
  if (!MirrorDiagonalTPicture(p)) {
    (void)MirrorHorizontalTPicture(p);
    p->height = height;
    rastClearLastError();
    rastSetError(kRastTransformFailed, "Rotate90TPicture");
    return false;
  }
  return true;
}

bool Rotate180TPicture(TPicture* p) {
  if (refuseProtected(p, "Rotate180TPicture")) return false;
  return MirrorHorizontalTPicture(p) && MirrorVerticalTPicture(p);
}

bool Rotate270TPicture(TPicture* p) {
  if (refuseProtected(p, "Rotate270TPicture")) return false;
  if (!MirrorDiagonalTPicture(p)) {
    rastClearLastError();
    rastSetError(kRastTransformFailed, "Rotate270TPicture");
    return false;
  }
  return MirrorHorizontalTPicture(p);
}

// ---------------------------------------------------------------------------------------------------------
// Shears and turns.

TPicture* ShearDownRightTPicture(TPicture* p, double factor, int keepSource) {
  return shear(p, factor, keepSource, true, "ShearDownRightTPicture");
}

TPicture* ShearUpRightTPicture(TPicture* p, double factor, int keepSource) {
  return shear(p, factor, keepSource, false, "ShearUpRightTPicture");
}

TPicture* RotateResidualTPicture(TPicture* p, double theta, bool clockwise, int keepSource) {
  if (!(theta >= 0 && theta <= kResidualLimit)) {
    rastSetError(kRastOutOfRange, "RotateTPicture");
    if (!keepSource) FreeTPicture(p);
    return nullptr;
  }
  if (residualStill(p->height, p->width, theta)) return keepSource ? CopyTPicture(p) : p;
  const double t = std::tan(theta / 2);
  const double s = std::sin(theta);
  // Clockwise: up-right by t, down-right by s across the transpose, up-right by t; the other way mirrored.
  TPicture* a =
      shear(p, t, keepSource, !clockwise, clockwise ? "ShearUpRightTPicture" : "ShearDownRightTPicture");
  if (!a) return nullptr;
  if (!MirrorDiagonalTPicture(a)) {
    FreeTPicture(a);
    return nullptr;
  }
  TPicture* b = shear(a, s, 0, clockwise, clockwise ? "ShearDownRightTPicture" : "ShearUpRightTPicture");
  if (!b) return nullptr;
  if (!MirrorDiagonalTPicture(b)) {
    FreeTPicture(b);
    return nullptr;
  }
  return shear(b, t, 0, !clockwise, clockwise ? "ShearUpRightTPicture" : "ShearDownRightTPicture");
}

TPicture* RotateTPicture(TPicture* p, double angle, int keepSource) {
  if (!p) {
    rastSetError(kRastNoPicture, "RotateTPicture");
    return nullptr;
  }
  if (!std::isfinite(angle)) {
    rastSetError(kRastOutOfRange, "RotateTPicture");
    return nullptr;
  }
  if (!keepSource && refuseProtected(p, "RotateTPicture")) return nullptr;
  const TurnPlan plan = planFor(normalizeAngle(angle));
  if (plan.quarter == 0) return RotateResidualTPicture(p, plan.theta, plan.clockwise, keepSource);
  TPicture* work = keepSource ? CopyTPicture(p) : p;
  if (!work) return nullptr;
  if (!quarterTurn(work, plan.quarter)) {
    FreeTPicture(work);
    return nullptr;
  }
  return RotateResidualTPicture(work, plan.theta, plan.clockwise, 0);
}

bool MapRotatedPoint(int64_t height, int64_t width, double angle, RastPoint* point, int64_t* resultHeight,
                     int64_t* resultWidth) {
  if (!std::isfinite(angle)) return false;
  const TurnPlan plan = planFor(normalizeAngle(angle));
  Mapped m{point ? point->x : 0, point ? point->y : 0, height, width};
  mapQuarter(m, plan.quarter);
  mapResidual(m, plan.theta, plan.clockwise);
  if (point) *point = {m.x, m.y};
  if (resultHeight) *resultHeight = m.height;
  if (resultWidth) *resultWidth = m.width;
  return true;
}

TPicture* rastRotateImage(TPicture* p, double angle, RastPoint* corner, int keepSource) {
  if (!p) {
    rastSetError(kRastNoPicture, "rastRotateImage");
    return nullptr;
  }
  if (!std::isfinite(angle)) {
    rastSetError(kRastOutOfRange, "rastRotateImage");
    return nullptr;
  }
  if (!keepSource && refuseProtected(p, "rastRotateImage")) return nullptr;
  const double a = normalizeAngle(-angle);
  const int64_t height = p->height;
  const int64_t width = p->width;
  if (height == 0 || width == 0) {
    // Nothing to turn: an empty page of the turned size.
    const bool across = planFor(a).quarter % 2 == 1;
    TPicture* n = AllocTPicture(static_cast<int32_t>(across ? width : height),
                                static_cast<int32_t>(across ? height : width));
    if (n) {
      n->columnDpi = across ? p->rowDpi : p->columnDpi;
      n->rowDpi = across ? p->columnDpi : p->rowDpi;
    }
    if (!keepSource) FreeTPicture(p);
    if (corner) *corner = {};
    return n;
  }
  const RastPoint corners[4] = {{0, 0}, {width - 1, 0}, {width - 1, height - 1}, {0, height - 1}};
  int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
  RastPoint origin{};
  for (int i = 0; i < 4; ++i) {
    RastPoint q = corners[i];
    (void)MapRotatedPoint(height, width, a, &q);
    if (i == 0) origin = q;
    minX = std::min(minX, q.x);
    maxX = std::max(maxX, q.x);
    minY = std::min(minY, q.y);
    maxY = std::max(maxY, q.y);
  }
  TPicture* turned = RotateTPicture(p, a, keepSource);
  if (!turned) return nullptr;
  if (!TranslateTPicture(turned, static_cast<int32_t>(-minX), static_cast<int32_t>(-minY))) {
    FreeTPicture(turned);
    return nullptr;
  }
  const auto rows = static_cast<int32_t>(maxY - minY + 1);
  const auto columns = static_cast<int32_t>(maxX - minX + 1);
  TPicture* cropped = ResizeTPicture(turned, rows, columns);
  if (cropped == turned) {
    FreeTPicture(turned);
    return nullptr;
  }
  if (corner) *corner = {origin.x - minX, origin.y - minY};
  return cropped;
}

// ---------------------------------------------------------------------------------------------------------
// Translation and shifts.

bool ShiftLeftTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "ShiftLeftTPicture")) return false;
  if (n < 0 || n > 31) {
    rastSetError(kRastOutOfRange, "ShiftLeftTPicture");
    return false;
  }
  return shiftBits(p, n, Shift::kLeft, "ShiftLeftTPicture");
}

bool ShiftUpTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "ShiftUpTPicture")) return false;
  if (n < 0 || n > 31) {
    rastSetError(kRastOutOfRange, "ShiftUpTPicture");
    return false;
  }
  return shiftBits(p, n, Shift::kUp, "ShiftUpTPicture");
}

bool TranslateLeftTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateLeftTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateLeftTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->width) {
    ClearTPicture(p);
    return true;
  }
  moveColumns(p, n / 32, true);
  return ShiftLeftTPicture(p, n % 32);
}

bool TranslateUpTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateUpTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateUpTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->height) {
    ClearTPicture(p);
    return true;
  }
  moveRows(p, n / 32, true);
  return ShiftUpTPicture(p, n % 32);
}

// Moving right or down: whole tiles first, then the remaining bits directly in the same direction, so
// nothing that stays inside the picture is lost; what reached the padding is cleared.
bool TranslateRightTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateRightTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateRightTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->width) {
    ClearTPicture(p);
    return true;
  }
  moveColumns(p, n / 32, false);
  return shiftBits(p, n % 32, Shift::kRight, "TranslateRightTPicture") &&
         clearPadding(p, "TranslateRightTPicture");
}

bool TranslateDownTPicture(TPicture* p, int32_t n) {
  if (refuseProtected(p, "TranslateDownTPicture")) return false;
  if (n < 0) {
    rastSetError(kRastOutOfRange, "TranslateDownTPicture");
    return false;
  }
  if (n == 0) return true;
  if (n >= p->height) {
    ClearTPicture(p);
    return true;
  }
  moveRows(p, n / 32, false);
  return shiftBits(p, n % 32, Shift::kDown, "TranslateDownTPicture") &&
         clearPadding(p, "TranslateDownTPicture");
}

bool TranslateTPicture(TPicture* p, int32_t dx, int32_t dy) {
  const int64_t ax = std::abs(int64_t{dx});
  const int64_t ay = std::abs(int64_t{dy});
  // A distance beyond int32 clears like any distance past the edge.
  const auto n = [](int64_t v) { return static_cast<int32_t>(std::min<int64_t>(v, INT32_MAX)); };
  auto horizontal = [&] {
    if (dx < 0) return TranslateLeftTPicture(p, n(ax));
    if (dx > 0) return TranslateRightTPicture(p, n(ax));
    return true;
  };
  auto vertical = [&] {
    if (dy < 0) return TranslateUpTPicture(p, n(ay));
    if (dy > 0) return TranslateDownTPicture(p, n(ay));
    return true;
  };
  if (ay < ax) return horizontal() && vertical();
  return vertical() && horizontal();
}

// ---------------------------------------------------------------------------------------------------------
// Scaling.

TPicture* ScaleTPicture(TPicture* p, double rowFactor, double columnFactor, int keepSource) {
  const char* kName = "ScaleTPicture";
  auto failed = [&](TPicture* made, void* b1, void* b2, void* b3, void* b4) -> TPicture* {
    rioFree(b1);
    rioFree(b2);
    rioFree(b3);
    rioFree(b4);
    FreeTPicture(made);
    if (!keepSource) {
      rastClearLastError();
      rastSetError(kRastTransformFailed, kName);
    }
    return nullptr;
  };
  if (!(rowFactor > 0 && columnFactor > 0 && std::isfinite(rowFactor) && std::isfinite(columnFactor))) {
    rastSetError(kRastOutOfRange, kName);
    return nullptr;
  }
  const double rowStep = 1 / rowFactor;
  const double columnStep = 1 / columnFactor;
  const double rows = std::trunc(p->height / rowStep + 1);
  const double columns = std::trunc(p->width / columnStep + 1);
  if (!(rows <= kMaxPictureSide && columns <= kMaxPictureSide)) {
    rastSetError(kRastOutOfMemory, "AllocTPicture");
    return failed(nullptr, nullptr, nullptr, nullptr, nullptr);
  }
  TPicture* n = AllocTPicture(static_cast<int32_t>(rows), static_cast<int32_t>(columns));
  if (!n) return failed(nullptr, nullptr, nullptr, nullptr, nullptr);
  n->columnDpi = p->columnDpi;
  n->rowDpi = p->rowDpi;

  ScaleRows s{};
  s.source = p;
  s.columnFactor = columnFactor;
  s.outWidth = n->width;
  s.outWords = static_cast<int32_t>(bitmapWords(n->width));
  s.runFactor = static_cast<int64_t>(std::trunc(columnFactor * 32768));
  const double f = (std::trunc((p->width - 1) * columnFactor) + 1) / std::max(p->width, 1);
  s.byteSpan = static_cast<float>(8 * f);
  const int64_t inWords = bitmapWords(p->width);
  s.out = AllocBitmapString(std::max(s.outWords, 1));
  s.in = AllocBitmapString(static_cast<int32_t>(inWords + 1));
  s.offsets = static_cast<int32_t*>(rioCalloc(static_cast<size_t>(inWords + 1), sizeof(int32_t)));
  s.runs = static_cast<int32_t*>(
      rioCalloc(static_cast<size_t>(slineValues(std::max(p->width, 1))), sizeof(int32_t)));
  if (!s.out || !s.in || !s.offsets || !s.runs) {
    rastSetError(kRastOutOfMemory, "AllocBitmapString");
    return failed(n, s.out, s.in, s.offsets, s.runs);
  }
  auto put = [&](int32_t row) { return WriteBitmapStringTPicture(n, row, s.out, s.outWords, 0); };
  int32_t k = 0;
  if (rowStep > 1) {
    // Output row k ORs source rows trunc(s) .. trunc(s + step); neighbouring groups share a row.
    for (double at = 0; at < p->height && k < n->height; at += rowStep, ++k) {
      FillBitmapString(s.out, s.outWords, 0);
      const auto r1 = static_cast<int32_t>(std::min<double>(std::trunc(at + rowStep), p->height - 1));
      for (auto r = static_cast<int32_t>(std::trunc(at)); r <= r1; ++r) s.add(r);
      if (!put(k)) return failed(n, s.out, s.in, s.offsets, s.runs);
    }
  } else {
    double acc = 0;
    for (int32_t r = 0; r < p->height && k < n->height; ++r) {
      FillBitmapString(s.out, s.outWords, 0);
      s.add(r);
      do {
        if (!put(k++)) return failed(n, s.out, s.in, s.offsets, s.runs);
        acc += rowStep;
      } while (acc < 1 && k < n->height);
      acc -= 1;
    }
  }
  rioFree(s.out);
  rioFree(s.in);
  rioFree(s.offsets);
  rioFree(s.runs);
  PackBlackTPicture(n);
  if (!keepSource) FreeTPicture(p);
  return n;
}

TPicture* rastScaleImage(TPicture* p, double rowFactor, double columnFactor, int keepSource) {
  if (!p) {
    rastSetError(kRastNoPicture, "rastScaleImage");
    return nullptr;
  }
  const double columns = p->width * columnFactor;
  const double rows = p->height * rowFactor;
  if (!(columns >= 1 && columns <= 2147483647.0 && rows >= 1 && rows <= 2147483647.0)) {
    rastSetError(kRastOutOfRange, "rastScaleImage");
    return nullptr;
  }
  return ScaleTPicture(p, rowFactor, columnFactor, keepSource);
}

}  // namespace vantrel
