#include "gui/dialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/presenter.h"
#include "gui/summary.h"

namespace vantrel::gui {

namespace {

constexpr int kBarSteps = 1000;

}  // namespace

ProgressDialog::ProgressDialog(QWidget* parent)
    : QDialog(parent),
      file_(new QLabel(this)),
      input_(new QLabel(this)),
      output_(new QLabel(this)),
      bar_(new QProgressBar(this)),
      cancel_(new QPushButton("Cancel", this)) {
  setWindowTitle("Translating");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  auto* to = new QLabel("To", this);
  to->setAlignment(Qt::AlignCenter);
  for (QLabel* line : {input_, output_}) {
    line->setMinimumWidth(360);
    line->setTextInteractionFlags(Qt::NoTextInteraction);
  }
  bar_->setTextVisible(false);
  bar_->setRange(0, 0);
  connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::reject);
  layout->addWidget(file_);
  layout->addWidget(input_);
  layout->addWidget(to);
  layout->addWidget(output_);
  layout->addWidget(bar_);
  layout->addWidget(cancel_, 0, Qt::AlignCenter);
}

void ProgressDialog::showFile(int index, int count, const QString& input, const QString& output) {
  file_->setText(QString("File %1 of %2").arg(index).arg(count));
  input_->setText(input);
  output_->setText(output);
  showRows(0, 0);
}

void ProgressDialog::showRows(int64_t rows, int64_t height) {
  if (height <= 0) {
    bar_->setRange(0, 0);
    return;
  }
  bar_->setRange(0, kBarSteps);
  bar_->setValue(static_cast<int>(std::min(rows, height) * kBarSteps / height));
}

QString ProgressDialog::fileText() const {
  return file_->text();
}
QString ProgressDialog::inputText() const {
  return input_->text();
}
QString ProgressDialog::outputText() const {
  return output_->text();
}

void ProgressDialog::reject() {
  if (cancelling_) return;
  cancelling_ = true;
  cancel_->setEnabled(false);
  cancel_->setText("Cancelling...");
  Q_EMIT cancelRequested();
}

SummaryDialog::SummaryDialog(const BatchSummary& summary, QWidget* parent)
    : QDialog(parent), text_(QString::fromStdString(summaryText(summary))) {
  setWindowTitle("Translation summary");
  auto* layout = new QVBoxLayout(this);
  auto* headline = new QLabel(QString::fromStdString(summaryHeadline(summary)), this);
  headline->setObjectName("headline");
  auto* list = new QPlainTextEdit(text_, this);
  list->setReadOnly(true);
  list->setLineWrapMode(QPlainTextEdit::NoWrap);
  list->setMinimumSize(640, 200);
  auto* buttons = new QHBoxLayout;
  auto* copyButton = new QPushButton("&Copy", this);
  auto* saveButton = new QPushButton("&Save As...", this);
  auto* close = new QPushButton("Close", this);
  copyButton->setObjectName("copy");
  saveButton->setObjectName("save");
  close->setObjectName("close");
  close->setDefault(true);
  connect(copyButton, &QPushButton::clicked, this, &SummaryDialog::copy);
  connect(saveButton, &QPushButton::clicked, this, &SummaryDialog::save);
  connect(close, &QPushButton::clicked, this, &SummaryDialog::accept);
  for (QPushButton* b : {copyButton, saveButton, close}) buttons->addWidget(b);
  layout->addWidget(headline);
  layout->addWidget(list);
  layout->addLayout(buttons);
}

void SummaryDialog::copy() const {
  QGuiApplication::clipboard()->setText(text_);
}

bool SummaryDialog::saveTo(const QString& path) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  const QByteArray bytes = text_.toUtf8();
  return file.write(bytes) == bytes.size() && file.flush();
}

void SummaryDialog::save() {
  const QString path = QFileDialog::getSaveFileName(this, "Save summary", "vantrelw-summary.txt",
                                                    "Text files (*.txt);;All files (*)", nullptr,
                                                    QFileDialog::DontUseNativeDialog);
  if (!path.isEmpty() && !saveTo(path))
    QMessageBox::warning(this, kErrorTitle, "Cannot write the summary to " + path);
}

OverwriteDialog::OverwriteDialog(const QString& output, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Output file exists");
  auto* layout = new QVBoxLayout(this);
  auto* path = new QLabel(output, this);
  path->setObjectName("output");
  layout->addWidget(path);
  layout->addWidget(new QLabel("Output File Exists, Ok to Overwrite?", this));
  auto* buttons = new QHBoxLayout;
  auto* yes = new QPushButton("&Yes", this);
  auto* no = new QPushButton("&No", this);
  auto* all = new QPushButton("Yes to &All", this);
  yes->setObjectName("yes");
  no->setObjectName("no");
  all->setObjectName("yesToAll");
  yes->setDefault(true);
  connect(yes, &QPushButton::clicked, this, [this] { done(static_cast<int>(OverwriteAnswer::kYes)); });
  connect(no, &QPushButton::clicked, this, [this] { done(static_cast<int>(OverwriteAnswer::kNo)); });
  connect(all, &QPushButton::clicked, this, [this] { done(static_cast<int>(OverwriteAnswer::kYesToAll)); });
  for (QPushButton* b : {yes, no, all}) buttons->addWidget(b);
  layout->addLayout(buttons);
}

void QtUiServices::showMessage(BoxIcon icon, const QString& title, const QString& text) {
  QMessageBox box(icon == BoxIcon::kWarning ? QMessageBox::Warning : QMessageBox::Information, title, text,
                  QMessageBox::Ok, parent_);
  box.exec();
}

bool QtUiServices::confirm(const QString& title, const QString& text) {
  return QMessageBox::question(parent_, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

void QtUiServices::beep() {
  QApplication::beep();
}

QStringList qtNameFilters(const std::vector<FileFilter>& filters) {
  QStringList names;
  for (const FileFilter& filter : filters) {
    QStringList globs;
    for (const std::string& pattern : filter.patterns)
      globs << QString::fromStdString(pattern == "*.*" ? std::string("*") : eitherCaseGlob(pattern));
    names << QString::fromStdString(filter.label) + " (" + globs.join(' ') + ")";
  }
  return names;
}

QStringList QtUiServices::chooseFiles(const std::vector<FileFilter>& filters, int first) {
  QFileDialog dialog(parent_, "Add Files");
  dialog.setFileMode(QFileDialog::ExistingFiles);
  // Qt's own dialog, so that the labels show as they are written and the patterns match either case.
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  const QStringList names = qtNameFilters(filters);
  dialog.setNameFilters(names);
  if (first >= 1 && first <= names.size()) dialog.selectNameFilter(names[first - 1]);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.selectedFiles();
}

std::optional<QString> QtUiServices::choosePrinter() {
  QPrinter printer;
  QPrintDialog dialog(&printer, parent_);
  // Printer choice only: no page range, no selection, no printing to a file.
  dialog.setOptions(QAbstractPrintDialog::PrintDialogOptions());
  if (dialog.exec() != QDialog::Accepted || printer.printerName().isEmpty()) return std::nullopt;
  return printer.printerName();
}

bool QtUiServices::printerAvailable() {
  return !QPrinterInfo::availablePrinterNames().isEmpty();
}

void QtUiServices::showSummary(const BatchSummary& summary) {
  SummaryDialog dialog(summary, parent_);
  dialog.exec();
}

OverwriteAnswer QtUiServices::askOverwrite(const QString& output) {
  OverwriteDialog dialog(output, parent_);
  return static_cast<OverwriteAnswer>(dialog.exec());
}

void QtUiServices::showAbout() {
  QMessageBox::about(parent_, "About ZEBVANTREL",
                     QString(kWindowTitle) +
                         "\n\nTranslates lists of 1-bit raster images between "
                         "document formats and plotter data streams.");
}

}  // namespace vantrel::gui
