// The main dialog's state and rules, without widgets: which controls are enabled and shown, what the
// number and directory edits accept, the input list, and the plan of a batch run. The dialog forwards
// each event here and shows what controls() answers; tests drive it directly.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "gui/batch.h"
#include "run/option_table.h"

namespace vantrel::gui {

inline constexpr char kWindowTitle[] = "ZEBVANTREL V5.0";
inline constexpr char kInvalidPathMessage[] = "Invalid path name";
inline constexpr char kAccessDeniedMessage[] = "Access path denied";
inline constexpr char kDirectoryTestName[] = "--------.___";
// The number fields take the resolution options' range; their default is -dpi's.
inline constexpr int kMinDpi = kResolutionRange.min;
inline constexpr int kMaxDpi = kResolutionRange.max;
inline constexpr int kDefaultDpi = optionSpec(OptionId::kDpi).defaultValue;
// "DPI must be between 50 and 10000"
std::string dpiRangeMessage();

// The eight values the program keeps between runs.
struct DialogSettings {
  int dpi = kDefaultDpi;
  int xResolution = kDefaultDpi;
  int yResolution = kDefaultDpi;
  int outputFormat = 0;   // row of kOutputFormatRows
  std::string outputDir;  // ends in the separator once set
  bool useOrigDpi = true;
  bool useOrigRes = true;
  bool useInputDir = true;
  bool operator==(const DialogSettings&) const = default;
};

enum class RunPhase { kIdle, kRunning, kDone };

// What the dialog shows.
struct ControlStates {
  bool addEnabled = true;   // from a run's start until Restart: disabled
  bool quitEnabled = true;  // a run is never left half done
  bool removeEnabled = false;
  bool translateVisible = true;
  bool translateEnabled = false;
  bool restartVisible = false;
  bool dpiEnabled = false;          // the "New DPI" label and edit
  bool resolutionsEnabled = false;  // the X and Y labels and edits
  bool outputDirEnabled = false;    // the output directory label and edit
  bool useInputDirEnabled = true;
  bool printBoxVisible = false;
  bool printBoxChecked = false;
  std::string printBoxCaption;
};

enum class NumberField { kDpi, kXResolution, kYResolution };

// The outcome of leaving a number edit: the text the edit then holds, and whether the value was out of
// range (the message is shown, the focus goes back and the text is selected).
struct NumberCheck {
  std::string text;
  bool outOfRange = false;
};

enum class DirectoryProblem { kNone, kInvalidPath, kAccessDenied };

struct DirectoryCheck {
  std::string directory;  // the text with its trailing separator
  DirectoryProblem problem = DirectoryProblem::kNone;
};

class Presenter {
 public:
  explicit Presenter(const DialogSettings& settings);

  // The values to keep; the number fields as the edits' texts read as integers.
  DialogSettings settings() const;
  ControlStates controls() const;
  RunPhase phase() const { return phase_; }

  void setUseOrigDpi(bool on) { settings_.useOrigDpi = on; }
  void setUseOrigRes(bool on) { settings_.useOrigRes = on; }
  void setUseInputDir(bool on) { settings_.useInputDir = on; }
  void setPrintToDevice(bool on) { printToDevice_ = on; }

  // A row chosen in the format list. True when the row is a device and the printer dialog should open;
  // a row that is no device hides the print box.
  bool selectFormat(int row);
  // The printer dialog was confirmed: the print box is shown, unchecked, naming the printer.
  void printerChosen(const std::string& name);
  int formatRow() const { return settings_.outputFormat; }

  // Number edits take digits and backspace only; everything else is refused with a beep.
  static bool acceptsCharacter(char32_t c);
  std::string numberText(NumberField field) const;
  void setNumberText(NumberField field, const std::string& text);  // as typed, before the edit is left
  NumberCheck leaveNumber(NumberField field, const std::string& text);

  // The output directory edit was left: the directory gets its separator and is tested by creating a
  // file in it; only a usable directory is kept.
  DirectoryCheck leaveDirectory(const std::string& text);

  // Adds the files the list does not hold yet (the same path only); answers how many were added.
  int addFiles(const std::vector<std::string>& paths);
  // Removes the entries at these rows.
  void removeFiles(std::vector<int> rows);
  void selectionChanged(int selectedCount) { selectedCount_ = selectedCount; }
  const std::vector<std::string>& files() const { return files_; }

  // Translate: the plan of the run; the phase is then running.
  BatchPlan startRun();
  void runFinished() { phase_ = RunPhase::kDone; }
  // Restart: an empty list, ready for the next run.
  void restart();

 private:
  std::string& text(NumberField field);
  const std::string& text(NumberField field) const;

  DialogSettings settings_;
  std::string dpiText_;
  std::string xText_;
  std::string yText_;
  bool printToDevice_ = false;
  std::string printerName_;  // empty: the print box is hidden
  std::vector<std::string> files_;
  int selectedCount_ = 0;
  RunPhase phase_ = RunPhase::kIdle;
};

// The leading decimal digits of a text as an integer (0 when none), saturated.
int decimalValue(const std::string& text);

}  // namespace vantrel::gui
