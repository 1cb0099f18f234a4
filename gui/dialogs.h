// The dialogs of the desktop itself: the real services, the progress dialog of a run and the overwrite
// question.
#pragma once

#include <QDialog>
#include <QPointer>

#include "gui/ui_services.h"

class QLabel;

namespace vantrel::gui {

// The modeless "Translating" dialog: the input, "To", the output. Its Cancel only shows a message.
class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  ProgressDialog(UiServices& services, QWidget* parent);
  void showFile(const QString& input, const QString& output);
  QString inputText() const;
  QString outputText() const;

  void reject() override;  // Cancel and Escape: "Cancel button hit", the run goes on

 private:
  UiServices& services_;
  QLabel* input_;
  QLabel* output_;
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
  void beep() override;
  QStringList chooseFiles(const std::vector<FileFilter>& filters, int first) override;
  std::optional<QString> choosePrinter() override;
  OverwriteAnswer askOverwrite(const QString& output) override;
  void showAbout() override;

 private:
  QPointer<QWidget> parent_;
};

// Qt's name filters for the Add Files dialog: each label with its patterns made to match either case.
QStringList qtNameFilters(const std::vector<FileFilter>& filters);

}  // namespace vantrel::gui
