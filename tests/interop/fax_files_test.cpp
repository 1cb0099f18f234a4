// Native Group 3 and Group 4 files against independent coders: pbmtog3 output and the Group 4 strip of a
// libtiff TIFF, each behind a native header built here, read through our readers; the data of our own
// native Group 3 file decoded by g3topbm. Pixels must equal the source page. The tools must be installed
// (netpbm, libtiff-tools): a missing one fails the test.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/native.h"
#include "tests/support/pbm.h"
#include "tests/support/read_back.h"

namespace vantrel {
namespace {

using namespace testpbm;
using testread::PageRecord;
using testread::readBack;

constexpr size_t kCodingWordAt = 50, kLineAlignedAt = 53, kBitReversedAt = 54;

// A native header for a page of the given size, with the coding flags set as the data need.
std::vector<uint8_t> nativeHeader(int codingType, int32_t width, int32_t height, bool lineAligned,
                                  bool bitReversed) {
  RCB rcb;
  rcb.width = width;
  rcb.height = height;
  rcb.xDpi = rcb.yDpi = 200;
  std::vector<uint8_t> header(kNativeWrittenHeaderSize);
  nativeEncodeHeader(&rcb, codingType, rcb.width, header.data());
  header[kLineAlignedAt] = lineAligned;
  header[kBitReversedAt] = bitReversed;
  return header;
}

void append(std::vector<uint8_t>& to, const std::vector<uint8_t>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

class FaxFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"pbmtog3", "g3topbm", "pnmtotiff"})
      ASSERT_TRUE(toolExists(tool)) << tool << " is missing: install netpbm";
    ASSERT_TRUE(toolExists("tiffcp")) << "tiffcp is missing: install libtiff-tools";
    ASSERT_TRUE(dir_.ok());
  }

  // Reads the file with the reader `id` and by recognition; both must give the page without a warning.
  void expectReads(const fs::path& file, RasterFormatId id, const Bitmap& want) {
    for (const RasterFormatId asked : {id, 0}) {
      SCOPED_TRACE("reader asked for: " + std::to_string(asked));
      const PageRecord r = readBack(file, asked);
      ASSERT_EQ(r.open, kRioOk);
      EXPECT_EQ(r.format, id);
      EXPECT_EQ(r.end, kRioEndOfPage);
      EXPECT_EQ(r.lineWarning, kRioOk);
      EXPECT_EQ(difference(r.bitmap(), want), "equal");
    }
  }

  ScratchDir dir_{"vantrel-faxfiles"};
};

// ---- pbmtog3 data behind a native Group 3 header

struct G3Case {
  int32_t width;
  int32_t height;
};

class Pbmtog3InNativeHeader : public FaxFiles, public ::testing::WithParamInterface<G3Case> {};

// pbmtog3 puts an end-of-line code before every row and six after the last; -align8 ends each end-of-line
// code on a byte boundary and -reversebits stores the bytes least significant bit first. The header's
// flags say which; a header that does not claim alignment must still read aligned data (the fill bits are
// legal zeros before an end-of-line code).
TEST_P(Pbmtog3InNativeHeader, ReadsAsTheSource) {
  const auto [width, height] = GetParam();
  const Bitmap page = makePage(width, height, 0x6E3000u + static_cast<uint64_t>(width));
  ASSERT_TRUE(writePbm(dir_ / "page.pbm", page));
  struct Variant {
    bool reversed;
    bool aligned;
    bool headerAligned;
  };
  for (const Variant v :
       {Variant{false, false, false}, Variant{true, false, false}, Variant{false, true, true},
        Variant{true, true, true}, Variant{true, true, false}}) {
    SCOPED_TRACE(std::string("reversed ") + (v.reversed ? "1" : "0") + ", aligned " +
                 (v.aligned ? "1" : "0") + ", header aligned " + (v.headerAligned ? "1" : "0"));
    ASSERT_EQ(runShell(std::string("pbmtog3 -nofixedwidth") + (v.reversed ? " -reversebits" : "") +
                       (v.aligned ? " -align8" : "") + " " + quoted(dir_ / "page.pbm") + " > " +
                       quoted(dir_ / "page.g3") + " 2>/dev/null"),
              0);
    std::vector<uint8_t> file = nativeHeader(kNativeGroup3, width, height, v.headerAligned, v.reversed);
    ASSERT_EQ(file[kCodingWordAt + 1], 1) << "the Group 3 coding word";
    append(file, readBytes(dir_ / "page.g3"));
    ASSERT_TRUE(writeBytes(dir_ / "page.zg3", file));
    expectReads(dir_ / "page.zg3", kFormatNativeG3, page);
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, Pbmtog3InNativeHeader,
                         ::testing::Values(G3Case{1, 20}, G3Case{77, 60}, G3Case{1001, 80}, G3Case{1728, 80},
                                           G3Case{2600, 40}, G3Case{5300, 20}),
                         [](const ::testing::TestParamInfo<G3Case>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

// Without -nofixedwidth pbmtog3 codes every row 1728 pixels wide, padding a narrower page with white.
TEST_F(FaxFiles, Pbmtog3FixedWidthPadsWithWhite) {
  for (const int32_t width : {1, 77, 1001, 1728}) {
    SCOPED_TRACE("width " + std::to_string(width));
    const Bitmap page = makePage(width, 50, 0x6E3100u + static_cast<uint64_t>(width));
    ASSERT_TRUE(writePbm(dir_ / "page.pbm", page));
    ASSERT_EQ(runShell("pbmtog3 -reversebits " + quoted(dir_ / "page.pbm") + " > " +
                       quoted(dir_ / "page.g3") + " 2>/dev/null"),
              0);
    std::vector<uint8_t> file = nativeHeader(kNativeGroup3, 1728, page.height, false, true);
    append(file, readBytes(dir_ / "page.g3"));
    ASSERT_TRUE(writeBytes(dir_ / "page.zg3", file));
    expectReads(dir_ / "page.zg3", kFormatNativeG3, widened(page, 1728));
  }
}

// ---- the Group 4 strip of a libtiff TIFF behind a native Group 4 header

// The SHORT and LONG fields of a TIFF's first directory by tag, and its byte order; nullopt when the file
// is not a TIFF or a field lies outside it.
struct TiffDirectory {
  bool bigEndian = false;
  std::map<uint32_t, std::vector<uint32_t>> fields;
  uint32_t first(uint32_t tag, uint32_t otherwise = 0) const {
    auto it = fields.find(tag);
    return it == fields.end() || it->second.empty() ? otherwise : it->second[0];
  }
};

std::optional<TiffDirectory> parseTiff(const std::vector<uint8_t>& f) {
  if (f.size() < 8) return std::nullopt;
  TiffDirectory t;
  if (f[0] == 'M' && f[1] == 'M')
    t.bigEndian = true;
  else if (f[0] != 'I' || f[1] != 'I')
    return std::nullopt;
  auto u16 = [&](size_t at) -> uint32_t {
    return t.bigEndian ? (f[at] << 8 | f[at + 1]) : (f[at + 1] << 8 | f[at]);
  };
  auto u32 = [&](size_t at) -> uint32_t {
    return t.bigEndian ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at));
  };
  if (u16(2) != 42) return std::nullopt;
  const size_t ifd = u32(4);
  if (ifd + 2 > f.size()) return std::nullopt;
  const uint32_t entries = u16(ifd);
  if (ifd + 2 + 12 * size_t{entries} > f.size()) return std::nullopt;
  for (uint32_t i = 0; i < entries; ++i) {
    const size_t e = ifd + 2 + 12 * size_t{i};
    const uint32_t tag = u16(e), type = u16(e + 2), count = u32(e + 4);
    if (type != 3 && type != 4) continue;
    const size_t size = type == 3 ? 2 : 4;
    const size_t values = size * count <= 4 ? e + 8 : u32(e + 8);
    if (count > 1'000'000 || values + size * count > f.size()) return std::nullopt;
    std::vector<uint32_t>& v = t.fields[tag];
    for (uint32_t k = 0; k < count; ++k) v.push_back(type == 3 ? u16(values + 2 * k) : u32(values + 4 * k));
  }
  return t;
}

struct G4Case {
  const char* label;
  const char* command;  // "%in", "%out" and "%h" (the height) are replaced
  bool bigEndian;
  bool bitReversed;
};

void PrintTo(const G4Case& c, std::ostream* os) {
  *os << c.label;
}

std::string expand(std::string command, const fs::path& in, const fs::path& out, int32_t height) {
  for (const auto& [key, value] : {std::pair<std::string, std::string>{"%in", quoted(in)},
                                   {"%out", quoted(out)},
                                   {"%h", std::to_string(height)}})
    for (size_t at; (at = command.find(key)) != std::string::npos;) command.replace(at, key.size(), value);
  return command;
}

const G4Case kG4Cases[] = {
    {"pnmtotiff", "pnmtotiff -g4 -miniswhite -rowsperstrip %h %in > %out", false, false},
    {"tiffcp_big_endian", "pnmtotiff -miniswhite %in > %in.tif && tiffcp -B -c g4 -r %h %in.tif %out", true,
     false},
    {"tiffcp_lsb2msb", "pnmtotiff -miniswhite %in > %in.tif && tiffcp -L -c g4 -r %h -f lsb2msb %in.tif %out",
     false, true},
    {"tiffcp_big_endian_lsb2msb",
     "pnmtotiff -miniswhite %in > %in.tif && tiffcp -B -c g4 -r %h -f lsb2msb %in.tif %out", true, true},
};

using G4Param = std::tuple<G4Case, std::pair<int32_t, int32_t>>;

class LibtiffG4Strip : public FaxFiles, public ::testing::WithParamInterface<G4Param> {};

// libtiff codes the strip's lines and ends it with the end-of-block code; with FillOrder 2 every byte is
// stored least significant bit first, which the native header's bit-order byte says.
TEST_P(LibtiffG4Strip, ReadsAsTheSource) {
  const auto& [tool, size] = GetParam();
  const auto [width, height] = size;
  const Bitmap page = makePage(width, height, 0x6E4000u + static_cast<uint64_t>(width));
  ASSERT_TRUE(writePbm(dir_ / "page.pbm", page));
  ASSERT_EQ(runShell(expand(tool.command, dir_ / "page.pbm", dir_ / "page.tif", height) + " 2>/dev/null"), 0);

  const std::vector<uint8_t> tiff = readBytes(dir_ / "page.tif");
  const std::optional<TiffDirectory> t = parseTiff(tiff);
  ASSERT_TRUE(t.has_value()) << "not a TIFF file";
  EXPECT_EQ(t->bigEndian, tool.bigEndian);
  ASSERT_EQ(t->first(256), uint32_t(width));
  ASSERT_EQ(t->first(257), uint32_t(height));
  ASSERT_EQ(t->first(259), 4u) << "not Group 4";
  ASSERT_EQ(t->first(262), 0u) << "not white-is-zero: the coded runs would be of the other colour";
  ASSERT_EQ(t->first(266, 1), tool.bitReversed ? 2u : 1u) << "fill order";
  ASSERT_EQ(t->fields.count(273) ? t->fields.at(273).size() : 0, 1u) << "not one strip";
  ASSERT_EQ(t->fields.count(279) ? t->fields.at(279).size() : 0, 1u);
  const size_t offset = t->first(273), byteCount = t->first(279);
  ASSERT_LE(offset + byteCount, tiff.size());

  std::vector<uint8_t> file = nativeHeader(kNativeGroup4, width, height, false, tool.bitReversed);
  file.insert(file.end(), tiff.begin() + static_cast<std::ptrdiff_t>(offset),
              tiff.begin() + static_cast<std::ptrdiff_t>(offset + byteCount));
  ASSERT_TRUE(writeBytes(dir_ / "page.zg4", file));
  expectReads(dir_ / "page.zg4", kFormatNativeG4, page);
}

std::string g4CaseName(const ::testing::TestParamInfo<G4Param>& info) {
  const G4Case& tool = std::get<0>(info.param);
  const auto size = std::get<1>(info.param);
  return std::string(tool.label) + "_" + std::to_string(size.first) + "x" + std::to_string(size.second);
}

INSTANTIATE_TEST_SUITE_P(Tools, LibtiffG4Strip,
                         ::testing::Combine(::testing::ValuesIn(kG4Cases),
                                            ::testing::Values(std::pair{1, 10}, std::pair{77, 60},
                                                              std::pair{1001, 120}, std::pair{1728, 100},
                                                              std::pair{5300, 30})),
                         g4CaseName);

// ---- our native Group 3 file decoded by g3topbm

class G3topbmReadsOurs : public FaxFiles, public ::testing::WithParamInterface<G3Case> {};

// Our writer stores the bytes least significant bit first with byte-aligned end-of-line codes and says so
// in the header; g3topbm takes the data after the header with -reversebits.
TEST_P(G3topbmReadsOurs, PixelsEqual) {
  const auto [width, height] = GetParam();
  const Bitmap page = makePage(width, height, 0x6E5000u + static_cast<uint64_t>(width));
  ASSERT_EQ(writeThroughLibrary(dir_ / "ours.g3", kFormatNativeG3, page, 300), kRioOk);
  const std::vector<uint8_t> file = readBytes(dir_ / "ours.g3");
  ASSERT_GE(file.size(), size_t{kNativeWrittenHeaderSize});
  EXPECT_EQ(file[4], kNativeGroup3);
  EXPECT_EQ(file[kLineAlignedAt], 1);
  EXPECT_EQ(file[kBitReversedAt], 1);
  const size_t dataAt = size_t{file[10]} << 24 | size_t{file[11]} << 16 | size_t{file[12]} << 8 | file[13];
  ASSERT_EQ(dataAt, size_t{kNativeWrittenHeaderSize});
  EXPECT_EQ(file.size() % 4, 0u) << "the data end on a four-byte boundary";
  ASSERT_TRUE(writeBytes(dir_ / "data.g3", std::vector<uint8_t>(file.begin() + dataAt, file.end())));
  ASSERT_EQ(runShell("g3topbm -reversebits -stop_error " + quoted(dir_ / "data.g3") + " > " +
                     quoted(dir_ / "back.pbm") + " 2>/dev/null"),
            0);
  Bitmap back;
  ASSERT_TRUE(readPnm(dir_ / "back.pbm", &back));
  EXPECT_EQ(difference(back, page), "equal");
}

INSTANTIATE_TEST_SUITE_P(Widths, G3topbmReadsOurs,
                         ::testing::Values(G3Case{1, 20}, G3Case{77, 60}, G3Case{1001, 80}, G3Case{1728, 80},
                                           G3Case{2600, 40}, G3Case{5300, 20}),
                         [](const ::testing::TestParamInfo<G3Case>& info) {
                           return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

// The program's own output for a drawgen page of A4 size at 200 dpi, the same check.
TEST_F(FaxFiles, G3topbmReadsTheProgramsNativeGroup3) {
  const std::string args = std::string(DRAWGEN_EXE) + " -p a4 -dpi 200 ";
  ASSERT_EQ(runShell(args + quoted(dir_ / "page.pbm")), 0);
  ASSERT_EQ(runShell(args + "-f rnl " + quoted(dir_ / "page.rnl")), 0);
  int exitStatus = -1;
  const std::string said = capture(
      "cd " + quoted(dir_.path()) + " && " + quoted(VANTREL_EXE) + " page.rnl page.g3 2>&1", &exitStatus);
  ASSERT_EQ(exitStatus, 1) << said;
  const std::vector<uint8_t> file = readBytes(dir_ / "page.g3");
  ASSERT_GT(file.size(), size_t{kNativeWrittenHeaderSize});
  ASSERT_TRUE(writeBytes(dir_ / "data.g3",
                         std::vector<uint8_t>(file.begin() + kNativeWrittenHeaderSize, file.end())));
  ASSERT_EQ(runShell("g3topbm -reversebits -stop_error " + quoted(dir_ / "data.g3") + " > " +
                     quoted(dir_ / "back.pbm") + " 2>/dev/null"),
            0);
  Bitmap page, back;
  ASSERT_TRUE(readPnm(dir_ / "page.pbm", &page));
  ASSERT_TRUE(readPnm(dir_ / "back.pbm", &back));
  EXPECT_EQ(difference(back, page), "equal");
}

}  // namespace
}  // namespace vantrel
