// The one registry of formats: every RasterFormatId with its driver, what it reads and writes today, what
// its writer needs of the output, how inputs are recognised, and the names (extensions and -rof names) that
// select it.
#pragma once

#include <cstdint>

#include "formats/open.h"
#include "rio/format_id.h"
#include "rio/rcb.h"

namespace vantrel {

// One name that selects a format after -rof and as a file extension.
struct FormatNameSpec {
  const char* text = nullptr;  // lower case; null ends the entry's names
  int usageSlot = 0;           // its place in the usage text's -rof list (1, 2, ...); 0: not listed there
  bool listed = true;          // one of the console's names (the README's names column); else the GUI's
};

// A row of the batch translator's output format list. The position is kept in its settings: a row is
// never renumbered, new rows come after the last.
struct BatchRowSpec {
  int position = -1;  // -1: no row
  const char* text = nullptr;
  const char* extension = nullptr;  // the default extension of the row's output files
  const char* name = nullptr;       // the -rof name the row passes (one of the entry's names)
};

// A filter of the batch translator's Add Files dialog, after its "All types" filter.
struct DialogFilterSpec {
  int position = -1;  // -1: no filter
  const char* label = nullptr;
  const char* patterns = nullptr;  // ';'-separated
};

struct FormatInfo {
  RasterFormatId id = 0;
  const char* title = nullptr;           // what the README's format table calls it
  const FormatDriver* driver = nullptr;  // never null; ids without a built driver answer -16 in every slot
  bool reads = false;                    // the driver reads this format today
  bool writes = false;                   // the driver writes this format today
  bool seekableOutput = false;  // the writer goes back over what it wrote (a port output is spooled)
  bool byNameOnly = false;      // no magic: read only when the caller names the format
  bool toPort = false;          // may be sent to a printer port (the page-printer languages may not)
  bool lentLine = false;        // the writer only reads curSline, while it writes the line (it codes a
                                // normalised copy): a copy loop may lend it the reader's line of its width
  FormatNameSpec names[5] = {};  // the console's names first, in the order the documentation lists them
  BatchRowSpec rows[2] = {};
  bool device = false;  // the batch translator may send its output to a printer
  DialogFilterSpec filter = {};
};

// The driver of an id in 0..36 (0 and unknown ids get the driver that answers -16 everywhere).
const FormatDriver* rioFormatDriver(RasterFormatId id);
const FormatInfo& rioFormatInfo(RasterFormatId id);  // id 1..36; any other id gets "no format"

// Lower-cases the name (A-Z only) and looks it up among the names; 0 when no name matches.
RasterFormatId rioFormatFromName(const char* name);
// Looks up the text after the last '.' found at a position other than the first character; 0 if none.
RasterFormatId rioFormatFromPath(const char* path);

struct FormatName {
  const char* name;
  RasterFormatId id;
  bool listed;    // one of the console's names (the README's names column); the others are the GUI's
  int usageSlot;  // its place in the usage text's -rof list; 0: not there
};
// The names of every entry: the listed ones in id order, then the others in id order.
const FormatName* rioFormatNames(int* count);

// A recognition probe looks at the first five bytes of an input. It answers the format id when they are
// its format's, 0 when they are not; when they are its format's magic but name a variant no driver reads,
// it answers 0 with *status set (recognition then stops there).
using FormatProbe = RasterFormatId (*)(const uint8_t* bytes, RioStatus* status);
// The probes in the order recognition tries them; the first that answers decides.
const FormatProbe* rioRecognitionProbes(int* count);

// The driver answering -16 in every slot (id 2, and ids whose driver is not built).
extern const FormatDriver kNoFormatDriver;

// Drivers and probes defined in their own files.
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
extern const FormatDriver kPdfDriver;              // id 35
extern const FormatDriver kJdlDriver;              // ids 11 and 28
extern const FormatDriver kDsig4Driver;            // id 13
extern const FormatDriver kNkkDriver;              // id 21
extern const FormatDriver kFixedFrameDriver;       // id 30
extern const FormatDriver kCitDriver;              // id 31
extern const FormatDriver kRlcDriver;              // ids 7, 18 and 24
extern const FormatDriver kPcxDriver;              // id 20
extern const FormatDriver kFileNetDriver;          // ids 25 and 26
extern const FormatDriver kJedmicsDriver;          // ids 32 and 33
extern const FormatDriver kPbmDriver;              // id 36

RasterFormatId probeTiff(const uint8_t* bytes, RioStatus* status);
RasterFormatId probeCals(const uint8_t* bytes, RioStatus* status);
RasterFormatId probeNative(const uint8_t* bytes, RioStatus* status);  // ids 3, 4 and 5
RasterFormatId probeMmr(const uint8_t* bytes, RioStatus* status);
RasterFormatId probeDsig4(const uint8_t* bytes, RioStatus* status);
RasterFormatId probeFixedFrame(const uint8_t* bytes, RioStatus* status);
RasterFormatId probeCit(const uint8_t* bytes, RioStatus* status);
RasterFormatId probePcx(const uint8_t* bytes, RioStatus* status);
RasterFormatId probeFileNet(const uint8_t* bytes, RioStatus* status);  // ids 25 and 26
RasterFormatId probePbm(const uint8_t* bytes, RioStatus* status);

}  // namespace vantrel
