// The options of one translation run, as a front end's arguments give them. No open files: the files,
// streams, RCBs and the picture belong to the run itself.
#pragma once

#include <cstdint>
#include <string>

#include "rio/format_id.h"

namespace vantrel {

// Port numbers of lpt1, lpt2 and lpt3 (the third is 3, not 2).
inline constexpr int32_t kNoPort = -1;
inline constexpr int32_t kPortNumbers[] = {0, 1, 3};

// -page all: every page of the input into one output.
inline constexpr int32_t kAllPages = -1;
// The name that stands for standard input (as the input) or standard output (as the output).
inline constexpr char kStandardStream[] = "-";

struct RunOptions {
  RasterFormatId inFormat = 0;   // from the input's extension where the dialect keeps it; 0 = recognise
  RasterFormatId outFormat = 0;  // from -rof, else from the output name's extension
  std::string inName;
  std::string outName;     // the output file, or "lpt1", "lpt2", "lpt3" for a port (console)
  int32_t port = kNoPort;  // the port number when the output is a port
  double inDpi = 0;        // -dpi; 0 = not given
  double outXDpi = 0;      // -xdpi or -odpi; 0 = not given
  double outYDpi = 0;      // -ydpi or -odpi; 0 = not given
  int32_t sizeCode = 0;    // -size: 1..5 for A0..A4, 9..13 for A0L..A4L (console)
  int32_t rotation = 0;    // -rot: 0, 90, 180 or 270 (console)
  bool inFormatFromExtension = false;  // -ext: keep any format the input's extension names (batch)
  bool digest = false;                 // -digest: report the page digest (console)
  int32_t page = 0;                    // -page: the page from 1, or kAllPages; 0 = not given
  std::string unknownFormatName;       // the -rof value when it names no format
};

}  // namespace vantrel
