// Byte-producing decoders of stored rows as tile-reader filters (formats/common/tile_reader.h): LZW and Deflate,
// each in a most-significant-bit-first and a bit-reversed (least significant bit first) variant.
#pragma once

#include "formats/common/tile_reader.h"

namespace vantrel {

// lsbFirst: the stored bytes are least significant bit first.
const TileFilter* lzwTileFilter(bool lsbFirst);
const TileFilter* deflateTileFilter(bool lsbFirst);

}  // namespace vantrel
