// Toolkit errors. A failing picture routine stores its code as the last error and calls the error hook with
// the code and the routine's own name ("AllocTPicture"). The last error and the hook are kept per thread:
// the library has no process-wide mutable state, and a picture belongs to the thread that works on it.
#pragma once

#include "rio/status.h"

namespace vantrel {

using RastError = int;

inline constexpr RastError kRastNoError = 0;
inline constexpr RastError kRastOutOfMemory = 1;
inline constexpr RastError kRastProtected = 3;   // the picture is under undo protection
inline constexpr RastError kRastNoStream = 6;    // no input stream given
inline constexpr RastError kRastNoPicture = 7;   // no picture given
inline constexpr RastError kRastOutOfRange = 8;  // window outside the picture, scaled size out of range
inline constexpr RastError kRastBadSize = 9;
inline constexpr RastError kRastNotSupported = 10;
inline constexpr RastError kRastBadFormat = 11;
inline constexpr RastError kRastBadData = 13;
inline constexpr RastError kRastOutputIncomplete = 15;
inline constexpr RastError kRastInputEnded = 17;       // input ended early or output could not be completed
inline constexpr RastError kRastRasterStatus = 18;     // any other raster status
inline constexpr RastError kRastTransformFailed = 19;  // a quarter turn failed part-way, or a scale failed
inline constexpr RastError kRastStopped = 20;          // stopped by the progress callback

using RastErrorHook = void (*)(RastError code, const char* routine);

RastError rastGetLastError();
bool rastIsLastError(RastError code);
void rastClearLastError();
// Stores code as this thread's last error and calls this thread's hook with it and the routine's name.
void rastSetError(RastError code, const char* routine);
// Installs a hook for this thread (nullptr: the default, which does nothing); returns the previous one.
RastErrorHook rastSetErrorHook(RastErrorHook hook);

// The fixed translation of a raster status into a toolkit error: 0 and -1 give no error; -16 -> 10;
// -15, -14 -> 9; -12 -> 13; -11, -2 -> 11; -10, -8 -> 17; -3 -> 1; anything else -> 18.
RastError rastErrorFromStatus(RioStatus status);

}  // namespace vantrel
