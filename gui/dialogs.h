// The dialogs of the desktop itself: the real services, the progress dialog of a run, the overwrite
// question and the summary of a run.
#pragma once

#include <QDialog>
#include <QPointer>
#include <cstdint>

#include "gui/batch.h"
#include "gui/ui_services.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace vantrel::gui {

// The modeless "Translating" dialog: "File n of N", the input, "To", the output and a bar of the rows
// read (moving without an end when the reader does not know the page's height). Cancel (and Escape)
// asks the run to stop; the run then ends after the line it is on.
class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  explicit ProgressDialog(QWidget* parent);
  void showFile(int index, int count, const QString& input, const QString& output);
  void showRows(int64_t rows, int64_t height);
  QString fileText() const;
  QString inputText() const;
  QString outputText() const;
  const QProgressBar* bar() const { return bar_; }
  bool cancelling() const { return cancelling_; }

  void reject() override;  // Cancel and Escape

 Q_SIGNALS:
  void cancelRequested();

 private:
  QLabel* file_;
  QLabel* input_;
  QLabel* output_;
  QProgressBar* bar_;
  QPushButton* cancel_;
  bool cancelling_ = false;
};

// "Translation summary": the counts and time, every file under its outcome; Copy puts the text on the
// clipboard, Save As writes it to a text file.
class SummaryDialog : public QDialog {
  Q_OBJECT
 public:
  SummaryDialog(const BatchSummary& summary, QWidget* parent);
  QString text() const { return text_; }
  void copy() const;
  bool saveTo(const QString& path) const;

 private:
  void save();
  QString text_;
};

// "Output file exists": Yes (1), No (0, also Escape) and Yes to All (2).
class OverwriteDialog : public QDialog {
  Q_OBJECT
 public:
  OverwriteDialog(const QString& output, QWidget* parent);
};

class QtUiServices : public UiServices {
 public:
  void setParent(QWidget* parent) { parent_ = parent; }
  void showMessage(BoxIcon icon, const QString& title, const QString& text) override;
  bool confirm(const QString& title, const QString& text) override;
  void beep() override;
  QStringList chooseFiles(const std::vector<FileFilter>& filters, int first) override;
  std::optional<QString> choosePrinter() override;
  bool printerAvailable() override;
  OverwriteAnswer askOverwrite(const QString& output) override;
  void showSummary(const BatchSummary& summary) override;
  void showAbout() override;

 private:
  QPointer<QWidget> parent_;
};

// Qt's name filters for the Add Files dialog: each label with its patterns made to match either case.
QStringList qtNameFilters(const std::vector<FileFilter>& filters);

}  // namespace vantrel::gui
