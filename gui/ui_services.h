// What the dialog asks of the desktop: message boxes and questions, the beep, the file, printer and
// overwrite dialogs, the summary of a run and the About box. The program uses QtUiServices; tests put their
// own answers in its place. Called on the interface thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "gui/batch.h"
#include "gui/format_table.h"

namespace vantrel::gui {

enum class BoxIcon { kInformation, kWarning };

class UiServices {
 public:
  virtual ~UiServices() = default;
  virtual void showMessage(BoxIcon icon, const QString& title, const QString& text) = 0;
  // A Yes/No question; true for Yes. No is the default answer.
  virtual bool confirm(const QString& title, const QString& text) = 0;
  virtual void beep() = 0;
  // The chosen files' full paths; none when cancelled. `first` counts from 1.
  virtual QStringList chooseFiles(const std::vector<FileFilter>& filters, int first) = 0;
  // The chosen printer's name; none when cancelled.
  virtual std::optional<QString> choosePrinter() = 0;
  // Whether any printer can be chosen (a CUPS server answers and lists one).
  virtual bool printerAvailable() = 0;
  virtual OverwriteAnswer askOverwrite(const QString& output) = 0;
  virtual void showSummary(const BatchSummary& summary) = 0;
  virtual void showAbout() = 0;
};

}  // namespace vantrel::gui
