// The summary of a batch run as text: a headline with the counts and the elapsed time, then each file
// under its outcome (failures and skips with their causes). The summary window shows it and copies or
// saves it as it is.
#pragma once

#include <string>

#include "gui/batch.h"

namespace vantrel::gui {

// "Translated 7, failed 3, skipped 0, cancelled 0, not translated 0 in 2.4 s"
std::string summaryHeadline(const BatchSummary& summary);
// The headline, then one section per outcome that has files, one line a file.
std::string summaryText(const BatchSummary& summary);

}  // namespace vantrel::gui
