// The raster compression of the HP PCL and RTL writers (ids 8, 14 and 19), as the setting "ZEB_PCLMODE"
// chooses it. The front ends check it before a run, the writers when they open.
#pragma once

#include <cstdint>
#include <string>

#include "rio/format_id.h"
#include "rio/settings.h"

namespace vantrel {

inline constexpr char kPclModeSetting[] = "ZEB_PCLMODE";

// 0 for unset, empty or "0" (each stream's own: PCL rows uncompressed, RTL rows in method 1), 2 for
// PackBits, 3 for delta row; -1 for any other value, which the writers refuse.
int32_t pclCompressionMode(const RioSettings& settings);

// Empty when the writer of `id` can take the settings; else why not, naming the setting and the values it
// may have (without a program name or a line end).
std::string pclModeRefusal(RasterFormatId id, const RioSettings& settings);

}  // namespace vantrel
