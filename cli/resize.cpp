#include "cli/resize.h"

namespace vantrel {

// The picture, paper-size and resize paths are not built yet: each answers "not implemented".

RCB* openPictureInput(TranslateJob& job, RioStatus* status) {
  (void)job;
  *status = kRioNotImplemented;
  return nullptr;
}

bool nextInputLine(RCB* in, TranslateJob& job) {
  (void)job;  // no picture is ever made yet
  return rioReadRasterSline(in) != nullptr;
}

bool checkPaperSize(RCB* in, TranslateJob& job, std::FILE* out) {
  (void)in;
  if (job.sizeCode == 0) return true;
  std::fprintf(out, "%s: %s\n", kProgramName, rioConsoleStatusText(kRioNotImplemented));
  return false;
}

RioStatus resizeTranslate(RcbPtr in, TranslateJob& job, RasterStream* outStream, RasterFormatId outFormat) {
  (void)job;
  (void)outStream;
  (void)outFormat;
  in.reset();
  return kRioNotImplemented;
}

void releaseJobPicture(TranslateJob& job) {
  job.picture.reset();
}

}  // namespace vantrel
