// The table of strip or tile offsets and byte counts a tiled or stripped writer keeps: entries appended in
// the order the data are written (or set by index when the layout is known up front), held as the 32-bit
// values every format using it stores, and written out as one column of offsets, one column of byte counts,
// or (offset, byte count) pairs, in either byte order.
#pragma once

#include <cstdint>

#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

inline constexpr int32_t kOffsetTableGrowth = 1000;  // entries added whenever the table is full

struct OffsetTable {
  uint32_t* offsets = nullptr;
  uint32_t* byteCounts = nullptr;
  int32_t count = 0;     // entries in use
  int32_t capacity = 0;  // entries allocated

  OffsetTable() = default;
  OffsetTable(const OffsetTable&) = delete;
  OffsetTable& operator=(const OffsetTable&) = delete;
  ~OffsetTable();
};

// Makes room for at least `entries`, in steps of kOffsetTableGrowth; -3 when memory runs out or the
// table would pass INT32_MAX / 4 entries.
[[nodiscard]] RioStatus offsetTableReserve(OffsetTable* table, int64_t entries);

// Appends an entry, growing the table when it is full. -18 (internal error) for an offset or byte count
// outside 0..UINT32_MAX, which no 32-bit table field can hold; -3 as offsetTableReserve.
[[nodiscard]] RioStatus offsetTableAdd(OffsetTable* table, int64_t offset, int64_t bytes);

// Sets entry `index`; entries up to it that were never set read 0, and count covers it afterwards. Range
// and growth as offsetTableAdd; -4 for a negative index.
[[nodiscard]] RioStatus offsetTableSet(OffsetTable* table, int64_t index, int64_t offset, int64_t bytes);

enum class TableColumns {
  kOffsets,     // count 32-bit offsets
  kByteCounts,  // count 32-bit byte counts
  kPairs,       // count pairs (offset, byte count)
};

// Writes the entries at the stream's position as 32-bit numbers, big-endian or little-endian. `base` is
// subtracted from every offset written (a table counting from the start of an image header; an offset
// below it is -18). -8 as writeAll.
[[nodiscard]] RioStatus offsetTableWrite(const OffsetTable& table, RasterStream* s, TableColumns columns,
                                         bool bigEndian, int64_t base = 0);

}  // namespace vantrel
