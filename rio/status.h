// Status codes of the raster core and the format drivers, and the texts the core and the two front ends
// show for them. 0 is success, negative codes are the core's own, positive codes are small numbers from
// the stream layer or the system and are shown with the system's error text.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace vantrel {

using RioStatus = int32_t;

inline constexpr RioStatus kRioOk = 0;
inline constexpr RioStatus kRioEndOfPage = -1;
inline constexpr RioStatus kRioUnknownFormat = -2;
inline constexpr RioStatus kRioOutOfMemory = -3;
inline constexpr RioStatus kRioBadParameter = -4;
inline constexpr RioStatus kRioWrongMode = -5;
inline constexpr RioStatus kRioBadStream = -7;
inline constexpr RioStatus kRioStreamIo = -8;
inline constexpr RioStatus kRioNoRcb = -9;
inline constexpr RioStatus kRioUnexpectedEof = -10;
inline constexpr RioStatus kRioBadHeader = -11;
inline constexpr RioStatus kRioBadData = -12;
inline constexpr RioStatus kRioUnsupported = -13;
inline constexpr RioStatus kRioBadColumns = -14;
inline constexpr RioStatus kRioBadRows = -15;
inline constexpr RioStatus kRioNotImplemented = -16;
inline constexpr RioStatus kRioReducedImage = -17;  // TIFF reader warning only
inline constexpr RioStatus kRioInternal = -18;

// Stream-layer results passed on unchanged as positive statuses.
inline constexpr RioStatus kStreamSpoolTooLate = 2;  // makeSeekable: more than one buffer already gone
inline constexpr RioStatus kStreamSpoolOpen = 3;     // makeSeekable: temporary file cannot be made
inline constexpr RioStatus kStreamSpoolCopy = 4;     // makeSeekable: copying into it failed
inline constexpr RioStatus kStreamNotSeekable = 5;   // seek before makeSeekable succeeded
inline constexpr RioStatus kStreamSeekFailed = 6;    // the file's own seek failed, or a negative position
inline constexpr RioStatus kStreamFlushFailed = 7;   // output pending before a seek was not written in full

// The stream layer's own results (the positive codes above) are no system error numbers: as a raster status
// they are the stream failure -8. Other codes pass unchanged.
constexpr RioStatus rioFromStreamResult(int32_t code) {
  return code > 0 ? kRioStreamIo : code;
}

const char* rioStatusText(RioStatus code);         // the core's texts
const char* rioConsoleStatusText(RioStatus code);  // the console translator's texts
const char* rioGuiStatusText(RioStatus code);      // the batch translator's texts

// Words on what went wrong with a file, or on what a writer changed in it, for the front end to show beside
// the status ("bits per sample 8 ..."): the first note wins. A stream carries one to the drivers that read
// or write through it; the front end owns it.
struct RioDetail {
  std::string text;
};
inline void rioNoteDetail(RioDetail* detail, std::string text) {
  if (detail && detail->text.empty()) detail->text = std::move(text);
}

// Hands "prefix: text" (or the text alone) and a line end to the thread's diagnostics sink.
void rioPrintStatus(const char* prefix, RioStatus code);

}  // namespace vantrel
