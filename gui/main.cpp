// vantrelw: the batch translator's dialog. The settings are read at start and written back when the
// dialog closes; then the program ends.
#include <QApplication>
#include <QSettings>

#include "gui/cups_job.h"
#include "gui/dialogs.h"
#include "gui/main_dialog.h"
#include "gui/settings.h"

int main(int argc, char* argv[]) {
  using namespace vantrel::gui;
  QApplication app(argc, argv);
  QSettings store(kOrganization, kApplication);
  QtUiServices services;
  MainDialog dialog(store, services, cupsPrintJobs());
  services.setParent(&dialog);
  dialog.exec();
  return 0;
}
