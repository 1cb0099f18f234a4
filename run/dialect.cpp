#include "run/dialect.h"

#include <sys/stat.h>

#include "run/option_table.h"

namespace vantrel {

const Dialect kConsoleDialect = {DialectKind::kConsole,
                                 "vantrel",
                                 /*geometryOptions=*/true,
                                 /*ports=*/true,
                                 /*extOption=*/false,
                                 {kFormatRlc, kFormatJedmicsC4, kFormatEdmicsB4},
                                 SizeRule::kRound,
                                 /*readWriteRcb=*/false};

const Dialect kBatchDialect = {DialectKind::kBatch,
                               "Vantrel",
                               /*geometryOptions=*/false,
                               /*ports=*/false,
                               /*extOption=*/true,
                               {kFormatRlc, kFormatJedmicsC4, kFormatEdmicsB4},
                               SizeRule::kCeiling,
                               /*readWriteRcb=*/true};

namespace {

struct MessageText {
  Message message;
  const char* console;  // "%p" is the program name, "%s" the argument, "%r" the resolution options' range
  const char* batch;
};

constexpr MessageText kTexts[] = {
    {Message::kDifferentNames, "%p: Infile and outfile must have different names\n",
     "Infile and outfile must have different names"},
    {Message::kPortRefused, "%p: Printer port only supported for large format plotters.\n",
     "Printer port only supported for large format plotters."},
    {Message::kTooManyNames, "", "Too many filenames"},
    {Message::kUnrecognized, "", "Unrecognized argument"},
    {Message::kNeedsFormat, "", "%s option requires a format name"},
    {Message::kNeedsResolution, "", "%s option requires a resolution"},
    {Message::kResolutionRange, "", "%s option requires a resolution from %r"},
    {Message::kCannotOpenInput, "%p: Cannot open input file.\n", "Cannot open input file"},
    {Message::kInvalidOutputFormat, "%p: Invalid output format type.\n", "Invalid output format type"},
    {Message::kCannotOpenOutput, "%p: Cannot open output file.\n", "Cannot open output file"},
    {Message::kGenerating, "Generating file: %s\n", ""},
    {Message::kWritingToPort, "Writing to port: %s\n", ""},
    {Message::kOutOfMemory, "Out of memory.\n", "Out of memory"},
    {Message::kUnableToComplete, "%p: Unable to complete writing file.\n", "Unable to complete writing file"},
    {Message::kPrinterOutOfPaper, "%p: printer out of paper\n", "printer out of paper"},
    {Message::kPrinterIoError, "%p: printer I/O error\n", "printer I/O error"},
    {Message::kPrinterTimedOut, "%p: printer timed out\n", "printer timed out"},
    {Message::kComplete, "%p: Translation is complete.\n", ""},
    {Message::kIncomplete, "%p: Incomplete translation.\n", "Incomplete translation"},
    {Message::kStatus, "%p: %s\n", "%s"},
    {Message::kRefusal, "%p: %s\n", "%s"},
    {Message::kDigest, "%p: page sha256 %s\n", ""},
    {Message::kFirstPageOnly, "%p: %s; page 1 translated (-page all takes every page into TIFF, PDF or PostScript)\n",
     "%s; page 1 translated (only TIFF and PDF outputs take every page)"},
    {Message::kNoSuchPage, "%p: no such page: %s\n", "No such page: %s"},
    {Message::kAllPagesRefused, "%p: -page all needs an output that holds several pages (TIFF, PDF or PostScript)\n",
     "All pages needs an output that holds several pages (TIFF, PDF or PostScript)"},
    {Message::kDetail, "%p: %s\n", "%s"},
};

std::string expand(const char* pattern, const char* program, const std::string& argument) {
  std::string out;
  for (const char* p = pattern; *p; ++p) {
    if (p[0] == '%' && p[1] == 'p') {
      out += program;
      ++p;
    } else if (p[0] == '%' && p[1] == 's') {
      out += argument;
      ++p;
    } else if (p[0] == '%' && p[1] == 'r') {
      out += rangeText(kResolutionRange);
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// Two existing paths that name the same file (device and inode), whatever their spelling.
bool sameInode(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

std::string Dialect::text(Message message, const std::string& argument) const {
  for (const MessageText& t : kTexts)
    if (t.message == message)
      return expand(kind == DialectKind::kConsole ? t.console : t.batch, programName, argument);
  return {};
}

const char* Dialect::statusText(RioStatus status) const {
  return kind == DialectKind::kConsole ? rioConsoleStatusText(status) : rioGuiStatusText(status);
}

bool Dialect::sameFile(const std::string& inName, const std::string& outName) const {
  return inName == outName || sameInode(inName, outName);
}

bool Dialect::keepsInputFormat(RasterFormatId format, bool fromExtensionOption) const {
  if (format == 0) return false;
  if (fromExtensionOption && extOption) return true;
  for (RasterFormatId kept : keptInputFormats)
    if (format == kept) return true;
  return false;
}

}  // namespace vantrel
