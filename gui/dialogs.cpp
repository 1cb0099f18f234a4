#include "gui/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/presenter.h"

namespace vantrel::gui {

ProgressDialog::ProgressDialog(UiServices& services, QWidget* parent)
    : QDialog(parent), services_(services), input_(new QLabel(this)), output_(new QLabel(this)) {
  setWindowTitle("Translating");
  setModal(false);
  auto* layout = new QVBoxLayout(this);
  auto* to = new QLabel("To", this);
  to->setAlignment(Qt::AlignCenter);
  for (QLabel* line : {input_, output_}) {
    line->setMinimumWidth(360);
    line->setTextInteractionFlags(Qt::NoTextInteraction);
  }
  auto* cancel = new QPushButton("Cancel", this);
  connect(cancel, &QPushButton::clicked, this, &ProgressDialog::reject);
  layout->addWidget(input_);
  layout->addWidget(to);
  layout->addWidget(output_);
  layout->addWidget(cancel, 0, Qt::AlignCenter);
}

void ProgressDialog::showFile(const QString& input, const QString& output) {
  input_->setText(input);
  output_->setText(output);
}

QString ProgressDialog::inputText() const {
  return input_->text();
}
QString ProgressDialog::outputText() const {
  return output_->text();
}

void ProgressDialog::reject() {
  services_.showMessage(BoxIcon::kInformation, kWindowTitle, "Cancel button hit");
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
