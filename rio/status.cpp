#include "rio/status.h"

#include <cstring>

#include "rio/diagnostics.h"

namespace vantrel {
namespace {

struct StatusText {
  RioStatus code;
  const char* core;
  const char* console;
  const char* gui;
};

constexpr StatusText kTexts[] = {
    {0, "successful operation", "successful operation", "successful operation"},
    {-1, "EOP in input data", "EOP in input data", "EOP in input data"},
    {-2, "unknown raster format type", "unknown raster format type", "unknown raster format type"},
    {-3, "out of memory", "out of memory", "out of memory"},
    {-4, "parameter out of range or illegal value", "internal error 1", "internal error 1"},
    {-5, "wrong mode for this operation", "internal error 2", "internal error 2"},
    {-7, "Stream not opened correctly", "internal error 3", "internal error 3"},
    {-8, "Stream I/O error", "unable to complete writing file", "unable to complete writing file"},
    {-9, "RCB not open correctly", "internal error 4", "internal error 4"},
    {-10, "unexpected input Stream EOF", "unexpected input Stream EOF", "unexpected input Stream EOF"},
    {-11, "bad header data", "bad header data", "bad header data"},
    {-12, "undecipherable or illegal raster data", "undecipherable or illegal raster data",
     "undecipherable or illegal raster data"},
    {-13, "raster format extension not supported", "raster format extension not supported",
     "raster format extension not supported"},
    {-14, "too many or too few columns", "too many or too few columns", "too many or too few columns"},
    {-15, "too many or too few rows", "too many or too few rows", "too many or too few rows"},
    {-16, "read or write function not implemented", "internal error 5", "read or write function not implemented"},
    {-18, "internal or debugging error", "internal error 6", "internal error 6"},
};

constexpr StatusText kDefault = {0, "unknown error", "internal error 8", "internal error 8"};

const StatusText& lookup(RioStatus code) {
  for (const StatusText& t : kTexts)
    if (t.code == code) return t;
  return kDefault;
}

}  // namespace

const char* rioStatusText(RioStatus code) { return code > 0 ? std::strerror(code) : lookup(code).core; }
const char* rioConsoleStatusText(RioStatus code) { return code > 0 ? std::strerror(code) : lookup(code).console; }
const char* rioGuiStatusText(RioStatus code) { return code > 0 ? std::strerror(code) : lookup(code).gui; }

void rioPrintStatus(const char* prefix, RioStatus code) {
  if (prefix)
    rioDiagnostic("%s: %s\n", prefix, rioStatusText(code));
  else
    rioDiagnostic("%s\n", rioStatusText(code));
}

}  // namespace vantrel
