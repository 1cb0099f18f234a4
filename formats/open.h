// Opening an RCB: the registry finds the format's driver (recognising the input from its first five
// bytes when the format is 0) and stores it in the RCB, whose line operations then call it.
#pragma once

#include <cstdint>

#include "rio/format_id.h"
#include "rio/rcb.h"

namespace vantrel {

// Each returns the RCB, or nullptr with the status in *status; a failed open releases everything.
[[nodiscard]] RCB* rioOpenRasterRead(RasterStream* in, RasterFormatId format, RioStatus* status);
[[nodiscard]] RCB* rioOpenRasterWrite(RasterStream* out, int32_t width, int32_t height, RasterFormatId format,
                                      RioStatus* status);
[[nodiscard]] RCB* rioOpenRasterReadWrite(RasterStream* in, RasterFormatId inFormat, RasterStream* out,
                                          RasterFormatId outFormat, RioStatus* status);

// Recognition of the input format from its first five bytes; 0 with *status set when nothing matches.
[[nodiscard]] RasterFormatId rioRecognizeRaster(RCB* rcb, RioStatus* status);
// The probes alone, over bytes already read (count < 5: -8).
[[nodiscard]] RasterFormatId rioRecognizeBytes(const uint8_t* bytes, int32_t count, RioStatus* status);

}  // namespace vantrel
