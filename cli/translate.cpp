#include "cli/translate.h"

#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "cli/resize.h"
#include "formats/registry.h"
#include "rio/port.h"
#include "rio/sline.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {
namespace {

void printMessage(std::FILE* out, const char* text) {
  std::fprintf(out, "%s: %s", kProgramName, text);
}

void printStatus(std::FILE* out, RioStatus status) {
  std::fprintf(out, "%s: %s\n", kProgramName, rioConsoleStatusText(status));
}

bool portRefused(RasterFormatId format) {
  return format == kFormatPcl || format == kFormatPostScript;
}

// The output file this run made. It is removed on failure only while its name still names the regular
// file the run opened: never a device such as /dev/full, never a file that replaced it meanwhile.
class CreatedOutput {
 public:
  void opened(const std::string& name, std::FILE* file) {
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) return;
    name_ = name;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    armed_ = true;
  }

  void remove() const {
    if (!armed_) return;
    struct stat st {};
    if (::stat(name_.c_str(), &st) != 0 || st.st_dev != device_ || st.st_ino != inode_) return;
    std::remove(name_.c_str());
  }

 private:
  std::string name_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool armed_ = false;
};

// Opens the input for reading; a directory counts as an input that cannot be opened.
FilePtr openInputFile(const std::string& name) {
  FilePtr file(std::fopen(name.c_str(), "rb"));
  if (!file) return nullptr;
  struct stat st {};
  if (::fstat(::fileno(file.get()), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  return file;
}

// Resolution of the input: -dpi wins; an input that knows neither resolution gets 200 dpi. When only one
// of them is known, both stay as they are.
void applyInputResolution(RCB* in, const TranslateJob& job) {
  if (job.inDpi != 0) {
    (void)rioSetXDpi(in, job.inDpi);
    (void)rioSetYDpi(in, job.inDpi);
  } else if (rioGetXDpi(in) == 0 && rioGetYDpi(in) == 0) {
    (void)rioSetXDpi(in, 200);
    (void)rioSetYDpi(in, 200);
  }
}

// The reader has ended well: no error, or the end of the page after every line of the height.
bool inputEndedWell(const RCB* in) {
  return in->status == 0 || (in->status == kRioEndOfPage && in->linesRead >= in->height);
}

// The plain path: every input line copied into the output RCB. *reported is set when the cause has been
// printed already (the output RCB could not be opened).
RioStatus plainTranslate(RcbPtr in, TranslateJob& job, RasterStream* outStream, std::FILE* out,
                         bool* reported) {
  RioStatus status = 0;
  RcbPtr output(
      rioOpenRasterWrite(outStream, rioGetWidth(in.get()), rioGetHeight(in.get()), job.outFormat, &status));
  if (!output) {
    printStatus(out, status);
    *reported = true;
    return status;
  }
  (void)rioSetXDpi(output.get(), rioGetXDpi(in.get()));
  (void)rioSetYDpi(output.get(), rioGetYDpi(in.get()));
  // Header data a reader hands on (a CALS input's identification records, for one) reach the writer.
  if (in->extraHeader) status = rioSetExtraHeader(output.get(), in->extraHeader, in->extraHeaderLength);

  // The writer may have lowered its width (and its line buffers with it): copy within that width.
  const int32_t outputWidth = rioGetWidth(output.get());
  while (status == 0 && nextInputLine(in.get(), job)) {
    rioCopySlineClipped(in->curSline, output->curSline, outputWidth);
    status = rioWriteRasterSline(output.get());
    if (status != 0) break;
    rioSwapSlines(output.get());
    rioSwapSlines(in.get());
  }
  if (status == 0 && !inputEndedWell(in.get())) status = in->status;
  // A failed run's output is deleted: tell the writer, so that it does not pad the page to its height.
  if (status != 0) rioSetError(output.get(), status);
  in.reset();
  // The writer's close finishes the file (trailers, patched headers): its failure fails the run.
  const RioStatus closed = rioCloseRaster(output.release());
  return status != 0 ? status : closed;
}

void printPortFailure(std::FILE* out, int32_t portStatus) {
  if (portStatus & kPortOutOfPaper)
    printMessage(out, "printer out of paper\n");
  else if (portStatus & kPortIoError)
    printMessage(out, "printer I/O error\n");
  else if (portStatus & kPortTimedOut)
    printMessage(out, "printer timed out\n");
}

enum class Outcome { kRefused, kFailed, kComplete };

// Entry steps after the command line: formats, files, the run and its report (without the final line).
Outcome translateJob(TranslateJob& job, std::FILE* out, CreatedOutput* created) {
  job.inFormat = inputFormatFromPath(job.inName);

  job.inFile = openInputFile(job.inName);
  if (!job.inFile) {
    printMessage(out, "Cannot open input file.\n");
    return Outcome::kRefused;
  }
  if (job.outFormat == 0) job.outFormat = rioFormatFromPath(job.outName.c_str(), NameTable::kConsole);
  if (job.outFormat == 0) {
    printMessage(out, "Invalid output format type.\n");
    return Outcome::kRefused;
  }

  if (job.port == kNoPort) {
    job.outFile.reset(std::fopen(job.outName.c_str(), "wb"));
    if (!job.outFile) {
      printMessage(out, "Cannot open output file.\n");
      return Outcome::kRefused;
    }
    created->opened(job.outName, job.outFile.get());
    std::fprintf(out, "Generating file: %s\n", job.outName.c_str());
  } else {
    if (portRefused(job.outFormat)) {
      printMessage(out, "Printer port only supported for large format plotters.\n");
      return Outcome::kRefused;
    }
    std::fprintf(out, "Writing to port: %s\n", job.outName.c_str());
  }

  bool ok = runTranslation(job, out);
  if (job.outFile) {
    // The translation is complete only when every byte is in the file.
    bool closed = std::fclose(job.outFile.release()) == 0;
    if (ok && !closed) {
      printMessage(out, "Unable to complete writing file.\n");
      ok = false;
    }
  }
  return ok ? Outcome::kComplete : Outcome::kFailed;
}

}  // namespace

bool runTranslation(TranslateJob& job, std::FILE* out) {
  StreamPtr inStream(streamOpen(job.inFile.get(), "r"));
  StreamPtr outStream(streamOpen(job.outFile.get(), "w"));
  if (!inStream || !outStream) {
    std::fputs("Out of memory.\n", out);
    return false;
  }
  // Outlives the output stream, whose close may still send bytes to the port.
  PortJob portJob;
  RioStatus status = 0;
  bool reported = false;
  if (job.port != kNoPort) {
    portJob.port = job.port;
    portJob.progress = out;
    if (!streamSetWriteCallback(outStream.get(), portWriteCallback, &portJob)) {
      status = kRioInternal;
      printStatus(out, status);
      reported = true;
    }
  }

  if (!reported) {
    RcbPtr in(job.rotation != 0 ? openPictureInput(job, &status)
                                : rioOpenRasterRead(inStream.get(), job.inFormat, &status));
    if (!in) {
      printStatus(out, status);
      reported = true;
    } else {
      applyInputResolution(in.get(), job);
      if (job.outFormat == kFormatMmr && !checkPaperSize(in.get(), job, out)) {
        reported = true;  // the check has printed its refusal
      } else if (job.scale != 0 || job.outXDpi != 0 || job.outYDpi != 0) {
        status = resizeTranslate(std::move(in), job, outStream.get(), job.outFormat);
      } else {
        status = plainTranslate(std::move(in), job, outStream.get(), out, &reported);
      }
    }
  }

  inStream.reset();
  const bool complete = streamClose(outStream.release()) == 1;
  if (reported) return false;
  if (complete) {
    if (status != 0) printStatus(out, status);
    return status == 0;
  }
  if (job.port == kNoPort)
    printMessage(out, "Unable to complete writing file.\n");
  else
    printPortFailure(out, portJob.status);
  return false;
}

int runConsoleTranslator(int argc, const char* const argv[], std::FILE* out) {
  TranslateJob job;
  std::string messages;
  if (!parseCommandLine(argc, argv, &job, &messages)) {
    std::fputs(messages.c_str(), out);
    std::fputs(usageText().c_str(), out);
    return 0;
  }
  CreatedOutput created;
  Outcome outcome = translateJob(job, out, &created);
  if (outcome == Outcome::kComplete)
    printMessage(out, "Translation is complete.\n");
  else if (outcome == Outcome::kFailed)
    printMessage(out, "Incomplete translation.\n");

  releaseJobPicture(job);
  job.inFile.reset();
  job.outFile.reset();
  if (outcome != Outcome::kComplete) created.remove();
  return outcome == Outcome::kComplete ? 1 : 0;
}

}  // namespace vantrel
