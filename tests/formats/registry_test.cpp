#include "formats/open.h"
#include "formats/registry.h"

#include "rio/sline.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace vantrel {
namespace {

TEST(Registry, ThirtyNineNamesOfWhichThirtyThreeAreTheConsoles) {
  int count = 0;
  const FormatName* names = rioFormatNames(&count);
  int listed = 0;
  std::set<std::string> seen;
  for (int i = 0; i < count; ++i) {
    EXPECT_TRUE(seen.insert(names[i].name).second) << names[i].name;
    if (names[i].listed) ++listed;
    EXPECT_EQ(rioFormatFromName(names[i].name), names[i].id);
  }
  EXPECT_EQ(listed, 33);
  EXPECT_EQ(count, 39);
}

// The batch translator's rows and Add Files filters and the usage text's -rof list each take their places
// once and without gaps, and a row passes a name of its own format.
TEST(Registry, RowsFiltersAndUsageSlotsArePlacedOnce) {
  std::map<int, RasterFormatId> rows, filters, slots;
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
    const FormatInfo& info = rioFormatInfo(id);
    SCOPED_TRACE(info.title);
    for (const BatchRowSpec& row : info.rows) {
      if (row.position < 0) continue;
      EXPECT_TRUE(rows.emplace(row.position, id).second) << "row " << row.position;
      EXPECT_EQ(rioFormatFromName(row.name), id) << row.name;
      EXPECT_TRUE(info.writes) << "a row for a format no driver writes";
    }
    if (info.filter.position >= 0) {
      EXPECT_TRUE(filters.emplace(info.filter.position, id).second) << "filter " << info.filter.position;
      EXPECT_TRUE(info.reads) << "a filter for a format no driver reads";
    }
    for (const FormatNameSpec& name : info.names) {
      if (name.text && name.usageSlot > 0) {
        EXPECT_TRUE(slots.emplace(name.usageSlot, id).second) << name.text;
      }
    }
  }
  EXPECT_EQ(rows.rbegin()->first, static_cast<int>(rows.size()) - 1);
  EXPECT_EQ(filters.rbegin()->first, static_cast<int>(filters.size()) - 1);
  EXPECT_EQ(slots.begin()->first, 1);
  EXPECT_EQ(slots.rbegin()->first, static_cast<int>(slots.size()));
}

struct PathCase {
  const char* path;
  RasterFormatId id;
};

class FormatFromPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(FormatFromPath, LooksAtTheTextAfterTheLastDot) {
  EXPECT_EQ(rioFormatFromPath(GetParam().path), GetParam().id);
}

INSTANTIATE_TEST_SUITE_P(Paths, FormatFromPath,
                         ::testing::Values(PathCase{"out.rnl", 3}, PathCase{"OUT.RTL", 8},
                                           PathCase{"a/b.c/drawing.cg4", 6}, PathCase{"x.tiff", 10},
                                           PathCase{".rnl", 0},           // the dot is the first character
                                           PathCase{"noextension", 0},   //
                                           PathCase{"dir.rnl/file", 0},  // the last dot's text is "rnl/file"
                                           PathCase{"in.gp4", 6}, PathCase{"in.MIL", 6}, PathCase{"in.tg4", 31},
                                           PathCase{"in.c4", 32}, PathCase{"in.b4", 33}, PathCase{"in.xyz", 0},
                                           PathCase{"in.", 0}));

// Every probe answers only for bytes of its own format: recognition gives each magic the format it names,
// whatever order the probes are tried in.
TEST(Registry, EachProbeAnswersForItsOwnMagicAlone) {
  const struct {
    uint8_t bytes[5];
    RasterFormatId id;
  } kMagics[] = {{{'I', 'I', 42, 0, 8}, 10}, {{'M', 'M', 0, 42, 0}, 10}, {{'D', 'I', 0, 0, 0}, 13},
                 {{'s', 'r', 'c', 'd', 'o'}, 6}, {{'Z', 'E', 'B', ' ', 0}, 3}, {{'Z', 'E', 'B', 0, 2}, 5},
                 {{0x9B, 0x52, 0, 0, 0}, 34}, {{0x0A, 5, 1, 1, 0}, 20}, {{0x02, 0, 0, 0, 0}, 25},
                 {{0x03, 0, 0, 0, 0}, 26}, {{0x12, 0, 0, 0, 0}, 30}, {{0x08, 0x09, 0, 0, 0}, 31},
                 {{'P', '4', '\n', '8', ' '}, 36}, {{'P', '1', '#', ' ', '8'}, 36}};
  int probes = 0;
  const FormatProbe* probe = rioRecognitionProbes(&probes);
  for (const auto& m : kMagics) {
    int answered = 0;
    for (int i = 0; i < probes; ++i) {
      RioStatus st = 0;
      const RasterFormatId id = probe[i](m.bytes, &st);
      if (id != 0) {
        ++answered;
        EXPECT_EQ(id, m.id);
      }
      EXPECT_EQ(st, 0);
    }
    EXPECT_EQ(answered, 1) << "format " << m.id;
  }
}

// The seekable-output flag says what each writer does: into a pipe, exactly the writers that go back over
// their output spool it; every other writer streams it.
TEST(Registry, WritersThatSeekAreTheOnesFlaggedSo) {
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
    const FormatInfo& info = rioFormatInfo(id);
    if (!info.writes) continue;
    SCOPED_TRACE(info.title);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::FILE* out = ::fdopen(fds[1], "wb");
    ASSERT_NE(out, nullptr);
    RasterStream* stream = streamOpen(out, "w");
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(stream, 64, 2, id, &st);
    ASSERT_NE(rcb, nullptr) << st;
    for (int row = 0; row < 2; ++row) {
      rcb->curSline[0] = row;
      rcb->curSline[1] = row + 8;
      rcb->curSline[2] = rcb->curSline[3] = kSlineEnd;
      EXPECT_EQ(rioWriteRasterSline(rcb), 0);
      rioSwapSlines(rcb);
    }
    EXPECT_EQ(stream->spooling, info.seekableOutput);
    // The pipe is read only after the close: small pages fit in its buffer.
    EXPECT_EQ(rioCloseRaster(rcb), 0);
    EXPECT_EQ(streamClose(stream), 1);
    std::fclose(out);
    std::vector<char> bytes(1 << 16);
    EXPECT_GT(::read(fds[0], bytes.data(), bytes.size()), 0);
    ::close(fds[0]);
  }
}

// A writer flagged lentLine codes a line it is lent exactly as the clipped copy the copy loop would give
// it, and leaves the lent line as it was: lines with runs out of order, overlapping, empty, left of the
// page and past its width.
TEST(Registry, WritersThatTakeLentLinesCodeThemAsTheirClippedCopies) {
  constexpr int32_t kWidth = 200;
  const std::vector<std::vector<int32_t>> lines = {
      {-5, 3, 2, 10, 8, 8, 30, 40, 35, 50, 20, 25, 190, 250, 260, 270},
      {},
      {0, kWidth},
      {150, 160, 160, 170, 199, 200, 200, 201}};
  RioSettings settings;
  settings.sourceDate = "1700000000";  // files that state a date state the same one both times
  auto write = [&](RasterFormatId id, bool lend) {
    std::FILE* file = std::tmpfile();
    RasterStream* stream = streamOpen(file, "w", &settings);
    RioStatus st = 0;
    RCB* rcb = rioOpenRasterWrite(stream, kWidth, static_cast<int32_t>(lines.size()), id, &st);
    EXPECT_NE(rcb, nullptr) << st;
    for (const auto& runs : lines) {
      std::vector<int32_t> line = runs;
      line.insert(line.end(), {kSlineEnd, kSlineEnd});
      const std::vector<int32_t> before = line;
      if (lend) {
        int32_t* own = rcb->curSline;
        rcb->curSline = line.data();
        EXPECT_EQ(rioWriteRasterSline(rcb), 0);
        rcb->curSline = own;
        EXPECT_EQ(line, before);
      } else {
        rioCopySlineClipped(line.data(), rcb->curSline, kWidth);
        EXPECT_EQ(rioWriteRasterSline(rcb), 0);
      }
      rioSwapSlines(rcb);
    }
    EXPECT_EQ(rioCloseRaster(rcb), 0);
    EXPECT_EQ(streamClose(stream), 1);
    std::vector<uint8_t> bytes(1 << 16);
    std::rewind(file);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
  };
  int flagged = 0;
  for (RasterFormatId id = 1; id <= kMaxFormatId; ++id) {
    const FormatInfo& info = rioFormatInfo(id);
    if (!info.writes || !info.lentLine) continue;
    SCOPED_TRACE(info.title);
    ++flagged;
    const std::vector<uint8_t> copied = write(id, false);
    EXPECT_FALSE(copied.empty());
    EXPECT_EQ(write(id, true), copied);
  }
  EXPECT_GE(flagged, 10);
}

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
