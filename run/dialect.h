// The two dialects of the translation entry: the console translator's and the batch translator's. A
// dialect says which options exist, which extension-derived input formats are kept, how names are
// compared, and the text of every message and status.
#pragma once

#include <string>

#include "rio/format_id.h"
#include "rio/status.h"
#include "rio/resample.h"

namespace vantrel {

enum class DialectKind { kConsole, kBatch };

enum class Message {
  kDifferentNames,      // input and output name the same file
  kPortRefused,         // a printer port for a page-printer language (console)
  kTooManyNames,        // a third name (batch)
  kUnrecognized,        // an unknown option (batch)
  kNeedsFormat,         // -rof without a value (batch); the argument is the option
  kNeedsResolution,     // a resolution option without a value (batch); the argument is the option
  kResolutionRange,     // a resolution outside kResolutionRange (batch); the argument is the option
  kCannotOpenInput,
  kInvalidOutputFormat,
  kCannotOpenOutput,
  kGenerating,          // the argument is the output name
  kWritingToPort,       // the argument is the port name
  kOutOfMemory,         // streams could not be made
  kUnableToComplete,    // the output lost bytes
  kPrinterOutOfPaper,
  kPrinterIoError,
  kPrinterTimedOut,
  kComplete,
  kIncomplete,
  kStatus,              // a failing RioStatus; the argument is its text
  kRefusal,             // a paper-size refusal; the argument is its text
  kDigest,              // the page digest of a complete run; the argument is its hexadecimal text
  kFirstPageOnly,       // a document of several pages, page 1 translated; the argument: "FILE holds N pages"
  kNoSuchPage,          // -page past the last page; the argument: "FILE holds N pages"
  kAllPagesRefused,     // -page all for an output of one page
  kDetail,              // what happened, in words: "FILE: what" (console) or "what" (batch)
};

struct Dialect {
  DialectKind kind;
  const char* programName;
  // The console's options -rot and -size and its printer ports; the batch translator's -ext.
  bool geometryOptions;
  bool ports;
  bool extOption;
  // Input formats taken from the input's extension without recognition (formats without a magic).
  RasterFormatId keptInputFormats[3];
  // How a page's scaled side is rounded on the resize path.
  SizeRule sizeRule;
  // Whether one RCB reads and writes (batch) or two RCBs are joined by a copy (console).
  bool readWriteRcb;

  // The text of a message, with its argument where it has one.
  std::string text(Message message, const std::string& argument = {}) const;
  const char* statusText(RioStatus status) const;
  // Whether the output name names the input: the same text, or an existing output whose device and
  // inode are the input's (the same file under another name; names differing in case only are
  // different files where the file system says so).
  bool sameFile(const std::string& inName, const std::string& outName) const;
  bool keepsInputFormat(RasterFormatId format, bool fromExtensionOption) const;
};

extern const Dialect kConsoleDialect;
extern const Dialect kBatchDialect;

}  // namespace vantrel
