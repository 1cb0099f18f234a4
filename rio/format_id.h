// Format ids: every raster format the system knows has one number, stored in RCBs and looked up in the
// registry. The enumeration names them; the RCB and its callers keep the plain int32 form, because ids
// also arrive from callers and files and are checked against the range before use.
#pragma once

#include <cstdint>

namespace vantrel {

using RasterFormatId = int32_t;

enum FormatId : RasterFormatId {
  kFormatNone = 0,  // no format, or, when opening for reading, recognise it
  kFormatRunDump = 1,
  kFormatNoFormat = 2,
  kFormatRunLength = 3,
  kFormatNativeG3 = 4,
  kFormatNativeG4 = 5,
  kFormatCals = 6,
  kFormatRlc = 7,
  kFormatRtl = 8,
  kFormatPostScript = 9,
  kFormatTiff = 10,
  kFormatJdl = 11,
  kFormatCalComp = 12,
  kFormatDsig4 = 13,
  kFormatPcl = 14,
  kFormatOptigraphics = 15,
  kFormatVersatec = 16,
  kFormatTiffPlain = 17,
  kFormatRlcFamily = 18,
  kFormatRtlPlain = 19,
  kFormatPcx = 20,
  kFormatNkk = 21,
  kFormatTiffUncompressed = 22,
  kFormatTiffG3 = 23,
  kFormatGraphtec = 24,
  kFormatFileNet = 25,
  kFormatFileNetVariant = 26,
  kFormatTiffTiled = 27,
  kFormatJdl4000 = 28,
  kFormatHpgl2 = 29,
  kFormatFixedFrame = 30,
  kFormatCit = 31,
  kFormatJedmicsC4 = 32,
  kFormatEdmicsB4 = 33,
  kFormatMmr = 34,
  kFormatPdf = 35,
  kFormatPbm = 36,
};

inline constexpr RasterFormatId kMaxFormatId = kFormatPbm;

}  // namespace vantrel
