#include "formats/registry.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace vantrel {
namespace {

TEST(Registry, ConsoleKnows31NamesAndTheBatchTranslator37) {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  int console = 0;
  std::set<std::string> seen;
  for (int i = 0; i < count; ++i) {
    EXPECT_TRUE(seen.insert(names[i].name).second) << names[i].name;
    if (!names[i].guiOnly) ++console;
    EXPECT_EQ(rioFormatFromName(names[i].name, NameTable::kGui), names[i].id);
    EXPECT_EQ(rioFormatFromName(names[i].name, NameTable::kConsole), names[i].guiOnly ? 0 : names[i].id);
  }
  EXPECT_EQ(console, 31);
  EXPECT_EQ(count, 37);
}

struct PathCase {
  const char* path;
  RasterFormatId console;
  RasterFormatId gui;
};

class FormatFromPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(FormatFromPath, LooksAtTheTextAfterTheLastDot) {
  EXPECT_EQ(rioFormatFromPath(GetParam().path, NameTable::kConsole), GetParam().console);
  EXPECT_EQ(rioFormatFromPath(GetParam().path, NameTable::kGui), GetParam().gui);
}

INSTANTIATE_TEST_SUITE_P(Paths, FormatFromPath,
                         ::testing::Values(PathCase{"out.rnl", 3, 3}, PathCase{"OUT.RTL", 8, 8},
                                           PathCase{"a/b.c/drawing.cg4", 6, 6}, PathCase{"x.tiff", 10, 10},
                                           PathCase{".rnl", 0, 0},           // the dot is the first character
                                           PathCase{"noextension", 0, 0},   //
                                           PathCase{"dir.rnl/file", 0, 0},  // the last dot's text is "rnl/file"
                                           PathCase{"in.gp4", 0, 6}, PathCase{"in.c4", 0, 32},
                                           PathCase{"in.xyz", 0, 0}, PathCase{"in.", 0, 0}));

TEST(Registry, EveryIdHasADriverAndUnknownIdsAnswerNotImplemented) {
  for (RasterFormatId id = 0; id <= 40; ++id) {
    const FormatDriver* d = rioFormatDriver(id);
    ASSERT_NE(d, nullptr);
    if (id < 1 || id > kMaxFormatId || id == 2) {
      EXPECT_EQ(d, &kNoFormatDriver);
    }
  }
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
    const FormatInfo& info = rioFormatInfo(id);
    EXPECT_EQ(info.id, id);
    if (info.driver == &kNoFormatDriver) {
      EXPECT_FALSE(info.reads) << id;
      EXPECT_FALSE(info.writes) << id;
    }
  }
  EXPECT_EQ(kNoFormatDriver.open(nullptr), kRioNotImplemented);
  EXPECT_EQ(kNoFormatDriver.close(nullptr), kRioNotImplemented);
}

}  // namespace
}  // namespace vantrel
