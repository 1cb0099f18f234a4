// A page written band by band through the band writer. Rows collect in the band until it holds its tile
// row's rows (the tile length, or what is left of the page in the last tile row); then the driver writes
// the band's tiles. A page that ends with fewer rows than its height is finished white, so that every
// tile of every tile row exists and the tile table is complete.
#pragma once

#include <cstdint>

#include "formats/common/band_writer.h"
#include "rio/rcb.h"

namespace vantrel {

struct BandPage {
  BandWriter band;
  int32_t height = 0;
  int32_t tileRows = 0;  // ceil(height / tile length)
  int32_t tileRow = 0;   // tile rows written
};

// Writes the tiles of tile row `tileRow` from the band, which holds `rows` rows (white below what arrived).
using BandPageWriteRow = RioStatus (*)(void* context, BandWriter* band, int32_t tileRow, int32_t rows);

// A page `width` by `height` in tiles of tileWidth by tileLength. A page of no rows has no band. -3 when
// memory runs out, -4 for sizes below 1.
[[nodiscard]] RioStatus bandPageInit(BandPage* page, int32_t width, int32_t height, int32_t tileWidth,
                                     int32_t tileLength);

// The rows of tile row `tileRow`: the tile length, or the remainder in the last tile row.
int32_t bandPageRows(const BandPage& page, int32_t tileRow);

// Adds the page's next row, and writes the band when the row completes it. -18 past the last tile row.
[[nodiscard]] RioStatus bandPageAddRow(BandPage* page, const int32_t* runs, BandPageWriteRow write, void* context);

// Writes the band that holds rows, and every tile row still missing, white below the rows that arrived.
[[nodiscard]] RioStatus bandPageFinish(BandPage* page, BandPageWriteRow write, void* context);

// The end of a page whose writer fills its tables in afterwards. A page closed before its first row still
// gets its header (writeHeader sets *headerDone once the header is out); unless the run has failed (its
// output is thrown away, and a hostile height must not make it huge) the page is finished white. Without a
// header there is nothing to finish: the run's own failure is the result.
[[nodiscard]] RioStatus bandPageEnd(RCB* rcb, BandPage* page, const bool* headerDone, DriverOp writeHeader,
                                    BandPageWriteRow write, void* context);

}  // namespace vantrel
