#include "gui/settings.h"

namespace vantrel::gui {
namespace {

constexpr int kMissingFormat = 9999;

int readInt(QSettings& store, const char* key, int fallback, bool zeroIsMissing) {
  bool ok = false;
  const int value = store.value(key).toInt(&ok);
  if (ok && !(zeroIsMissing && value == 0)) return value;
  store.setValue(key, fallback);
  return fallback;
}

// A check box of group "Default", 1 or 0; a missing value is the default, written back.
bool loadCheck(QSettings& store, const char* key, bool fallback) {
  store.beginGroup("Default");
  const bool on = readInt(store, key, fallback ? 1 : 0, false) != 0;
  store.endGroup();
  return on;
}

void saveCheck(QSettings& store, const char* key, bool on) {
  store.setValue(key, on ? 1 : 0);
  store.sync();
}

}  // namespace

DialogSettings loadSettings(QSettings& store) {
  DialogSettings s;
  store.beginGroup("Default");
  s.dpi = readInt(store, "DPI", kDefaultDpi, true);
  s.xResolution = readInt(store, "XResolution", kDefaultDpi, true);
  s.yResolution = readInt(store, "YResolution", kDefaultDpi, true);
  s.outputFormat = store.value("OutputFormat", kMissingFormat).toInt();
  if (s.outputFormat == kMissingFormat) {
    s.outputFormat = 0;
    store.setValue("OutputFormat", 0);
  }
  if (!store.contains("OutputDir")) store.setValue("OutputDir", QString());
  s.outputDir = store.value("OutputDir").toString().toStdString();
  s.useOrigDpi = readInt(store, "UseOrigDPI", 1, false) != 0;
  s.useOrigRes = readInt(store, "UseOrigRes", 1, false) != 0;
  s.useInputDir = readInt(store, "UseInputDir", 1, false) != 0;
  store.endGroup();
  return s;
}

void saveSettings(QSettings& store, const DialogSettings& s) {
  store.beginGroup("Default");
  store.setValue("DPI", s.dpi);
  store.setValue("XResolution", s.xResolution);
  store.setValue("YResolution", s.yResolution);
  store.setValue("OutputFormat", s.outputFormat & 0xFFFF);
  store.setValue("OutputDir", QString::fromStdString(s.outputDir));
  store.setValue("UseOrigDPI", s.useOrigDpi ? 1 : 0);
  store.setValue("UseOrigRes", s.useOrigRes ? 1 : 0);
  store.setValue("UseInputDir", s.useInputDir ? 1 : 0);
  store.endGroup();
  store.sync();
}

bool loadStopAtFirstError(QSettings& store) { return loadCheck(store, "StopAtFirstError", false); }
void saveStopAtFirstError(QSettings& store, bool stop) { saveCheck(store, "Default/StopAtFirstError", stop); }
bool loadAllPages(QSettings& store) { return loadCheck(store, "AllPages", true); }
void saveAllPages(QSettings& store, bool all) { saveCheck(store, "Default/AllPages", all); }

int firstFileFilter(QSettings& store) {
  bool ok = false;
  const int index = store.value("ImportFile/RasterExt").toInt(&ok);
  return ok ? index : 1;
}

}  // namespace vantrel::gui
