// The one registry of formats: every RasterFormatId with its driver, what it reads and writes today, and
// the names (extensions and -rof names) that select it in each front end.
#pragma once

#include <cstdint>

#include "rio/rcb.h"

namespace vantrel {

struct FormatInfo {
  RasterFormatId id;
  const char* title;           // what the README's format table calls it
  const FormatDriver* driver;  // never null; ids without a built driver answer -16 in every slot
  bool reads;                  // the driver reads this format today
  bool writes;                 // the driver writes this format today
};

// Which front end's name table a lookup uses: the console knows 31 names, the batch translator 37.
enum class NameTable { kConsole, kGui };

// The driver of an id in 0..34 (0 and unknown ids get the driver that answers -16 everywhere).
const FormatDriver* rioFormatDriver(RasterFormatId id);
const FormatInfo& rioFormatInfo(RasterFormatId id);  // id 1..34

// Lower-cases the name (A-Z only) and looks it up; 0 when no name matches.
RasterFormatId rioFormatFromName(const char* name, NameTable table = NameTable::kConsole);
// Looks up the text after the last '.' found at a position other than the first character; 0 if none.
RasterFormatId rioFormatFromPath(const char* path, NameTable table = NameTable::kConsole);

struct FormatName {
  const char* name;
  RasterFormatId id;
  bool guiOnly;
};
// The names in table order (for usage checks, documentation and tests).
const FormatName* rioFormatNames(int* count);

// The driver answering -16 in every slot (id 2, and ids whose driver is not built).
extern const FormatDriver kNoFormatDriver;

// Drivers defined in their own files.
extern const FormatDriver kRunDumpDriver;          // id 1
extern const FormatDriver kNativeRunLengthDriver;  // id 3
extern const FormatDriver kNativeFaxDriver;        // ids 4 and 5
extern const FormatDriver kCalsDriver;             // id 6
extern const FormatDriver kPostScriptDriver;       // id 9
extern const FormatDriver kCalCompDriver;          // id 12
extern const FormatDriver kVersatecDriver;         // id 16
extern const FormatDriver kRtlDriver;              // ids 8 and 19
extern const FormatDriver kPclDriver;              // id 14
extern const FormatDriver kHpgl2Driver;            // id 29
extern const FormatDriver kTiffDriver;             // ids 10, 15, 17, 22, 23 and 27
extern const FormatDriver kMmrDriver;              // id 34

}  // namespace vantrel
