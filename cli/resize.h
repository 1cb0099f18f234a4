// The geometry branches of the console translation run: rotation through a whole-page picture, the paper-
// size check of mmr output and the resize path. They work on the run's TranslateJob and report through
// the run's messages.
#pragma once

#include <cstdio>

#include "cli/options.h"
#include "rio/rcb.h"
#include "rio/stream.h"

namespace vantrel {

// The input RCB of a rotated run: the whole input as a picture, turned, served line by line. None with
// *status set when it cannot be made.
[[nodiscard]] RCB* openPictureInput(TranslateJob& job, RioStatus* status);

// The next input line into in->curSline: from the job's picture when there is one, else from the reader.
// False when no line is left (the RCB's status says why).
[[nodiscard]] bool nextInputLine(RCB* in, TranslateJob& job);

// The paper-size check of an mmr output: accepts (perhaps setting job.scale) or refuses after printing
// its message to `out`.
[[nodiscard]] bool checkPaperSize(RCB* in, TranslateJob& job, std::FILE* out);

// Writes the input scaled to the output resolutions or the paper-size factor; closes both RCBs. The
// result is the run's status.
[[nodiscard]] RioStatus resizeTranslate(RcbPtr in, TranslateJob& job, RasterStream* outStream,
                                        RasterFormatId outFormat);

// Releases the job's picture, if any.
void releaseJobPicture(TranslateJob& job);

}  // namespace vantrel
