// The profile: defaults written back where values are missing, a stored resolution of 0 replaced, the
// eight values written back, and the Add Files filter only ever read.
#include "gui/settings.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <fstream>

#include "tests/gui/gui_support.h"

namespace vantrel::gui {
namespace {

using testing::ScratchFolder;

const char* const kKeys[] = {"DPI",       "XResolution", "YResolution", "OutputFormat",
                             "OutputDir", "UseOrigDPI",  "UseOrigRes",  "UseInputDir"};

class Profile : public ::testing::Test {
 protected:
  QString file() const { return QString::fromStdString(scratch_.at("vantrelw.conf")); }
  ScratchFolder scratch_;
};

TEST_F(Profile, AnEmptyProfileGetsEveryDefaultWrittenBack) {
  QSettings store(file(), QSettings::IniFormat);
  EXPECT_EQ(loadSettings(store), DialogSettings{});
  store.sync();
  QSettings again(file(), QSettings::IniFormat);
  for (const char* key : kKeys) EXPECT_TRUE(again.contains(QString("Default/") + key)) << key;
  EXPECT_EQ(again.value("Default/DPI").toInt(), 200);
  EXPECT_EQ(again.value("Default/UseInputDir").toInt(), 1);
  EXPECT_FALSE(again.contains("ImportFile/RasterExt"));
}

TEST_F(Profile, StoredValuesAreReadAndAZeroResolutionBecomes200) {
  std::ofstream(scratch_.at("vantrelw.conf"))
      << "[Default]\nDPI=0\nXResolution=300\nYResolution=0\nOutputFormat=14\nOutputDir=/out/\n"
         "UseOrigDPI=0\nUseOrigRes=1\nUseInputDir=0\n[ImportFile]\nRasterExt=4\n";
  QSettings store(file(), QSettings::IniFormat);
  const DialogSettings s = loadSettings(store);
  EXPECT_EQ(s.dpi, 200);
  EXPECT_EQ(s.xResolution, 300);
  EXPECT_EQ(s.yResolution, 200);
  EXPECT_EQ(s.outputFormat, 14);
  EXPECT_EQ(s.outputDir, "/out/");
  EXPECT_FALSE(s.useOrigDpi);
  EXPECT_TRUE(s.useOrigRes);
  EXPECT_FALSE(s.useInputDir);
  EXPECT_EQ(store.value("Default/DPI").toInt(), 200) << "the replacement is written back";
  EXPECT_EQ(firstFileFilter(store), 4);
}

TEST_F(Profile, SavesTheEightValuesWithTheRowAsItsLow16Bits) {
  {
    QSettings store(file(), QSettings::IniFormat);
    DialogSettings s;
    s.dpi = 30;
    s.outputFormat = 0x10000 + 8;
    s.outputDir = "/d/";
    s.useOrigRes = false;
    saveSettings(store, s);
  }
  QSettings store(file(), QSettings::IniFormat);
  const DialogSettings s = loadSettings(store);
  EXPECT_EQ(s.dpi, 30);
  EXPECT_EQ(s.outputFormat, 8);
  EXPECT_EQ(s.outputDir, "/d/");
  EXPECT_FALSE(s.useOrigRes);
  EXPECT_EQ(firstFileFilter(store), 1);
}

}  // namespace
}  // namespace vantrel::gui
