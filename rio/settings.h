// What the front end read from its environment, carried by the streams and the RCB. Empty = unset.
#pragma once

#include <string>

namespace vantrel {

struct RioSettings {
  std::string tiffStrips;     // "ZEB_STRIPS": rows per TIFF strip, as text (the TIFF writer parses it)
  std::string versatecModel;  // "ZEB_VBF": the Versatec model, as text
  std::string tempDir;        // folder for spool files; empty = the system default
  std::string sourceDate;     // "SOURCE_DATE_EPOCH": seconds since 1970, the date PDF output states; empty = now
};

}  // namespace vantrel
