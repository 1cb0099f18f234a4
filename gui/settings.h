// The batch translator's settings in the user's profile: QSettings("ZEB", "vantrelw"), which on Linux is
// the file ZEB/vantrelw.conf in the user's configuration folder.
#pragma once

#include <QSettings>

#include "gui/presenter.h"

namespace vantrel::gui {

inline constexpr char kOrganization[] = "ZEB";
inline constexpr char kApplication[] = "vantrelw";

// The eight values of group "Default". A missing value (and a resolution of 0) is replaced by its
// default, which is written back.
DialogSettings loadSettings(QSettings& store);
// Writes the eight values back (the format row as its low 16 bits).
void saveSettings(QSettings& store, const DialogSettings& settings);
// "Default/StopAtFirstError": 1 ends a run at its first failed file; missing: 0, written back.
bool loadStopAtFirstError(QSettings& store);
void saveStopAtFirstError(QSettings& store, bool stop);
// "ImportFile/RasterExt": the filter the Add Files dialog shows first, counted from 1; read, never written.
int firstFileFilter(QSettings& store);
// "Default/AllPages": 1 translates every page of a document into a TIFF, PDF or PostScript output; missing: 1.
bool loadAllPages(QSettings& store);
void saveAllPages(QSettings& store, bool all);

}  // namespace vantrel::gui
