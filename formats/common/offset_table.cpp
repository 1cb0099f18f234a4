#include "formats/common/offset_table.h"

#include <algorithm>

#include "formats/common/byte_io.h"
#include "rio/alloc.h"

namespace vantrel {

OffsetTable::~OffsetTable() {
  rioFree(offsets);
  rioFree(byteCounts);
}

RioStatus offsetTableReserve(OffsetTable* table, int64_t entries) {
  if (entries <= table->capacity) return kRioOk;
  const int64_t steps = (entries - table->capacity + kOffsetTableGrowth - 1) / kOffsetTableGrowth;
  const int64_t capacity = table->capacity + steps * kOffsetTableGrowth;
  if (capacity > INT32_MAX / 4) return kRioOutOfMemory;
  auto* o = static_cast<uint32_t*>(rioRealloc(table->offsets, static_cast<size_t>(capacity) * 4));
  if (!o) return kRioOutOfMemory;
  table->offsets = o;
  auto* c = static_cast<uint32_t*>(rioRealloc(table->byteCounts, static_cast<size_t>(capacity) * 4));
  if (!c) return kRioOutOfMemory;
  table->byteCounts = c;
  table->capacity = static_cast<int32_t>(capacity);
  return kRioOk;
}

namespace {

bool fits32(int64_t v) { return v >= 0 && v <= int64_t{UINT32_MAX}; }

}  // namespace

RioStatus offsetTableAdd(OffsetTable* table, int64_t offset, int64_t bytes) {
  return offsetTableSet(table, table->count, offset, bytes);
}

RioStatus offsetTableSet(OffsetTable* table, int64_t index, int64_t offset, int64_t bytes) {
  if (index < 0) return kRioBadParameter;
  if (!fits32(offset) || !fits32(bytes)) return kRioInternal;
  if (RioStatus r = offsetTableReserve(table, index + 1)) return r;
  for (int64_t i = table->count; i < index; ++i) table->offsets[i] = table->byteCounts[i] = 0;
  table->offsets[index] = static_cast<uint32_t>(offset);
  table->byteCounts[index] = static_cast<uint32_t>(bytes);
  table->count = static_cast<int32_t>(std::max<int64_t>(table->count, index + 1));
  return kRioOk;
}

RioStatus offsetTableWrite(const OffsetTable& table, RasterStream* s, TableColumns columns, bool bigEndian,
                           int64_t base) {
  constexpr int32_t kChunk = 256;  // values per write
  uint8_t buffer[4 * kChunk];
  const int32_t perEntry = columns == TableColumns::kPairs ? 2 : 1;
  int32_t filled = 0;
  for (int32_t i = 0; i < table.count; ++i) {
    if (columns != TableColumns::kByteCounts) {
      const int64_t offset = int64_t{table.offsets[i]} - base;
      if (offset < 0) return kRioInternal;
      put32(buffer + 4 * filled++, static_cast<uint32_t>(offset), bigEndian);
    }
    if (columns != TableColumns::kOffsets) put32(buffer + 4 * filled++, table.byteCounts[i], bigEndian);
    if (filled + perEntry > kChunk || i + 1 == table.count) {
      if (RioStatus r = writeAll(s, buffer, 4 * int64_t{filled})) return r;
      filled = 0;
    }
  }
  return kRioOk;
}

}  // namespace vantrel
