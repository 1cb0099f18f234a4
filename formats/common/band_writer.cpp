#include "formats/common/band_writer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "formats/common/raster_row.h"

namespace vantrel {
namespace {

bool reserveBuffer(BandWriter* w, int64_t bytes) {
  if (bytes <= w->bufferCapacity) return true;
  const int64_t capacity = std::max<int64_t>(bytes, 2 * w->bufferCapacity);
  if (capacity > INT32_MAX) return false;
  auto* b = static_cast<uint8_t*>(rioRealloc(w->buffer, static_cast<size_t>(capacity)));
  if (!b) return false;
  w->buffer = b;
  w->bufferCapacity = capacity;
  return true;
}

// The sink of the writer's memory stream: what the coder writes is appended to the buffer.
size_t appendToBuffer(const void* data, size_t size, size_t count, void* context) {
  auto* w = static_cast<BandWriter*>(context);
  const auto n = static_cast<int64_t>(size * count);
  if (!reserveBuffer(w, w->bufferBytes + n)) return 0;
  std::memcpy(w->buffer + w->bufferBytes, data, static_cast<size_t>(n));
  w->bufferBytes += n;
  return count;
}

RioStatus checkRows(const BandWriter& w, const TileRows& r) {
  if (!w.band || r.column < 0 || r.column >= w.tilesAcross || r.firstRow < 0 || r.rows < 0 ||
      int64_t{r.firstRow} + r.rows > w.tileLength || r.width < 1 || r.width > w.tileWidth)
    return kRioBadParameter;
  return kRioOk;
}

RioStatus openMemory(BandWriter* w) {
  if (w->memory) return kRioOk;
  RasterStream* memory = streamOpen(nullptr, "w");
  if (!memory) return kRioOutOfMemory;
  if (!streamSetWriteCallback(memory, appendToBuffer, w)) {
    (void)streamClose(memory);
    return kRioInternal;
  }
  w->memory = memory;
  return kRioOk;
}

}  // namespace

BandWriter::~BandWriter() {
  if (memory) (void)streamClose(memory);  // its last bytes still go to the buffer
  rioFree(buffer);
  if (band) FreeTPicture(band);
  rioFree(pageRow);
  rioFree(bandRows);
  rioFree(arena);
}

RioStatus bandWriterInit(BandWriter* w, int32_t width, int32_t tileWidth, int32_t tileLength,
                         int64_t arenaValues) {
  if (width < 1 || tileWidth < 1 || tileLength < 1 || arenaValues < 0) return kRioBadParameter;
  if (w->band) FreeTPicture(w->band);
  w->band = nullptr;
  rioFree(w->pageRow);
  w->pageRow = nullptr;
  rioFree(w->bandRows);
  w->bandRows = nullptr;
  rioFree(w->arena);
  w->arena = nullptr;
  w->arenaCapacity = 0;
  w->arenaUsed = 0;
  // Run lists never take more than the band would as a bitmap, so that a dense band costs no more than
  // twice its bitmap.
  w->arenaLimit = std::min(arenaValues, int64_t{tileLength} * ((int64_t{width} + 31) / 32));
  w->pictureUsed = false;
  w->width = width;
  w->tileWidth = tileWidth;
  w->tileLength = tileLength;
  w->tilesAcross = static_cast<int32_t>((int64_t{width} + tileWidth - 1) / tileWidth);
  w->rows = 0;
  w->encoder = FaxEncoder{};
  w->band = AllocTPicture(tileLength, width);
  if (!w->band) return kRioOutOfMemory;
  w->bandRows = static_cast<BandRow*>(rioMalloc(static_cast<size_t>(tileLength) * sizeof(BandRow)));
  if (!w->bandRows) return kRioOutOfMemory;
  const int64_t values = slineValues(width) + 2;
  w->pageRow = static_cast<int32_t*>(rioMalloc(static_cast<size_t>(values) * sizeof(int32_t)));
  if (!w->pageRow) return kRioOutOfMemory;
  w->pageRow[0] = w->pageRow[1] = 0;
  w->pageRow[2] = w->pageRow[3] = kSlineEnd;
  return linePairAlloc(&w->tile, tileWidth);
}

namespace {

// Room for `values` more in the arena, within its bound; false sends the row to the picture.
bool reserveArena(BandWriter* w, int64_t values) {
  const int64_t need = w->arenaUsed + values;
  if (need <= w->arenaCapacity) return true;
  if (need > w->arenaLimit) return false;
  const int64_t capacity = std::min(std::max({need, 2 * w->arenaCapacity, int64_t{1} << 14}), w->arenaLimit);
  auto* a = static_cast<int32_t*>(rioRealloc(w->arena, static_cast<size_t>(capacity) * sizeof(int32_t)));
  if (!a) return false;
  w->arena = a;
  w->arenaCapacity = capacity;
  return true;
}

}  // namespace

RioStatus bandWriterAddRow(BandWriter* w, const int32_t* runs) {
  if (!w->band || bandWriterFull(*w)) return kRioInternal;
  int32_t* row = w->pageRow + 2;
  const int64_t values = int64_t{faxNormalizeLine(runs, row, w->width)} + 2;
  BandRow& r = w->bandRows[w->rows];
  r.cursor = 0;
  r.left = 0;
  if (reserveArena(w, values)) {
    r.at = w->arenaUsed;
    std::memcpy(w->arena + w->arenaUsed, row, static_cast<size_t>(values) * sizeof(int32_t));
    w->arenaUsed += values;
  } else {
    r.at = -1;
    w->pictureUsed = true;
    if (!WriteRunsTPicture(w->band, w->rows, row, 1)) return kRioOutOfMemory;
  }
  ++w->rows;
  return kRioOk;
}

void bandWriterClear(BandWriter* w) {
  if (w->band && w->pictureUsed) ClearTPicture(w->band);
  w->pictureUsed = false;
  w->arenaUsed = 0;
  w->rows = 0;
}

int32_t bandWriterColumnWidth(const BandWriter& w, int32_t column) {
  const int64_t left = int64_t{column} * w.tileWidth;
  return static_cast<int32_t>(std::clamp<int64_t>(w.width - left, 0, w.tileWidth));
}

namespace {

// The first and last picture column of a cut.
struct Cut {
  int32_t left;
  int32_t last;
};

Cut cutOf(const BandWriter& w, int32_t column, int32_t width) {
  const int64_t left = int64_t{column} * w.tileWidth;
  return {static_cast<int32_t>(left), static_cast<int32_t>(std::min<int64_t>(left + width - 1, INT32_MAX))};
}

// The cut of a row kept in the arena: its runs inside [left, last], clipped and moved to start at 0. The
// rows are normalised (no runs touch), so the list is the one the picture would give.
int32_t cutArenaRow(const int32_t* row, BandRow& r, const Cut& cut, int32_t* out) {
  int32_t* const first = out;
  const int32_t left = cut.left;
  int32_t i = left >= r.left ? r.cursor : 0;
  while (row[i] != kSlineEnd && row[i + 1] <= left) i += 2;
  r.cursor = i;
  r.left = left;
  const int32_t last = cut.last;
  for (; row[i] != kSlineEnd && row[i] <= last; i += 2) {
    out[0] = std::max(row[i], left) - left;
    out[1] = std::min(row[i + 1] - 1, last) + 1 - left;
    out += 2;
  }
  out[0] = out[1] = kSlineEnd;
  return static_cast<int32_t>(out - first);
}

// The cut of a row into `runs`, normalised and inside [0, width): returns its value count.
int32_t cutRow(const BandWriter& w, int32_t row, const Cut& cut, int32_t* runs) {
  if (row < 0 || row >= w.rows) {
    runs[0] = runs[1] = kSlineEnd;
    return 0;
  }
  BandRow& r = w.bandRows[row];
  if (r.at >= 0) return cutArenaRow(w.arena + r.at, r, cut, runs);
  const int32_t n = ExtractRunsTPicture(w.band, row, runs, cut.left, cut.last);
  rioShiftSline(runs, -cut.left);
  return 2 * n;
}

}  // namespace

void bandWriterCutRow(const BandWriter& w, int32_t column, int32_t row, int32_t width, int32_t* runs) {
  cutRow(w, row, cutOf(w, column, width), runs);
}

RioStatus bandWriterCodeG4(BandWriter* w, const TileRows& rows, RasterStream* out, int64_t* bytes) {
  if (RioStatus r = checkRows(*w, rows)) return r;
  const int64_t start = streamTell(out);
  FaxEncoder* encoder = &w->encoder;
  faxEncoderRestart(encoder);
  LinePair& lines = w->tile;
  linePairRestart(&lines);
  // The loop keeps what it needs in locals: the coder may write anywhere as far as the compiler knows.
  const Cut cut = cutOf(*w, rows.column, rows.width);
  const int32_t width = rows.width;
  int32_t* cur = lines.cur;
  int32_t* ref = lines.ref;
  RioStatus status = kRioOk;
  for (int32_t y = rows.firstRow, end = rows.firstRow + rows.rows; y < end && status == kRioOk; ++y) {
    // A cut row is normalised and inside the tile: ended as an own line, it is coded without checks.
    const int32_t n = cutRow(*w, y, cut, cur);
    for (int32_t i = 2; i < kFaxOwnLineEnds; ++i) cur[n + i] = kSlineEnd;
    status = g4EncodeOwnLine(encoder, out, width, cur, ref);
    std::swap(cur, ref);
  }
  lines.cur = cur;
  lines.ref = ref;
  if (status == kRioOk) status = g4EncodeFinish(encoder, out);
  if (status != kRioOk) return status;
  *bytes = streamTell(out) - start;
  return kRioOk;
}

RioStatus bandWriterCodeG4Buffered(BandWriter* w, const TileRows& rows, TileCode* code) {
  if (RioStatus r = openMemory(w)) return r;
  w->bufferBytes = 0;
  int64_t bytes = 0;
  const RioStatus r = bandWriterCodeG4(w, rows, w->memory, &bytes);
  // The memory stream fails only when the buffer cannot grow.
  if (!streamFlush(w->memory)) return kRioOutOfMemory;
  if (r != kRioOk) return r;
  code->data = w->buffer;
  code->bytes = w->bufferBytes;
  return kRioOk;
}

RioStatus bandWriterRawRows(BandWriter* w, const TileRows& rows, int32_t rowBytes, TileCode* code) {
  if (RioStatus r = checkRows(*w, rows)) return r;
  if (rowBytes < (int64_t{rows.width} + 7) / 8) return kRioBadParameter;
  const int64_t total = int64_t{rows.rows} * rowBytes;
  if (!reserveBuffer(w, std::max<int64_t>(total, 1))) return kRioOutOfMemory;
  int32_t* runs = w->tile.cur;
  const int64_t pairs = slineValues(rows.width) / 2;
  for (int32_t i = 0; i < rows.rows; ++i) {
    bandWriterCutRow(*w, rows.column, rows.firstRow + i, rows.width, runs);
    rowFromRuns(w->buffer + int64_t{i} * rowBytes, rowBytes, runs, pairs, rows.width);
  }
  w->bufferBytes = total;
  code->data = w->buffer;
  code->bytes = total;
  return kRioOk;
}

}  // namespace vantrel
