// vantrelw: the batch translator's dialog. The settings are read at start and written back when the
// dialog closes; then the program ends. The writers' settings come from the environment, as in vantrel.
#include <QApplication>
#include <QSettings>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/pcl_mode.h"
#include "gui/cups_job.h"
#include "gui/dialogs.h"
#include "gui/main_dialog.h"
#include "gui/settings.h"

int main(int argc, char* argv[]) {
  using namespace vantrel::gui;
  QApplication app(argc, argv);
  QSettings store(kOrganization, kApplication);
  QtUiServices services;
  // The writers' settings from the environment; a compression mode the PCL and RTL writers refuse is
  // said at once (each translation into those formats then fails).
  const vantrel::RioSettings settings = vantrel::settingsFromLookup(std::getenv);
  const std::string refusal = vantrel::pclModeRefusal(vantrel::kFormatPcl, settings);
  if (!refusal.empty()) std::fprintf(stderr, "vantrelw: %s\n", refusal.c_str());
  MainDialog dialog(store, services, cupsPrintJobs());
  vantrel::RunEnvironment environment;
  environment.settings = &settings;
  dialog.runner().setEnvironment(environment);
  services.setParent(&dialog);
  dialog.exec();
  return 0;
}
