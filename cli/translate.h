// The console translator's run: opening the files, the translation from one RCB to another, the messages
// and the exit status.
#pragma once

#include <cstdio>

#include "cli/options.h"

namespace vantrel {

// One invocation over the arguments after the program's own name. Every message goes to `out`. Returns the
// exit status: 1 when the translation completed, 0 in every other case.
int runConsoleTranslator(int argc, const char* const argv[], std::FILE* out);

// The translation run over a job whose input is open and whose output file is open (or which writes to a
// port): streams, RCBs, the line loop and the report of its cause when it fails. True on success, which
// still needs the output file to close cleanly.
[[nodiscard]] bool runTranslation(TranslateJob& job, std::FILE* out);

}  // namespace vantrel
