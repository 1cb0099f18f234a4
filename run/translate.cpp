#include "run/translate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/open.h"
#include "formats/pages.h"
#include "formats/registry.h"
#include "rio/sline.h"
#include "run/option_table.h"
#include "run/output_file.h"
#include "run/page_digest.h"
#include "run/parse.h"

namespace vantrel {
namespace {

void say(Reporter& reporter, const Dialect& dialect, Severity severity, Message message,
         const std::string& argument = {}) {
  const std::string text = dialect.text(message, argument);
  if (!text.empty()) reporter.report(severity, text);
}

void sayStatus(Reporter& reporter, const Dialect& dialect, RioStatus status) {
  say(reporter, dialect, Severity::kError, Message::kStatus, dialect.statusText(status));
}

// The status reported as a run's cause, kept for its detail line.
void sayCause(Reporter& reporter, const Dialect& dialect, TranslateJob& job, RioStatus status, bool input) {
  sayStatus(reporter, dialect, status);
  if (job.failure == 0) {
    job.failure = status;
    job.inputCaused = input;
  }
}

// The run's own words on a refusal (the first wins).
void noteCause(TranslateJob& job, const std::string& file, std::string text) {
  if (!job.causeText.empty()) return;
  job.causeFile = file;
  job.causeText = std::move(text);
}

// The console's format names, each after a space.
std::string listedFormatNames() {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  std::string list;
  for (int i = 0; i < count; ++i)
    if (names[i].listed && rioFormatInfo(names[i].id).writes) list += std::string(" ") + names[i].name;
  return list;
}

// The system's words on the last failed call, or `otherwise` when it left none.
std::string systemCause(const char* otherwise) {
  return errno != 0 ? std::strerror(errno) : otherwise;
}

// Opens the input for reading ("-": standard input, when the front end has one); a directory counts as an
// input that cannot be opened.
FilePtr openInputFile(const std::string& name, int standardInput) {
  FilePtr file;
  if (name == kStandardStream && standardInput >= 0) {
    const int copy = ::dup(standardInput);
    if (copy >= 0 && !(file = FilePtr(::fdopen(copy, "rb")))) ::close(copy);
  } else {
    file.reset(std::fopen(name.c_str(), "rb"));
  }
  if (!file) return nullptr;
  struct stat st {};
  if (::fstat(::fileno(file.get()), &st) != 0) return nullptr;
  if (S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return nullptr;
  }
  return file;
}

// Resolution of the input: -dpi wins; an input that knows neither resolution gets -dpi's default. When
// only one of them is known, both stay as they are.
void applyInputResolution(RCB* in, TranslateJob& job) {
  const double inDpi = job.options.inDpi;
  if (inDpi != 0) {
    (void)rioSetXDpi(in, inDpi);
    (void)rioSetYDpi(in, inDpi);
  } else if (rioGetXDpi(in) == 0 && rioGetYDpi(in) == 0) {
    (void)rioSetXDpi(in, kDefaultResolution);
    (void)rioSetYDpi(in, kDefaultResolution);
    job.resolutionNote =
        "states no resolution: taken as " + std::to_string(kDefaultResolution) + " dpi (-dpi gives another)";
  }
}

// A page of no rows or no columns is no page: every input is refused with it.
RioStatus pageStatus(const RCB* in) {
  if (rioGetWidth(in) < 1) return kRioBadColumns;
  if (rioGetHeight(in) < 1) return kRioBadRows;
  return kRioOk;
}

// Ends a write RCB: a failed run's output is dropped, so the writer is told first (it then does not pad
// the page to its height); the writer's close finishes the file (trailers, patched headers) and its
// failure fails the run.
RioStatus closeOutput(RCB* output, RioStatus status) {
  if (status != 0) rioSetError(output, status);
  const RioStatus closed = rioCloseRaster(output);
  return status != 0 ? status : closed;
}

// The pages a run takes, from 0.
struct PageRange {
  int32_t first = 0;
  int32_t last = 0;
  int32_t count() const { return last - first + 1; }
};

std::string pagesHeld(const std::string& name, int32_t count) {
  return name + " holds " + std::to_string(count) + (count == 1 ? " page" : " pages");
}

// The pages -page asks for, out of the input's `count`; without it the first, with a notice when there
// are more. False when the page asked for is not there (reported).
bool choosePages(const Dialect& dialect, const RunOptions& o, int32_t count, Reporter& reporter,
                 PageRange* range) {
  if (o.page == kAllPages) {
    *range = {0, count - 1};
    return true;
  }
  if (o.page > count) {
    say(reporter, dialect, Severity::kNotice, Message::kNoSuchPage, pagesHeld(o.inName, count));
    return false;
  }
  if (o.page == 0 && count > 1)
    say(reporter, dialect, Severity::kNotice, Message::kFirstPageOnly, pagesHeld(o.inName, count));
  const int32_t page = o.page > 0 ? o.page - 1 : 0;
  *range = {page, page};
  return true;
}

// One page through two RCBs: every input line copied into the output RCB (and into the digest, when there
// is one). The output RCB is opened for the first page and takes each later page's size. *reported is set
// when the cause has been reported already (the output RCB could not be opened).
RioStatus copyPage(RunInput& in, TranslateJob& job, RasterStream* outStream, RcbPtr& output, int32_t pages,
                   const Dialect& dialect, Reporter& reporter, bool* reported, PageDigest* digest) {
  RCB* input = in.rcb();
  RioStatus status = 0;
  if (!output) {
    output.reset(
        rioOpenRasterWrite(outStream, rioGetWidth(input), rioGetHeight(input), job.options.outFormat, &status));
    if (!output) {
      sayCause(reporter, dialect, job, status, false);
      *reported = true;
      return status;
    }
    output->pagesToWrite = pages;
  } else if (RioStatus r = rioSizeWrittenPage(output.get(), rioGetWidth(input), rioGetHeight(input))) {
    return r;
  }
  (void)rioSetXDpi(output.get(), rioGetXDpi(input));
  (void)rioSetYDpi(output.get(), rioGetYDpi(input));
  // Header data a reader hands on (a CALS input's identification records and orientation, a TIFF's names)
  // reach the writer.
  status = rioSetExtraHeader(output.get(), input->extraHeader, input->extraHeader ? input->extraHeaderLength : 0);
  rioCarryOrientation(output.get(), input);
  // Nothing on this path changes the pixels: a writer may copy the reader's code as it is.
  rioOfferCarriedCode(output.get(), input);

  const int32_t outputWidth = rioGetWidth(output.get());
  if (status == 0 && digest && !digest->begin(outputWidth, rioGetHeight(output.get()))) status = kRioOutOfMemory;
  // A writer that only reads its line borrows the reader's line of the same width instead of a copy: it
  // normalises what it codes just as the clipped copy would.
  const bool lend = outputWidth == rioGetWidth(input) && rioFormatInfo(output->outFormat).lentLine;
  while (status == 0 && in.next()) {
    if (lend) {
      if (digest) digest->addLine(input->curSline);
      const Sline own = output->curSline;
      output->curSline = input->curSline;
      status = rioWriteRasterSline(output.get());
      output->curSline = own;
    } else {
      rioCopySlineClipped(input->curSline, output->curSline, outputWidth);
      if (digest) digest->addLine(output->curSline);
      status = rioWriteRasterSline(output.get());
    }
    if (status != 0) break;
    rioSwapSlines(output.get());
    rioSwapSlines(input);
  }
  if (status == 0 && !in.endedWell()) status = inputFailure(input->status);
  return status;
}

// Every page of the range through two RCBs, copied or resized; each page's digest goes to `digests`. The
// reader and the writer close at the end.
RioStatus translatePages(RunInput& in, TranslateJob& job, RasterStream* outStream, PageRange range,
                         bool resizing, const Dialect& dialect, Reporter& reporter, bool* reported,
                         PageDigest* digest, std::vector<std::string>* digests) {
  RcbPtr output;
  RioStatus status = 0;
  for (int32_t page = range.first; status == 0; ++page) {
    if (page > range.first) {
      status = rioEndWrittenPage(output.get());
      if (status != 0) break;
      status = inputFailure(in.readPage(page));
      if (status == 0) status = pageStatus(in.rcb());
      if (status != 0) {
        job.inputCaused = true;  // the next page could not be had
        break;
      }
      applyInputResolution(in.rcb(), job);
    }
    status = resizing ? resizePage(in, job, outStream, output, dialect, digest, range.count())
                      : copyPage(in, job, outStream, output, range.count(), dialect, reporter, reported, digest);
    if (status == 0 && digest) digests->push_back(digest->finish());
    if (page == range.last) break;
  }
  in.closeReader();
  if (!output) return status;
  return closeOutput(output.release(), status);
}

// One RCB that reads and writes: the line read is the line written, page after page.
RioStatus copyThroughOneRcb(RasterStream* inStream, TranslateJob& job, RasterStream* outStream,
                            const Dialect& dialect, Reporter& reporter, bool* reported, RunWatch* watch) {
  RioStatus status = 0;
  RcbPtr rcb(rioOpenRasterReadWrite(inStream, job.options.inFormat, outStream, job.options.outFormat, &status));
  if (!rcb) {
    // A failed open names no side: the reader's note, if it made one, says it was the input.
    sayCause(reporter, dialect, job, status, !job.inDetail.text.empty() || job.outDetail.text.empty());
    *reported = true;
    return status;
  }
  int32_t count = 1;
  PageRange range;
  status = rioCountPages(rcb.get(), &count);
  if (status == 0 && !choosePages(dialect, job.options, count, reporter, &range)) status = kRunNoSuchPage;
  if (status == 0 && range.first > 0) status = inputFailure(rioReadPage(rcb.get(), range.first));
  if (status == 0) status = pageStatus(rcb.get());
  if (status != 0) {
    if (status != kRunNoSuchPage) sayCause(reporter, dialect, job, status, true);
    *reported = true;
    return closeOutput(rcb.release(), status);
  }
  rcb->pagesToWrite = range.count();
  for (int32_t page = range.first; status == 0; ++page) {
    if (page > range.first) {
      status = rioEndWrittenPage(rcb.get());
      if (status == 0) status = inputFailure(rioReadPage(rcb.get(), page));
      if (status == 0) status = pageStatus(rcb.get());
      if (status != 0) break;
    }
    applyInputResolution(rcb.get(), job);
    if (watch != nullptr) watch->startPage(rcb->height);
    rioOfferCarriedCode(rcb.get(), rcb.get());
    while (rioReadRasterSline(rcb.get()) != nullptr) {
      if (watch != nullptr && !watch->rowRead(rcb->linesRead)) {
        status = kRunCancelled;
        break;
      }
      status = rioWriteRasterSline(rcb.get());
      if (status != 0) break;
      rioSwapSlines(rcb.get());
    }
    const bool endedWell =
        rcb->status == 0 || (rcb->status == kRioEndOfPage && rcb->linesRead >= rcb->height);
    if (status == 0 && !endedWell) {
      status = inputFailure(rcb->status);
      job.inputCaused = true;
    }
    if (page == range.last) break;
  }
  return closeOutput(rcb.release(), status);
}

void reportPortFailure(Reporter& reporter, const Dialect& dialect, int32_t portStatus) {
  if (portStatus & kPortOutOfPaper)
    say(reporter, dialect, Severity::kError, Message::kPrinterOutOfPaper);
  else if (portStatus & kPortIoError)
    say(reporter, dialect, Severity::kError, Message::kPrinterIoError);
  else if (portStatus & kPortTimedOut)
    say(reporter, dialect, Severity::kError, Message::kPrinterTimedOut);
}

void portProgress(void* context) {
  static_cast<Reporter*>(context)->report(Severity::kProgress, ".");
}

// The steps after the arguments: formats, files, the run and its report (without the outcome line).
RunOutcome translateJob(const Dialect& dialect, TranslateJob& job, Reporter& reporter,
                        const RunEnvironment& environment, OutputFile* output) {
  RunOptions& o = job.options;
  const RasterFormatId fromExtension = rioFormatFromPath(o.inName.c_str());
  o.inFormat = dialect.keepsInputFormat(fromExtension, o.inFormatFromExtension) ? fromExtension : 0;

  errno = 0;
  job.inFile = openInputFile(o.inName, environment.standardInput);
  if (!job.inFile) {
    noteCause(job, o.inName, systemCause("cannot be read"));
    say(reporter, dialect, Severity::kError, Message::kCannotOpenInput);
    return RunOutcome::kRefused;
  }
  const bool toStandardOutput = o.outName == kStandardStream && environment.standardOutput >= 0;
  if (o.outFormat == kFormatNone && !toStandardOutput) o.outFormat = rioFormatFromPath(o.outName.c_str());
  // Every page into one output needs an output that holds several, known before anything is written.
  if (o.page == kAllPages && o.outFormat != kFormatNone && !rioWritesPages(o.outFormat)) {
    say(reporter, dialect, Severity::kNotice, Message::kAllPagesRefused);
    return RunOutcome::kRefused;
  }
  if (o.outFormat == kFormatNone) {
    if (!o.unknownFormatName.empty())
      noteCause(job, "-rof " + o.unknownFormatName, "no such format; the formats are" + listedFormatNames());
    else
      noteCause(job, o.outName,
                toStandardOutput ? "standard output has no extension: name the format with -rof"
                                 : "the extension names no output format: name one with -rof");
  }

  if (environment.output.write != nullptr) {
    if (o.outFormat == 0) {
      say(reporter, dialect, Severity::kError, Message::kInvalidOutputFormat);
      return RunOutcome::kRefused;
    }
  } else if (o.port == kNoPort) {
    // The console needs a format before it creates the file; the batch translator opens the file first
    // and deletes it again when there is none.
    if (o.outFormat == kFormatNone && dialect.kind == DialectKind::kConsole) {
      say(reporter, dialect, Severity::kError, Message::kInvalidOutputFormat);
      return RunOutcome::kRefused;
    }
    if (toStandardOutput && o.outFormat == kFormatNone) {
      say(reporter, dialect, Severity::kError, Message::kInvalidOutputFormat);
      return RunOutcome::kRefused;
    }
    errno = 0;
    job.outFile.reset(output->open(toStandardOutput ? "/dev/stdout" : o.outName, environment.standardOutput));
    if (!job.outFile) {
      noteCause(job, o.outName, systemCause("cannot be written: a folder, or a file or folder that may not be written"));
      say(reporter, dialect, Severity::kError, Message::kCannotOpenOutput);
      return RunOutcome::kRefused;
    }
    if (o.outFormat == kFormatNone) {
      say(reporter, dialect, Severity::kError, Message::kInvalidOutputFormat);
      return RunOutcome::kRefused;
    }
    say(reporter, dialect, Severity::kProgress, Message::kGenerating, o.outName);
  } else {
    if (o.outFormat == kFormatNone) {
      say(reporter, dialect, Severity::kError, Message::kInvalidOutputFormat);
      return RunOutcome::kRefused;
    }
    if (!rioFormatInfo(o.outFormat).toPort) {
      noteCause(job, o.outName, "a page-printer language goes to a file, not to a printer port");
      say(reporter, dialect, Severity::kError, Message::kPortRefused);
      return RunOutcome::kRefused;
    }
    say(reporter, dialect, Severity::kProgress, Message::kWritingToPort, o.outName);
  }

  bool ok = runTranslation(dialect, job, reporter, environment);
  if (job.outFile) {
    // The translation is complete only when every byte is in the file and the file is in place.
    const bool closed = output->close(job.outFile.release(), ok);
    if (ok && !closed) {
      noteCause(job, o.outName, "the file could not be written in full or put in place");
      say(reporter, dialect, Severity::kError, Message::kUnableToComplete);
      ok = false;
    }
  }
  return ok ? RunOutcome::kComplete : RunOutcome::kFailed;
}

// One detail line: the file and what happened to it.
void sayDetail(Reporter& reporter, const Dialect& dialect, const std::string& file, const std::string& text) {
  const bool console = dialect.kind == DialectKind::kConsole;
  reporter.report(Severity::kDetail, dialect.text(Message::kDetail, console ? file + ": " + text : text));
}

// After the outcome line: a failure's cause in one line (the run's own words, else the reader's or the
// writer's, else the status on the file it concerns); a complete run's notes, one line each.
void reportDetails(const Dialect& dialect, TranslateJob& job, RunOutcome outcome, Reporter& reporter) {
  const RunOptions& o = job.options;
  if (outcome == RunOutcome::kComplete) {
    if (!job.resolutionNote.empty()) sayDetail(reporter, dialect, o.inName, job.resolutionNote);
    if (!job.inDetail.text.empty()) sayDetail(reporter, dialect, o.inName, job.inDetail.text);
    if (!job.outDetail.text.empty()) sayDetail(reporter, dialect, o.outName, job.outDetail.text);
  } else if (!job.causeText.empty()) {
    sayDetail(reporter, dialect, job.causeFile, job.causeText);
  } else if (!job.inDetail.text.empty() && (job.inputCaused || job.outDetail.text.empty())) {
    sayDetail(reporter, dialect, o.inName, job.inDetail.text);
  } else if (!job.outDetail.text.empty()) {
    sayDetail(reporter, dialect, o.outName, job.outDetail.text);
  } else if (job.failure != 0 && dialect.kind == DialectKind::kConsole) {
    // The batch translator's message names the file already; the console's log line needs it.
    const char* side = job.inputCaused ? "reading: " : "writing: ";
    sayDetail(reporter, dialect, job.inputCaused ? o.inName : o.outName, side + std::string(dialect.statusText(job.failure)));
  }
}

}  // namespace

bool runTranslation(const Dialect& dialect, TranslateJob& job, Reporter& reporter,
                    const RunEnvironment& environment) {
  const RunOptions& o = job.options;
  StreamPtr inStream(streamOpen(job.inFile.get(), "r", environment.settings));
  StreamPtr outStream(streamOpen(job.outFile.get(), "w", environment.settings));
  if (!inStream || !outStream) {
    say(reporter, dialect, Severity::kError, Message::kOutOfMemory);
    return false;
  }
  inStream->detail = &job.inDetail;
  outStream->detail = &job.outDetail;
  // Outlives the output stream, whose close may still send bytes to the port.
  PortJob portJob;
  RioStatus status = 0;
  bool reported = false;
  PageDigest digest;
  PageDigest* const digesting = o.digest ? &digest : nullptr;
  std::vector<std::string> digests;  // one for each page written
  const OutputSink& sink = environment.output;
  if (sink.write != nullptr) {
    if (!streamSetWriteCallback(outStream.get(), sink.write, sink.context)) {
      status = kRioInternal;
      sayStatus(reporter, dialect, status);
      reported = true;
    }
  } else if (o.port != kNoPort) {
    portJob.port = o.port;
    portJob.primitives = environment.ports;
    portJob.progress = portProgress;
    portJob.progressContext = &reporter;
    if (!streamSetWriteCallback(outStream.get(), portWriteCallback, &portJob)) {
      status = kRioInternal;
      sayStatus(reporter, dialect, status);
      reported = true;
    }
  }

  const bool resampling = o.outXDpi != 0 || o.outYDpi != 0;
  if (!reported && dialect.readWriteRcb && !resampling) {
    status = copyThroughOneRcb(inStream.get(), job, outStream.get(), dialect, reporter, &reported,
                               environment.watch);
  } else if (!reported) {
    RunInput in;
    RasterFormatId formatRead = 0;
    // A turned page is imported as the page -page names; a plain reader moves there once the pages are
    // counted.
    const int32_t asked = o.page > 0 ? o.page - 1 : 0;
    status = o.rotation != 0 ? in.openTurned(job.inFile.get(), o.inFormat, o.rotation, o.inDpi,
                                             environment.settings, &formatRead, environment.pictureBudget, asked)
                             : in.openReader(inStream.get(), o.inFormat);
    int32_t count = 1;
    PageRange range;
    if (status == 0 || status == kRunNoSuchPage) {
      const RioStatus counted = in.countPages(&count);
      if (counted != 0) status = counted;
    }
    if (status == 0 || status == kRunNoSuchPage)
      status = choosePages(dialect, o, count, reporter, &range) ? status : kRunNoSuchPage;
    if (status == 0 && o.rotation == 0 && range.first > 0) status = in.readPage(range.first);
    if (status == 0) status = pageStatus(in.rcb());
    if (status == kRunNoSuchPage) {
      reported = true;  // choosePages has said so
    } else if (status != 0) {
      sayCause(reporter, dialect, job, inputFailure(status), true);
      reported = true;
    } else {
      applyInputResolution(in.rcb(), job);
      in.watch(environment.watch);
      if (dialect.geometryOptions && !checkPaperSize(in.rcb(), job, dialect, reporter)) {
        reported = true;  // the check has reported its refusal
      } else {
        status = translatePages(in, job, outStream.get(), range, job.scale != 0 || resampling, dialect, reporter,
                                &reported, digesting, &digests);
      }
      if (in.readFailed()) job.inputCaused = true;
    }
  }

  inStream.reset();
  bool complete = streamClose(outStream.release()) == 1;
  if (sink.write != nullptr && sink.finish != nullptr)
    complete = sink.finish(sink.context, complete && !reported && status == 0) && complete;
  if (reported) return false;
  if (complete) {
    if (status != 0) sayCause(reporter, dialect, job, status, job.inputCaused);
    if (status == 0)
      for (const std::string& d : digests) say(reporter, dialect, Severity::kResult, Message::kDigest, d);
    return status == 0;
  }
  if (sink.write != nullptr) {
    sayCause(reporter, dialect, job, kRioStreamIo, false);  // the destination lost bytes or refused the job
  } else if (o.port == kNoPort) {
    noteCause(job, o.outName, "the file could not be written in full");
    say(reporter, dialect, Severity::kError, Message::kUnableToComplete);
  } else {
    noteCause(job, o.outName, "the printer did not take every byte");
    reportPortFailure(reporter, dialect, portJob.status);
  }
  return false;
}

RunOutcome runTranslationEntry(const Dialect& dialect, int argc, const char* const argv[], Reporter& reporter,
                               const RunEnvironment& environment) {
  TranslateJob job;
  switch (parseArguments(dialect, argc, argv, &job.options, reporter)) {
    case ParseResult::kOk:
      break;
    case ParseResult::kUsage:
      return RunOutcome::kUsage;
    case ParseResult::kRefused:
      return RunOutcome::kRefused;
  }
  OutputFile output(environment.tempWatch);
  const RunOutcome outcome = translateJob(dialect, job, reporter, environment, &output);
  if (outcome == RunOutcome::kComplete)
    say(reporter, dialect, Severity::kProgress, Message::kComplete);
  else if (outcome == RunOutcome::kFailed)
    say(reporter, dialect, Severity::kError, Message::kIncomplete);

  job.inFile.reset();
  // An output still open was refused before the run (no format): what was there before stays.
  if (job.outFile) (void)output.close(job.outFile.release(), false);
  reportDetails(dialect, job, outcome, reporter);
  return outcome;
}

}  // namespace vantrel
