// The main dialog of vantrelw: the input list, the format list, the output directory and resolution
// options, Translate / Restart. Its rules live in the Presenter; this class only wires widgets to it,
// shows the progress of a run and its summary at the end.
// The settings are read when it is made and written back when it closes, whichever way.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "gui/batch_runner.h"
#include "gui/dialogs.h"
#include "gui/presenter.h"
#include "gui/ui_services.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSettings;

namespace vantrel::gui {

class MainDialog : public QDialog {
  Q_OBJECT
 public:
  MainDialog(QSettings& store, UiServices& services, PrintJobFactory printJobs, QWidget* parent = nullptr);
  ~MainDialog() override;

  // The controls, for tests and the screenshot.
  struct Controls {
    QListWidget* files;
    QPushButton* addFiles;
    QPushButton* removeFiles;
    QPushButton* translate;
    QPushButton* restart;
    QPushButton* quit;
    QPushButton* about;
    QCheckBox* useInputDir;
    QLabel* outputDirLabel;
    QLineEdit* outputDir;
    QComboBox* format;
    QCheckBox* printToDevice;
    QCheckBox* useOrigDpi;
    QLabel* dpiLabel;
    QLineEdit* dpi;
    QCheckBox* useOrigRes;
    QLabel* xLabel;
    QLabel* yLabel;
    QLineEdit* x;
    QLineEdit* y;
    QCheckBox* stopAtFirstError;
    QCheckBox* allPages;
  };
  const Controls& controls() const { return c_; }
  const Presenter& presenter() const { return presenter_; }
  BatchRunner& runner() { return runner_; }
  ProgressDialog* progressDialog() const { return progress_; }

  void done(int result) override;  // writes the settings back; refused while a run goes on

 Q_SIGNALS:
  void runFinished();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildControls();
  void applyControls();
  void refreshList();
  // `starting`: the stored row at start, which a missing printer does not question.
  void formatChosen(int row, bool starting = false);
  void addFiles();
  void removeFiles();
  void translate();
  void batchFinished();
  void restart();
  bool filterNumberKey(QLineEdit* edit, QEvent* event);
  void leaveNumber(QLineEdit* edit);
  void leaveDirectory();
  void focusBack(QLineEdit* edit);

  QSettings& store_;
  UiServices& services_;
  Presenter presenter_;
  int firstFilter_;
  Controls c_{};
  BatchRunner runner_;
  QPointer<ProgressDialog> progress_;
  QTimer rowsTimer_;                // shows the rows of the current page while a run goes on
  bool askBeforeOverwrite_ = true;  // Yes to All clears it for the program's life
  bool checking_ = false;           // a leave check is showing its message
};

}  // namespace vantrel::gui
