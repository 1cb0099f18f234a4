// The main dialog with its widgets, offscreen: first start, the number and directory edits, the list,
// the print box (and a device row with no printer), whole runs with the progress dialog, Cancel, the
// summary and Restart; and the real message boxes, overwrite and summary dialogs, answered from a timer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <iterator>

#include "gui/dialogs.h"
#include "gui/main_dialog.h"
#include "gui/settings.h"
#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::FakeServices;
using testing::framedPage;
using testing::ScratchFolder;
using testing::Shown;

constexpr int kHpPcl = 14;
constexpr int kHpRtl = 15;
constexpr int kG4Tiff = 8;

class Dialog : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = std::make_unique<QSettings>(QString::fromStdString(scratch_.at("vantrelw.conf")),
                                         QSettings::IniFormat);
  }
  void open() {
    dialog_ = std::make_unique<MainDialog>(*store_, services_, PrintJobFactory{});
    dialog_->show();
    QApplication::setActiveWindow(dialog_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
  }
  const MainDialog::Controls& c() const { return dialog_->controls(); }
  QString name(const char* file) const { return QString::fromStdString(scratch_.at(file)); }

  // Types into an edit and leaves it for the next edit, as Tab does.
  void typeAndLeave(QLineEdit* edit, const QString& text, QWidget* next) {
    edit->setFocus(Qt::TabFocusReason);
    edit->clear();
    QTest::keyClicks(edit, text);
    next->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
  }

  void translateAndWait() {
    QSignalSpy finished(dialog_.get(), &MainDialog::runFinished);
    QTest::mouseClick(c().translate, Qt::LeftButton);
    ASSERT_TRUE(finished.wait(20000));
  }

  ScratchFolder scratch_;
  std::unique_ptr<QSettings> store_;
  FakeServices services_;
  std::unique_ptr<MainDialog> dialog_;
};

TEST_F(Dialog, FirstStartShowsTheDefaultsAndQuitWritesAllEightValues) {
  open();
  EXPECT_EQ(dialog_->windowTitle(), "ZEBVANTREL V5.0");
  EXPECT_EQ(c().dpi->text(), "200");
  EXPECT_EQ(c().x->text(), "200");
  EXPECT_EQ(c().y->text(), "200");
  EXPECT_EQ(c().format->currentIndex(), 0);
  EXPECT_EQ(c().format->count(), formatRowCount());
  EXPECT_EQ(c().format->itemText(26), "Fuji/Xerox MMr Format");
  EXPECT_EQ(c().format->itemText(27), "PDF/A (Group 4)");
  for (QCheckBox* box : {c().useOrigDpi, c().useOrigRes, c().useInputDir}) EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(c().outputDir->text().isEmpty());
  EXPECT_FALSE(c().outputDir->isEnabled());
  EXPECT_FALSE(c().dpi->isEnabled());
  EXPECT_FALSE(c().x->isEnabled());
  EXPECT_FALSE(c().removeFiles->isEnabled());
  EXPECT_FALSE(c().translate->isEnabled());
  EXPECT_TRUE(c().restart->isHidden());
  EXPECT_TRUE(c().printToDevice->isHidden());
  EXPECT_FALSE(c().stopAtFirstError->isChecked());
  EXPECT_TRUE(c().allPages->isChecked());

  QTest::mouseClick(c().quit, Qt::LeftButton);
  EXPECT_FALSE(dialog_->isVisible());
  QSettings written(QString::fromStdString(scratch_.at("vantrelw.conf")), QSettings::IniFormat);
  EXPECT_EQ(written.childGroups(), QStringList{"Default"});
  written.beginGroup("Default");
  EXPECT_EQ(written.childKeys().size(), 10);
  EXPECT_EQ(written.value("StopAtFirstError").toInt(), 0);
  EXPECT_EQ(written.value("AllPages").toInt(), 1);
}

TEST_F(Dialog, ANumberOutOfRangeIsAnsweredCutAndGetsTheFocusBack) {
  open();
  QTest::mouseClick(c().useOrigDpi, Qt::LeftButton, {}, QPoint(5, c().useOrigDpi->height() / 2));
  ASSERT_TRUE(c().dpi->isEnabled());
  typeAndLeave(c().dpi, "20000", c().format);
  EXPECT_EQ(
      services_.shown,
      (std::vector<Shown>{{BoxIcon::kInformation, "ZEBVANTREL V5.0", "DPI must be between 50 and 10000"}}));
  EXPECT_EQ(c().dpi->text(), "2000");
  EXPECT_TRUE(c().dpi->hasFocus());
  EXPECT_EQ(c().dpi->selectedText(), "2000");

  services_.shown.clear();
  typeAndLeave(c().dpi, "30", c().useOrigRes);
  EXPECT_EQ(services_.texts(), std::vector<std::string>{"DPI must be between 50 and 10000"});
  EXPECT_EQ(c().dpi->text(), "30");
  EXPECT_EQ(dialog_->presenter().settings().dpi, 30);
}

TEST_F(Dialog, NumberEditsDropAnythingButDigitsWithABeep) {
  open();
  QTest::mouseClick(c().useOrigRes, Qt::LeftButton, {}, QPoint(5, c().useOrigRes->height() / 2));
  c().x->setFocus();
  c().x->clear();
  QTest::keyClicks(c().x, "3a0-0.");
  EXPECT_EQ(c().x->text(), "300");
  EXPECT_EQ(services_.beeps, 3);
  QTest::keyClick(c().x, Qt::Key_Backspace);
  EXPECT_EQ(c().x->text(), "30");
  EXPECT_EQ(services_.beeps, 3);
}

TEST_F(Dialog, TheDirectoryGetsItsSeparatorOrAMessage) {
  open();
  QTest::mouseClick(c().useInputDir, Qt::LeftButton, {}, QPoint(5, c().useInputDir->height() / 2));
  ASSERT_TRUE(c().outputDir->isEnabled());
  typeAndLeave(c().outputDir, scratch_.path().c_str(), c().format);
  EXPECT_EQ(c().outputDir->text().toStdString(), scratch_.slash());
  EXPECT_EQ(dialog_->presenter().settings().outputDir, scratch_.slash());
  EXPECT_TRUE(services_.shown.empty());

  typeAndLeave(c().outputDir, name("no/such"), c().format);
  EXPECT_EQ(services_.texts(), std::vector<std::string>{"Invalid path name"});
  EXPECT_TRUE(c().outputDir->hasFocus());
  EXPECT_EQ(dialog_->presenter().settings().outputDir, scratch_.slash());
}

TEST_F(Dialog, TheSameFileAddedTwiceIsListedOnce) {
  open();
  services_.files = {{name("a.tif"), name("a.tiff")}, {name("a.tif")}};
  QTest::mouseClick(c().addFiles, Qt::LeftButton);
  QTest::mouseClick(c().addFiles, Qt::LeftButton);
  EXPECT_EQ(c().files->count(), 2);
  EXPECT_EQ(services_.filterCount, 14);
  EXPECT_EQ(services_.firstFilter, 1);
  EXPECT_TRUE(c().translate->isEnabled());
  c().files->item(1)->setSelected(true);
  EXPECT_TRUE(c().removeFiles->isEnabled());
  QTest::mouseClick(c().removeFiles, Qt::LeftButton);
  ASSERT_EQ(c().files->count(), 1);
  EXPECT_EQ(c().files->item(0)->text(), name("a.tif"));
  EXPECT_FALSE(c().removeFiles->isEnabled());
}

TEST_F(Dialog, ADeviceRowShowsThePrintBoxAndAFileRowHidesIt) {
  open();
  services_.printers = {QString("plotter")};
  c().format->setCurrentIndex(kHpPcl);
  Q_EMIT c().format->activated(kHpPcl);
  EXPECT_EQ(services_.printerQuestions, 1);
  EXPECT_FALSE(c().printToDevice->isHidden());
  EXPECT_EQ(c().printToDevice->text(), "Print to plotter");
  EXPECT_FALSE(c().printToDevice->isChecked());
  c().printToDevice->setChecked(true);
  EXPECT_FALSE(c().useInputDir->isEnabled());
  EXPECT_FALSE(c().outputDir->isEnabled());
  c().format->setCurrentIndex(kG4Tiff);
  Q_EMIT c().format->activated(kG4Tiff);
  EXPECT_TRUE(c().printToDevice->isHidden());
  EXPECT_TRUE(c().useInputDir->isEnabled());
  EXPECT_EQ(services_.printerQuestions, 1);
}

// With no printer to choose, a device row asks once whether to write files; No keeps the row that was
// chosen before, Yes takes the row for files. No print dialog opens either way.
class NoPrinter : public Dialog, public ::testing::WithParamInterface<bool> {};

TEST_P(NoPrinter, ADeviceRowAsksOnceAndWritesFilesOnlyOnYes) {
  const bool yes = GetParam();
  open();
  services_.noPrinters = true;
  services_.confirmAnswer = yes;
  c().format->setCurrentIndex(kHpRtl);
  Q_EMIT c().format->activated(kHpRtl);
  EXPECT_EQ(services_.questions,
            (std::vector<Shown>{{BoxIcon::kInformation, "ZEBVANTREL V5.0",
                                 "No printer is available to print HP RTL. Write HP RTL files instead?"}}));
  EXPECT_EQ(services_.printerQuestions, 0);
  EXPECT_TRUE(services_.shown.empty());
  EXPECT_EQ(c().format->currentIndex(), yes ? kHpRtl : 0);
  EXPECT_EQ(dialog_->presenter().formatRow(), yes ? kHpRtl : 0);
  EXPECT_TRUE(c().printToDevice->isHidden());
}

INSTANTIATE_TEST_SUITE_P(Answers, NoPrinter, ::testing::Bool());

TEST_F(Dialog, ARunShowsItsProgressThenRestartAndYesToAllLastsForTheProgram) {
  for (const char* base : {"a", "b"}) {
    testruns::writePage(scratch_.at(std::string(base) + ".rnl"), kFormatRunLength, framedPage(64, 8, 200));
    std::ofstream(scratch_.at(std::string(base) + ".cg4")) << "old";
  }
  open();
  services_.files = {{name("a.rnl"), name("b.rnl")}, {name("b.rnl")}};
  services_.overwriteAnswers = {OverwriteAnswer::kYesToAll};
  QTest::mouseClick(c().addFiles, Qt::LeftButton);

  QSignalSpy finished(dialog_.get(), &MainDialog::runFinished);
  QTest::mouseClick(c().translate, Qt::LeftButton);
  ASSERT_NE(dialog_->progressDialog(), nullptr);
  EXPECT_EQ(dialog_->progressDialog()->windowTitle(), "Translating");
  EXPECT_TRUE(c().translate->isHidden());
  EXPECT_FALSE(c().addFiles->isEnabled());
  EXPECT_FALSE(c().quit->isEnabled());
  QPointer<ProgressDialog> progress = dialog_->progressDialog();
  ASSERT_TRUE(finished.wait(20000));
  EXPECT_TRUE(progress.isNull()) << "the progress dialog is gone after the run";
  EXPECT_EQ(services_.overwriteQuestions, std::vector<std::string>{scratch_.at("a.cg4")});
  EXPECT_TRUE(services_.shown.empty()) << ::testing::PrintToString(services_.shown);
  ASSERT_EQ(services_.summaries.size(), 1u);
  EXPECT_EQ(services_.summaries[0].count(FileResult::kTranslated), 2);
  EXPECT_EQ(testread::readBack(scratch_.at("b.cg4")).lines.size(), 8u);
  EXPECT_FALSE(c().restart->isHidden());
  EXPECT_TRUE(c().translate->isHidden());

  QTest::mouseClick(c().restart, Qt::LeftButton);
  EXPECT_EQ(c().files->count(), 0);
  EXPECT_TRUE(c().restart->isHidden());
  EXPECT_FALSE(c().translate->isHidden());
  EXPECT_FALSE(c().translate->isEnabled());
  EXPECT_TRUE(c().addFiles->isEnabled());

  QTest::mouseClick(c().addFiles, Qt::LeftButton);
  translateAndWait();
  EXPECT_EQ(services_.overwriteQuestions.size(), 1u) << "Yes to All holds in the next run";
}

TEST_F(Dialog, TheSameFileIsNamedInTheSummaryNotInABox) {
  testruns::writePage(scratch_.at("x.cg4"), kFormatCals, framedPage(64, 8, 200));
  open();
  services_.files = {{name("x.cg4")}};
  QTest::mouseClick(c().addFiles, Qt::LeftButton);
  translateAndWait();
  EXPECT_TRUE(services_.shown.empty());
  ASSERT_EQ(services_.summaries.size(), 1u);
  EXPECT_EQ(services_.summaries[0].files[0].cause,
            "Output file cannot be the same as input file:" + scratch_.at("x.cg4"));
}

TEST_F(Dialog, CancelInTheProgressDialogAsksTheRunToStopOnce) {
  open();
  ProgressDialog progress(dialog_.get());
  QSignalSpy cancels(&progress, &ProgressDialog::cancelRequested);
  progress.show();
  QTest::keyClick(&progress, Qt::Key_Escape);
  QTest::keyClick(&progress, Qt::Key_Escape);
  EXPECT_TRUE(progress.isVisible()) << "it stays until the run has ended";
  EXPECT_EQ(cancels.count(), 1);
  EXPECT_TRUE(progress.cancelling());
  EXPECT_TRUE(services_.shown.empty());
}

// Cancel pressed in the progress dialog while a page of the 2nd or a later of 20 A0 files is read: the
// run ends within that file, which leaves no output, and the files after it are not translated.
TEST_F(Dialog, CancelDuringABatchStopsWithinOneFile) {
  std::filesystem::create_directory(scratch_.at("out"));
  store_->setValue("Default/UseInputDir", 0);
  store_->setValue("Default/OutputDir", name("out/"));
  // Resampled to 400 dpi, so that each file lasts long enough to be caught in on a loaded machine.
  store_->setValue("Default/UseOrigRes", 0);
  store_->setValue("Default/XResolution", 400);
  store_->setValue("Default/YResolution", 400);
  open();
  QStringList pages;
  for (const std::string& page : testing::a0Drawings()) pages << QString::fromStdString(page);
  services_.files = {pages};
  QTest::mouseClick(c().addFiles, Qt::LeftButton);

  QSignalSpy finished(dialog_.get(), &MainDialog::runFinished);
  int fileAtCancel = 0;
  int barMaximum = 0;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    ProgressDialog* progress = dialog_->progressDialog();
    if (fileAtCancel != 0 || progress == nullptr || dialog_->runner().watch().rows.load() == 0) return;
    const int file = progress->fileText().section(' ', 1, 1).toInt();
    if (file < 2) return;
    fileAtCancel = file;
    EXPECT_EQ(progress->fileText(), QString("File %1 of 20").arg(file));
    progress->showRows(dialog_->runner().watch().rows.load(), dialog_->runner().watch().height.load());
    barMaximum = progress->bar()->maximum();
    QTest::mouseClick(progress->findChild<QPushButton*>(), Qt::LeftButton);
  });
  watcher.start(1);
  QTest::mouseClick(c().translate, Qt::LeftButton);
  ASSERT_TRUE(finished.wait(25000));
  ASSERT_GE(fileAtCancel, 2);
  EXPECT_GT(barMaximum, 0) << "the reader knows the height";
  ASSERT_EQ(services_.summaries.size(), 1u);
  const BatchSummary& s = services_.summaries[0];
  EXPECT_TRUE(s.cancelled);
  const int translated = s.count(FileResult::kTranslated);
  EXPECT_GE(translated, fileAtCancel - 1);
  EXPECT_LE(translated, fileAtCancel);
  EXPECT_EQ(translated + s.count(FileResult::kCancelled) + s.count(FileResult::kNotTranslated), 20);
  EXPECT_EQ(testing::filesIn(scratch_.at("out")).size(), static_cast<size_t>(translated))
      << "no partial output";
  EXPECT_FALSE(c().restart->isHidden());
}

// ---- the real boxes, answered by a timer that waits for the next modal window

using testing::answerNextModal;

TEST(RealBoxes, AMessageBoxShowsItsTitleIconAndText) {
  QtUiServices services;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  const auto answerer = answerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  });
  services.showMessage(BoxIcon::kWarning, "Vantrel Error", "Incomplete translation");
  EXPECT_EQ(title, "Vantrel Error");
  EXPECT_EQ(text, "Incomplete translation");
  EXPECT_EQ(icon, QMessageBox::Warning);
}

struct OverwriteCase {
  const char* button;  // object name, or "" for Escape
  OverwriteAnswer answer;
};

class RealOverwrite : public ::testing::TestWithParam<OverwriteCase> {};

TEST_P(RealOverwrite, AnswersWithTheButtonPressed) {
  QtUiServices services;
  QString shownPath;
  const auto answerer = answerNextModal([&](QWidget* modal) {
    EXPECT_EQ(modal->windowTitle(), "Output file exists");
    shownPath = modal->findChild<QLabel*>("output")->text();
    if (*GetParam().button)
      modal->findChild<QPushButton*>(GetParam().button)->click();
    else
      QTest::keyClick(modal, Qt::Key_Escape);
  });
  EXPECT_EQ(services.askOverwrite("/out/x.cg4"), GetParam().answer);
  EXPECT_EQ(shownPath, "/out/x.cg4");
}

INSTANTIATE_TEST_SUITE_P(Buttons, RealOverwrite,
                         ::testing::Values(OverwriteCase{"yes", OverwriteAnswer::kYes},
                                           OverwriteCase{"no", OverwriteAnswer::kNo},
                                           OverwriteCase{"yesToAll", OverwriteAnswer::kYesToAll},
                                           OverwriteCase{"", OverwriteAnswer::kNo}));

TEST(RealBoxes, TheDialogsRangeMessageIsARealBox) {
  ScratchFolder scratch;
  QSettings store(QString::fromStdString(scratch.at("vantrelw.conf")), QSettings::IniFormat);
  store.setValue("Default/UseOrigDPI", 0);
  QtUiServices services;
  MainDialog dialog(store, services, PrintJobFactory{});
  services.setParent(&dialog);
  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  QString text;
  const auto answerer = answerNextModal([&](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    ASSERT_NE(box, nullptr);
    text = box->text();
    QTest::keyClick(box, Qt::Key_Return);
  });
  QLineEdit* dpi = dialog.controls().dpi;
  dpi->setFocus(Qt::TabFocusReason);
  dpi->clear();
  QTest::keyClicks(dpi, "20000");
  dialog.controls().format->setFocus(Qt::TabFocusReason);
  QCoreApplication::processEvents();
  EXPECT_EQ(text, "DPI must be between 50 and 10000");
  EXPECT_EQ(dpi->text(), "2000");
}

TEST(RealBoxes, TheSummaryCopiesAndSavesItsText) {
  ScratchFolder scratch;
  BatchSummary summary;
  summary.files = {{"/in/a.tif", "/out/a.cg4", FileResult::kTranslated, "", ""},
                   {"/in/b.tif", "/out/b.cg4", FileResult::kFailed, "bad header data", ""}};
  summary.seconds = 1.25;
  SummaryDialog dialog(summary, nullptr);
  EXPECT_EQ(dialog.findChild<QLabel*>("headline")->text(),
            "Translated 1, failed 1, skipped 0, cancelled 0, not translated 0 in 1.2 s");
  EXPECT_EQ(dialog.text(),
            "Translated 1, failed 1, skipped 0, cancelled 0, not translated 0 in 1.2 s\n"
            "\nFailed:\n  /in/b.tif: bad header data\n"
            "\nTranslated:\n  /in/a.tif -> /out/a.cg4\n");
  dialog.findChild<QPushButton*>("copy")->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), dialog.text());
  ASSERT_TRUE(dialog.saveTo(QString::fromStdString(scratch.at("summary.txt"))));
  std::ifstream saved(scratch.at("summary.txt"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}), dialog.text().toStdString());
  EXPECT_FALSE(dialog.saveTo(QString::fromStdString(scratch.at("no/such/summary.txt"))));
}

// With no CUPS server to ask, no printer is available.
TEST(RealBoxes, NoCupsServerMeansNoPrinter) {
  ScratchFolder scratch;
  const QByteArray before = qgetenv("CUPS_SERVER");
  qputenv("CUPS_SERVER", QByteArray::fromStdString(scratch.at("no-cupsd.sock")));
  QtUiServices services;
  EXPECT_FALSE(services.printerAvailable());
  if (before.isEmpty())
    qunsetenv("CUPS_SERVER");
  else
    qputenv("CUPS_SERVER", before);
}

TEST(AddFilesFilters, MatchTheirPatternsInEitherCase) {
  const QStringList filters = qtNameFilters(parseFilterText(addFilesFilterText().c_str()));
  ASSERT_EQ(filters.size(), 14);
  EXPECT_TRUE(filters[0].startsWith("All types(*.*) ("));
  EXPECT_TRUE(filters[1].startsWith("CALS G4 file(*.CG4;*.GP4;*.CAL;*.MIL;*.NKK) ("));
  const QString patterns = filters[9].section('(', -1).chopped(1);  // PC Paint format, stored as *.pcx
  for (const char* file : {"a.pcx", "A.PCX", "a.Pcx"}) {
    bool matched = false;
    for (const QString& p : patterns.split(' '))
      matched |=
          QRegularExpression(QRegularExpression::wildcardToRegularExpression(p)).match(file).hasMatch();
    EXPECT_TRUE(matched) << file;
  }
}

}  // namespace
}  // namespace vantrel::gui
