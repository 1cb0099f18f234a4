#include "gui/main_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

#include "gui/dialogs.h"
#include "gui/settings.h"

namespace vantrel::gui {
namespace {

NumberField fieldOf(const MainDialog::Controls& c, const QLineEdit* edit) {
  return edit == c.dpi ? NumberField::kDpi
         : edit == c.x ? NumberField::kXResolution
                       : NumberField::kYResolution;
}

// Focus that leaves because another window took over (a message box, a menu) is no edit being left.
bool leavesTheEdit(const QFocusEvent* event) {
  return event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
}

constexpr int kRowsIntervalMs = 100;

QString noPrinterQuestion(int row) {
  const QString name = outputFormatRows()[row].displayName;
  return "No printer is available to print " + name + ". Write " + name + " files instead?";
}

}  // namespace

MainDialog::MainDialog(QSettings& store, UiServices& services, PrintJobFactory printJobs, QWidget* parent)
    : QDialog(parent),
      store_(store),
      services_(services),
      presenter_(loadSettings(store)),
      firstFilter_(firstFileFilter(store)),
      runner_(services, std::move(printJobs)) {
  setWindowTitle(kWindowTitle);
  buildControls();

  const DialogSettings s = presenter_.settings();
  c_.dpi->setText(QString::fromStdString(presenter_.numberText(NumberField::kDpi)));
  c_.x->setText(QString::fromStdString(presenter_.numberText(NumberField::kXResolution)));
  c_.y->setText(QString::fromStdString(presenter_.numberText(NumberField::kYResolution)));
  c_.outputDir->setText(QString::fromStdString(s.outputDir));
  for (const OutputFormatRow& row : outputFormatRows()) c_.format->addItem(row.displayName);
  c_.format->setCurrentIndex(presenter_.formatRow());
  c_.useOrigDpi->setChecked(s.useOrigDpi);
  c_.useOrigRes->setChecked(s.useOrigRes);
  c_.useInputDir->setChecked(s.useInputDir);
  c_.stopAtFirstError->setChecked(loadStopAtFirstError(store));
  c_.allPages->setChecked(loadAllPages(store));

  connect(c_.format, &QComboBox::activated, this, [this](int row) { formatChosen(row); });
  connect(c_.useOrigDpi, &QCheckBox::toggled, this, [this](bool on) {
    presenter_.setUseOrigDpi(on);
    applyControls();
  });
  connect(c_.useOrigRes, &QCheckBox::toggled, this, [this](bool on) {
    presenter_.setUseOrigRes(on);
    applyControls();
  });
  connect(c_.useInputDir, &QCheckBox::toggled, this, [this](bool on) {
    presenter_.setUseInputDir(on);
    applyControls();
  });
  connect(c_.printToDevice, &QCheckBox::toggled, this, [this](bool on) {
    presenter_.setPrintToDevice(on);
    applyControls();
  });
  for (QLineEdit* edit : {c_.dpi, c_.x, c_.y}) {
    connect(edit, &QLineEdit::textEdited, this, [this, edit](const QString& text) {
      presenter_.setNumberText(fieldOf(c_, edit), text.toStdString());
    });
  }
  for (QLineEdit* edit : {c_.dpi, c_.x, c_.y, c_.outputDir}) edit->installEventFilter(this);
  connect(c_.addFiles, &QPushButton::clicked, this, &MainDialog::addFiles);
  connect(c_.removeFiles, &QPushButton::clicked, this, &MainDialog::removeFiles);
  connect(c_.files, &QListWidget::itemSelectionChanged, this, [this] {
    presenter_.selectionChanged(static_cast<int>(c_.files->selectedItems().size()));
    applyControls();
  });
  connect(c_.translate, &QPushButton::clicked, this, &MainDialog::translate);
  connect(c_.restart, &QPushButton::clicked, this, &MainDialog::restart);
  connect(c_.quit, &QPushButton::clicked, this, &MainDialog::reject);
  connect(c_.about, &QPushButton::clicked, this, [this] { services_.showAbout(); });
  connect(&runner_, &BatchRunner::finished, this, &MainDialog::batchFinished);
  rowsTimer_.setInterval(kRowsIntervalMs);
  connect(&rowsTimer_, &QTimer::timeout, this, [this] {
    if (progress_) progress_->showRows(runner_.watch().rows.load(), runner_.watch().height.load());
  });

  // The stored row follows the format rule: a device row asks for its printer.
  formatChosen(presenter_.formatRow(), true);
}

MainDialog::~MainDialog() = default;

void MainDialog::buildControls() {
  c_.files = new QListWidget(this);
  c_.files->setSelectionMode(QAbstractItemView::ExtendedSelection);
  c_.files->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  c_.files->setMinimumSize(420, 160);
  c_.addFiles = new QPushButton("&Add Files", this);
  c_.removeFiles = new QPushButton("&Remove Files", this);
  c_.translate = new QPushButton("&Translate", this);
  c_.restart = new QPushButton("Restart", this);
  c_.quit = new QPushButton("&Quit", this);
  c_.about = new QPushButton("A&bout", this);
  c_.useInputDir = new QCheckBox("Use &Input File Directory", this);
  c_.outputDirLabel = new QLabel("Output File Directory", this);
  c_.outputDir = new QLineEdit(this);
  c_.format = new QComboBox(this);
  c_.printToDevice = new QCheckBox(this);
  c_.useOrigDpi = new QCheckBox("&Use Original DPI", this);
  c_.dpiLabel = new QLabel("New DPI", this);
  c_.dpi = new QLineEdit(this);
  c_.useOrigRes = new QCheckBox("Use &Original Resolutions", this);
  c_.xLabel = new QLabel("X-resolution", this);
  c_.yLabel = new QLabel("Y-resolution", this);
  c_.x = new QLineEdit(this);
  c_.y = new QLineEdit(this);
  c_.stopAtFirstError = new QCheckBox("&Stop at the first error", this);
  c_.allPages = new QCheckBox("All &pages", this);
  c_.allPages->setToolTip("Every page of a document into a TIFF, PDF or PostScript output; other outputs take page 1");
  c_.translate->setDefault(true);
  for (QLineEdit* edit : {c_.dpi, c_.x, c_.y}) edit->setMaximumWidth(70);

  // Translate and Restart share one place; only one of them is shown.
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(c_.addFiles);
  buttons->addWidget(c_.removeFiles);
  buttons->addWidget(c_.translate);
  buttons->addWidget(c_.restart);
  buttons->addWidget(c_.quit);
  buttons->addStretch();
  buttons->addWidget(c_.about);

  auto* top = new QGridLayout;
  top->addWidget(new QLabel("Input Files List", this), 0, 0);
  top->addWidget(c_.files, 1, 0);
  top->addLayout(buttons, 1, 1);

  auto* options = new QGridLayout;
  options->addWidget(c_.useInputDir, 0, 0, 1, 2);
  options->addWidget(c_.outputDirLabel, 1, 0);
  options->addWidget(c_.outputDir, 1, 1, 1, 3);
  options->addWidget(new QLabel("Output File Format", this), 2, 0);
  options->addWidget(c_.format, 2, 1, 1, 2);
  options->addWidget(c_.printToDevice, 3, 1, 1, 3);
  options->addWidget(c_.useOrigDpi, 4, 0);
  options->addWidget(c_.dpiLabel, 4, 1, Qt::AlignRight);
  options->addWidget(c_.dpi, 4, 2);
  options->addWidget(c_.useOrigRes, 5, 0);
  options->addWidget(c_.xLabel, 5, 1, Qt::AlignRight);
  options->addWidget(c_.x, 5, 2);
  options->addWidget(c_.yLabel, 6, 1, Qt::AlignRight);
  options->addWidget(c_.y, 6, 2);
  options->addWidget(c_.stopAtFirstError, 7, 0);
  options->addWidget(c_.allPages, 7, 1, 1, 2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addLayout(options);
}

void MainDialog::applyControls() {
  const ControlStates s = presenter_.controls();
  c_.addFiles->setEnabled(s.addEnabled);
  c_.quit->setEnabled(s.quitEnabled);
  c_.removeFiles->setEnabled(s.removeEnabled);
  c_.translate->setVisible(s.translateVisible);
  c_.translate->setEnabled(s.translateEnabled);
  c_.restart->setVisible(s.restartVisible);
  c_.dpiLabel->setEnabled(s.dpiEnabled);
  c_.dpi->setEnabled(s.dpiEnabled);
  for (QWidget* w : std::initializer_list<QWidget*>{c_.xLabel, c_.yLabel, c_.x, c_.y})
    w->setEnabled(s.resolutionsEnabled);
  c_.outputDirLabel->setEnabled(s.outputDirEnabled);
  c_.outputDir->setEnabled(s.outputDirEnabled);
  c_.useInputDir->setEnabled(s.useInputDirEnabled);
  c_.printToDevice->setVisible(s.printBoxVisible);
  c_.printToDevice->setText(QString::fromStdString(s.printBoxCaption));
  if (c_.printToDevice->isChecked() != s.printBoxChecked) {
    const QSignalBlocker quiet(c_.printToDevice);
    c_.printToDevice->setChecked(s.printBoxChecked);
  }
}

void MainDialog::refreshList() {
  const QSignalBlocker quiet(c_.files);
  c_.files->clear();
  for (const std::string& path : presenter_.files()) c_.files->addItem(QString::fromStdString(path));
  presenter_.selectionChanged(0);
  applyControls();
}

void MainDialog::formatChosen(int row, bool starting) {
  const bool device = row >= 0 && row < formatRowCount() && outputFormatRows()[row].device;
  if (device && !services_.printerAvailable()) {
    // No printer dialog with nothing to choose: one question, and files only when the user says so.
    if (!starting && !services_.confirm(kWindowTitle, noPrinterQuestion(row))) {
      c_.format->setCurrentIndex(presenter_.formatRow());
      return;
    }
    (void)presenter_.selectFormat(row);
    presenter_.printerChosen({});
    applyControls();
    return;
  }
  if (presenter_.selectFormat(row)) {
    if (const std::optional<QString> printer = services_.choosePrinter())
      presenter_.printerChosen(printer->toStdString());
  }
  applyControls();
}

void MainDialog::addFiles() {
  const QStringList chosen =
      services_.chooseFiles(parseFilterText(addFilesFilterText().c_str()), firstFilter_);
  std::vector<std::string> paths;
  for (const QString& path : chosen) paths.push_back(path.toStdString());
  presenter_.addFiles(paths);
  refreshList();
}

void MainDialog::removeFiles() {
  std::vector<int> rows;
  for (const QModelIndex& index : c_.files->selectionModel()->selectedRows()) rows.push_back(index.row());
  presenter_.removeFiles(rows);
  refreshList();
}

void MainDialog::translate() {
  if (runner_.running() || presenter_.files().empty()) return;
  BatchPlan plan = presenter_.startRun();
  plan.stopAtFirstError = c_.stopAtFirstError->isChecked();
  plan.allPages = c_.allPages->isChecked();
  applyControls();
  c_.stopAtFirstError->setEnabled(false);
  c_.allPages->setEnabled(false);
  progress_ = new ProgressDialog(this);
  connect(progress_, &ProgressDialog::cancelRequested, &runner_, &BatchRunner::cancel);
  progress_->show();
  QPointer<ProgressDialog> progress = progress_;
  runner_.start(std::move(plan), &askBeforeOverwrite_,
                [progress](int index, int count, const QString& input, const QString& output) {
                  if (progress) progress->showFile(index, count, input, output);
                });
  rowsTimer_.start();
}

void MainDialog::batchFinished() {
  rowsTimer_.stop();
  delete progress_;
  presenter_.runFinished();
  applyControls();
  c_.stopAtFirstError->setEnabled(true);
  c_.allPages->setEnabled(true);
  services_.showSummary(runner_.lastSummary());
  Q_EMIT runFinished();
}

void MainDialog::restart() {
  presenter_.restart();
  refreshList();
}

void MainDialog::done(int result) {
  if (runner_.running()) return;
  saveSettings(store_, presenter_.settings());
  saveStopAtFirstError(store_, c_.stopAtFirstError->isChecked());
  saveAllPages(store_, c_.allPages->isChecked());
  QDialog::done(result);
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit == nullptr) return QDialog::eventFilter(watched, event);
  if (event->type() == QEvent::KeyPress && edit != c_.outputDir) return filterNumberKey(edit, event);
  if (event->type() == QEvent::FocusOut && !checking_ && leavesTheEdit(static_cast<QFocusEvent*>(event))) {
    // Checked once the edit has finished losing the focus, so that giving it back sticks.
    QMetaObject::invokeMethod(
        this,
        [this, edit] {
          if (!isVisible()) return;
          if (edit == c_.outputDir)
            leaveDirectory();
          else
            leaveNumber(edit);
        },
        Qt::QueuedConnection);
  }
  return QDialog::eventFilter(watched, event);
}

bool MainDialog::filterNumberKey(QLineEdit*, QEvent* event) {
  const auto* key = static_cast<QKeyEvent*>(event);
  // Keys that type nothing, and the dialog's own keys, pass.
  switch (key->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      return false;
    default:
      break;
  }
  const QString text = key->text();
  if (text.isEmpty()) return false;
  const char32_t typed = text.toUcs4().value(0);
  if (text.size() == 1 && Presenter::acceptsCharacter(typed)) return false;
  services_.beep();
  return true;
}

void MainDialog::focusBack(QLineEdit* edit) {
  edit->setFocus(Qt::OtherFocusReason);
  edit->selectAll();
}

void MainDialog::leaveNumber(QLineEdit* edit) {
  const NumberCheck check = presenter_.leaveNumber(fieldOf(c_, edit), edit->text().toStdString());
  if (!check.outOfRange) return;
  checking_ = true;
  services_.showMessage(BoxIcon::kInformation, kWindowTitle, QString::fromStdString(dpiRangeMessage()));
  edit->setText(QString::fromStdString(check.text));
  focusBack(edit);
  checking_ = false;
}

void MainDialog::leaveDirectory() {
  const DirectoryCheck check = presenter_.leaveDirectory(c_.outputDir->text().toStdString());
  if (check.problem == DirectoryProblem::kNone) {
    c_.outputDir->setText(QString::fromStdString(check.directory));
    return;
  }
  checking_ = true;
  services_.showMessage(
      BoxIcon::kInformation, kWindowTitle,
      check.problem == DirectoryProblem::kAccessDenied ? kAccessDeniedMessage : kInvalidPathMessage);
  focusBack(c_.outputDir);
  checking_ = false;
}

}  // namespace vantrel::gui
