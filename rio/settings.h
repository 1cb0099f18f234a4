// What the front end read from its environment, carried by the streams and the RCB. Empty = unset.
#pragma once

#include <string>

namespace vantrel {

struct RioSettings {
  std::string tiffStrips;     // "ZEB_STRIPS": rows per TIFF strip, as text (the TIFF writer parses it)
  std::string versatecModel;  // "ZEB_VBF": the Versatec model, as text
  std::string maxPageSide;    // "ZEB_MAXPAGE": rows and columns a page may have, as text (rioMaxPageSide)
  std::string pclMode;        // "ZEB_PCLMODE": the PCL and RTL raster compression, as text
  std::string tempDir;        // folder for spool files; empty = the system default
  std::string sourceDate;     // "SOURCE_DATE_EPOCH": seconds since 1970, the date PDF output states; empty = now
};

// The settings as an environment gives them: lookup(name) answers a variable's value or nullptr. The front
// ends pass std::getenv; nothing below them reads the environment.
template <class Lookup>
RioSettings settingsFromLookup(Lookup lookup) {
  RioSettings settings;
  const struct {
    const char* name;
    std::string RioSettings::*field;
  } kVariables[] = {{"ZEB_STRIPS", &RioSettings::tiffStrips},
                    {"ZEB_VBF", &RioSettings::versatecModel},
                    {"ZEB_PCLMODE", &RioSettings::pclMode},
                    {"ZEB_MAXPAGE", &RioSettings::maxPageSide},
                    {"TMPDIR", &RioSettings::tempDir},
                    {"SOURCE_DATE_EPOCH", &RioSettings::sourceDate}};
  for (const auto& v : kVariables)
    if (const char* value = lookup(v.name)) settings.*v.field = value;
  return settings;
}

}  // namespace vantrel
