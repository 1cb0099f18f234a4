// PDF/A output checked by independent programs: qpdf finds no error in any file we write; Ghostscript
// renders every page at the page's resolution to exactly the source's pixels (drawgen pages through several
// readable formats, turned, resampled, wider than 65,535 pixels); pdfimages gives back exactly the input's
// Group 4 bytes where they are carried over; pdfinfo states the page count and size; qpdf's JSON shows the
// PDF/A essentials and Pillow's colour management (lcms) takes the output profile. The tests fail when a
// tool is missing (scripts/setup.sh installs them).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/registry.h"
#include "run/translate.h"
#include "tests/support/pbm.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/tiff_layout.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;
using testpbm::Bitmap;
using testpbm::capture;
using testpbm::quoted;
using testpbm::runShell;

constexpr const char* kToolsMissing =
    "qpdf, poppler-utils, ghostscript, netpbm, libtiff-tools, gdal-bin or python3-pil is missing (scripts/setup.sh "
    "installs them)";

class PdfInterop : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.ok());
    for (const char* tool : {"qpdf", "pdfinfo", "pdfimages", "gs", "pamflip", "tifftopnm", "tiffcp", "pnmtotiff", "gdal_translate", "python3"})
      ASSERT_TRUE(testpbm::toolExists(tool)) << tool << ": " << kToolsMissing;
  }

  fs::path at(const std::string& name) const { return dir_ / name; }

  // drawgen's page in `format` ("pbm" for the reference).
  void draw(const std::string& args, const std::string& format, const std::string& name) {
    ASSERT_EQ(runShell(std::string(DRAWGEN_EXE) + " " + args + " -f " + format + " " + quoted(at(name))), 0)
        << args << " " << format;
  }

  // vantrel's exit status (1: complete).
  int translate(const std::string& in, const std::string& out, const std::string& options = "") {
    return runShell(std::string(VANTREL_EXE) + " " + quoted(at(in)) + " " + quoted(at(out)) + " " + options +
                    " >" + quoted(at("vantrel.log")) + " 2>&1");
  }

  void expectQpdfClean(const std::string& pdf) {
    int status = -1;
    const std::string out = capture("qpdf --check " + quoted(at(pdf)) + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("No syntax or stream encoding errors found"), std::string::npos) << out;
  }

  // Ghostscript's rendering of the file's first page at `dpi`.
  Bitmap render(const std::string& pdf, double dpi) {
    const fs::path pbm = at(pdf + ".gs.pbm");
    int status = -1;
    const std::string log = capture("gs -q -dSAFER -dBATCH -dNOPAUSE -dFirstPage=1 -dLastPage=1 -sDEVICE=pbmraw -r" +
                                        std::to_string(dpi) + " -sOutputFile=" + quoted(pbm) + " " + quoted(at(pdf)) +
                                        " 2>&1",
                                    &status);
    EXPECT_EQ(status, 0) << log;
    EXPECT_EQ(log, "") << "gs reported problems";
    Bitmap page;
    EXPECT_TRUE(testpbm::readPbm(pbm, &page)) << "no rendering of " << pdf;
    return page;
  }

  Bitmap pbm(const std::string& name) {
    Bitmap page;
    EXPECT_TRUE(testpbm::readPnm(at(name), &page)) << name;
    return page;
  }

  testpbm::ScratchDir dir_{"vantrel-pdf"};
};

// ---------------------------------------------------------------------------------------------------------
// Rendering: what Ghostscript paints is the source's pixels.

struct RenderCase {
  const char* name;
  const char* page;     // drawgen's page
  const char* format;   // the input's format name
  const char* options;  // vantrel's options
  // The expected page: "pbm" drawgen's own; "ccw" that turned counter-clockwise by pamflip; "tiffu" what
  // vantrel writes as uncompressed TIFF with the same options, through tifftopnm.
  const char* expected;
  double dpi;    // the output's resolution: Ghostscript renders at it
  bool carried;  // the image's data are the input's code (in either bit order), not coded afresh
};

void PrintTo(const RenderCase& c, std::ostream* os) { *os << c.name; }

class PdfRendering : public PdfInterop, public ::testing::WithParamInterface<RenderCase> {};

TEST_P(PdfRendering, GhostscriptPaintsTheSourcePixels) {
  const RenderCase& c = GetParam();
  const std::string in = std::string("in.") + c.format;
  draw(c.page, "pbm", "source.pbm");
  draw(c.page, c.format, in);
  ASSERT_EQ(translate(in, "out.pdf", c.options), 1) << testpbm::readBytes(at("vantrel.log")).size();
  expectQpdfClean("out.pdf");

  std::string expected = "source.pbm";
  if (std::string(c.expected) == "ccw") {
    ASSERT_EQ(runShell("pamflip -ccw " + quoted(at("source.pbm")) + " >" + quoted(at("turned.pbm"))), 0);
    expected = "turned.pbm";
  } else if (std::string(c.expected) == "tiffu") {
    ASSERT_EQ(translate(in, "same.tif", std::string(c.options) + " -rof tiffu"), 1);
    ASSERT_EQ(runShell("tifftopnm -quiet " + quoted(at("same.tif")) + " >" + quoted(at("same.pbm"))), 0);
    expected = "same.pbm";
  }
  EXPECT_EQ(testpbm::difference(render("out.pdf", c.dpi), pbm(expected)), "equal");

  ASSERT_EQ(runShell("pdfimages -ccitt " + quoted(at("out.pdf")) + " " + quoted(at("img"))), 0);
  std::vector<uint8_t> code = testpbm::readBytes(at("img-000.ccitt"));
  ASSERT_GT(code.size(), 16u);
  const std::vector<uint8_t> input = testpbm::readBytes(at(in));
  bool found = std::search(input.begin(), input.end(), code.begin(), code.end()) != input.end();
  for (uint8_t& b : code) b = kBitReverse[b];
  found = found || std::search(input.begin(), input.end(), code.begin(), code.end()) != input.end();
  EXPECT_EQ(found, c.carried) << (c.carried ? "coded afresh" : "carried over");
}

constexpr const char* kPage = "-w 1203 -h 901 -dpi 200 -seed 7";
INSTANTIATE_TEST_SUITE_P(
    Sources, PdfRendering,
    ::testing::Values(RenderCase{"OneStripGroup4Tiff", kPage, "tif", "", "pbm", 200, true},
                      RenderCase{"Cals", kPage, "cg4", "", "pbm", 200, true},
                      RenderCase{"StripsOfGroup4Tiff", kPage, "opt", "", "pbm", 200, false},
                      RenderCase{"NativeGroup4", kPage, "g4", "", "pbm", 200, true},
                      RenderCase{"DiGroup4", kPage, "13", "", "pbm", 200, true},
                      RenderCase{"Cit", kPage, "cit", "", "pbm", 200, true},
                      RenderCase{"Mmr", kPage, "mmr", "", "pbm", 200, true},
                      RenderCase{"NativeRunLength", kPage, "rnl", "", "pbm", 200, false},
                      RenderCase{"Group3Tiff", kPage, "tiffg3", "", "pbm", 200, false},
                      RenderCase{"FileNet", kPage, "img", "", "pbm", 200, false},
                      RenderCase{"Pcx", kPage, "pcx", "", "pbm", 200, false},
                      RenderCase{"InputResolutionOnly", kPage, "tif", "-dpi 300", "pbm", 300, true},
                      RenderCase{"Turned", kPage, "tif", "-rot 90", "ccw", 200, false},
                      RenderCase{"Resampled", kPage, "cg4", "-odpi 150", "tiffu", 150, false},
                      RenderCase{"WiderThan65535", "-w 70001 -h 40 -dpi 400 -seed 3", "tif", "", "pbm", 400, true}),
    [](const ::testing::TestParamInfo<RenderCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// Group 4 carried over: the image's data are the input's code, byte for byte.

struct CarryCase {
  const char* name;
  const char* make;  // how the input is made from drawgen's one-strip TIFF "drawn.tif"
  const char* input;
  bool batch = false;  // through the batch translator's run (one RCB that reads and writes)
};

void PrintTo(const CarryCase& c, std::ostream* os) { *os << c.name; }

class PdfCarry : public PdfInterop, public ::testing::WithParamInterface<CarryCase> {};

// The input's code: a TIFF's one strip (bit-reversed when stored least significant bit first, as PDF
// takes it), or a CALS file's bytes after its 2048-byte header.
std::vector<uint8_t> inputCode(const fs::path& input) {
  const std::vector<uint8_t> bytes = testpbm::readBytes(input);
  if (bytes.size() > 2048 && bytes[0] == 's') return {bytes.begin() + 2048, bytes.end()};
  testtiff::TiffLayout layout;
  if (!testtiff::parseLayout(bytes, &layout) || layout.offsets.size() != 1) return {};
  std::vector<uint8_t> code(bytes.begin() + layout.offsets[0], bytes.begin() + layout.offsets[0] + layout.byteCounts[0]);
  if (layout.fillOrder == 2)
    for (uint8_t& b : code) b = kBitReverse[b];
  return code;
}

TEST_P(PdfCarry, PdfimagesGivesBackTheInputsCode) {
  const CarryCase& c = GetParam();
  draw("-w 2001 -h 1500 -dpi 300 -seed 11", "tif", "drawn.tif");
  draw("-w 2001 -h 1500 -dpi 300 -seed 11", "pbm", "source.pbm");
  if (*c.make) {
    ASSERT_EQ(runShell(std::string("cd ") + quoted(dir_.path()) + " && " + c.make), 0) << c.make;
  }
  if (c.batch) {
    const std::string in = at(c.input).string(), out = at("out.pdf").string();
    const char* argv[] = {in.c_str(), out.c_str(), "-rof", "pdf"};
    testsupport::RecordingReporter reporter;
    ASSERT_EQ(runTranslationEntry(kBatchDialect, 4, argv, reporter), RunOutcome::kComplete) << reporter.all;
  } else {
    ASSERT_EQ(translate(c.input, "out.pdf"), 1);
  }
  expectQpdfClean("out.pdf");
  ASSERT_EQ(runShell("pdfimages -ccitt " + quoted(at("out.pdf")) + " " + quoted(at("img"))), 0);
  const std::vector<uint8_t> code = inputCode(at(c.input));
  ASSERT_FALSE(code.empty());
  EXPECT_TRUE(testpbm::readBytes(at("img-000.ccitt")) == code) << "the image's data are not the input's code";
  EXPECT_EQ(testpbm::difference(render("out.pdf", 300), pbm("source.pbm")), "equal");
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PdfCarry,
    ::testing::Values(CarryCase{"OneStripTiff", "", "drawn.tif"},
                      CarryCase{"LeastSignificantBitFirstTiff", "tiffcp -f lsb2msb drawn.tif lsb.tif", "lsb.tif"},
                      CarryCase{"BlackIsZeroTiff",
                                "pnmtotiff -g4 -minisblack -rowsperstrip 100000 -xresolution 300 "
                                "-yresolution 300 source.pbm >black.tif 2>/dev/null",
                                "black.tif"},
                      CarryCase{"CalsOfAnotherProgram", "gdal_translate -q -of CALS drawn.tif gdal.cal 2>/dev/null",
                                "gdal.cal"},
                      CarryCase{"BatchTranslator", "", "drawn.tif", true}),
    [](const ::testing::TestParamInfo<CarryCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// pdfinfo: one page, as large as the image at its resolution (200 dpi when the input states none); a page
// longer than 200 inches states a /UserUnit that keeps its box within 14,400 units.

struct SizeCase {
  const char* name;
  const char* page;
  const char* format;
  const char* options;
  const char* size;      // pdfinfo's "Page size:" value
  const char* userUnit;  // qpdf's JSON value of /UserUnit, "" when the page has none
};

void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.name; }

class PdfSize : public PdfInterop, public ::testing::WithParamInterface<SizeCase> {};

std::string infoField(const std::string& info, const std::string& field) {
  const size_t at = info.find("\n" + field + ":");
  if (at == std::string::npos) return "";
  const size_t start = info.find_first_not_of(' ', at + field.size() + 2);
  return info.substr(start, info.find('\n', start) - start);
}

TEST_P(PdfSize, PdfinfoStatesOnePageOfTheImagesSize) {
  const SizeCase& c = GetParam();
  draw(c.page, c.format, std::string("in.") + c.format);
  ASSERT_EQ(translate(std::string("in.") + c.format, "out.pdf", c.options), 1);
  expectQpdfClean("out.pdf");
  int status = -1;
  const std::string info = "\n" + capture("pdfinfo " + quoted(at("out.pdf")) + " 2>&1", &status);
  ASSERT_EQ(status, 0) << info;
  EXPECT_EQ(infoField(info, "Pages"), "1");
  EXPECT_EQ(infoField(info, "Page size"), c.size);
  EXPECT_EQ(infoField(info, "PDF version"), "1.7");
  EXPECT_EQ(infoField(info, "Encrypted"), "no");
  const std::string f = quoted(at("out.pdf"));
  const std::string page =
      capture("qpdf --show-object=$(qpdf --show-pages " + f + " | sed -n 's/^page 1: \\([0-9]*\\) 0 R.*/\\1/p') " + f);
  const size_t u = page.find("/UserUnit ");
  EXPECT_EQ(u == std::string::npos ? "" : page.substr(u + 10, page.find_first_of(" >", u + 10) - u - 10),
            c.userUnit)
      << page;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, PdfSize,
    ::testing::Values(SizeCase{"Letter", "-w 1700 -h 2200 -dpi 200 -seed 2", "tif", "", "612 x 792 pts (letter)", ""},
                      SizeCase{"GivenResolution", "-w 1700 -h 2200 -dpi 200 -seed 2", "tif", "-dpi 400",
                               "306 x 396 pts", ""},
                      SizeCase{"NoResolutionIs200Dpi", "-w 1700 -h 2200 -dpi 200 -seed 2", "rlc", "",
                               "612 x 792 pts (letter)", ""},
                      SizeCase{"LongerThan200Inches", "-w 300 -h 48000 -dpi 200 -seed 2", "cg4", "",
                               "90 x 14400 pts", "1.2"}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------------------
// The PDF/A essentials in qpdf's JSON: XMP naming part 2 and conformance B, agreeing with the Info
// dictionary; one /GTS_PDFA1 output intent whose profile lcms (through Pillow) takes as a grey monitor
// profile of version 2 mapping black and white to black and white; a trailer /ID of two equal strings and no
// /Encrypt.
constexpr const char* kEssentials = R"PY(
import base64, io, json, sys, xml.etree.ElementTree as ET
from PIL import Image, ImageCms
doc = json.load(open(sys.argv[1]))["qpdf"][1]
def obj(ref): return doc["obj:" + ref]
def value(ref): return obj(ref)["value"]
def text(s): return s[2:] if s[:2] in ("u:", "b:") else s
trailer = doc["trailer"]["value"]
assert "/Encrypt" not in trailer, "encrypted"
ids = trailer["/ID"]
assert len(ids) == 2 and ids[0] == ids[1] and text(ids[0]), ids  # 16 bytes: "b:" and 32 hex digits, or text
assert not ids[0].startswith("b:") or len(ids[0]) == 34, ids
root = value(trailer["/Root"])
assert root["/Type"] == "/Catalog"
meta = obj(root["/Metadata"])["stream"]
assert meta["dict"]["/Subtype"] == "/XML" and "/Filter" not in meta["dict"]
xmp = ET.fromstring(base64.b64decode(meta["data"]).decode("utf-8").split("?>", 1)[1].rsplit("<?xpacket", 1)[0])
ns = {"pdfaid": "http://www.aiim.org/pdfa/ns/id/", "pdf": "http://ns.adobe.com/pdf/1.3/",
      "xmp": "http://ns.adobe.com/xap/1.0/"}
assert xmp.find(".//pdfaid:part", ns).text == "2"
assert xmp.find(".//pdfaid:conformance", ns).text == "B"
info = value(trailer["/Info"])
assert xmp.find(".//pdf:Producer", ns).text == text(info["/Producer"])
def instant(d):  # D:YYYYMMDDHHmmSS+00'00' and YYYY-MM-DDTHH:MM:SS+00:00 alike
  digits = "".join(ch for ch in d if ch.isdigit())
  return digits[:14] + "/" + digits[14:]
assert instant(xmp.find(".//xmp:CreateDate", ns).text) == instant(text(info["/CreationDate"]))
assert instant(xmp.find(".//xmp:ModifyDate", ns).text) == instant(text(info["/ModDate"]))
intents = root["/OutputIntents"]
assert len(intents) == 1
intent = value(intents[0]) if isinstance(intents[0], str) else intents[0]
assert intent["/S"] == "/GTS_PDFA1", intent
profile = obj(intent["/DestOutputProfile"])["stream"]
assert profile["dict"]["/N"] == 1
p = ImageCms.ImageCmsProfile(io.BytesIO(base64.b64decode(profile["data"])))
assert p.profile.xcolor_space.strip() == "GRAY" and p.profile.device_class == "mntr", p.profile.xcolor_space
assert int(p.profile.version) == 2, p.profile.version
srgb = ImageCms.createProfile("sRGB")
t = ImageCms.buildTransform(p, srgb, "L", "RGB")
out = ImageCms.applyTransform(Image.frombytes("L", (2, 1), bytes([0, 255])), t)
assert max(out.getpixel((0, 0))) < 8 and min(out.getpixel((1, 0))) > 247, (out.getpixel((0, 0)), out.getpixel((1, 0)))
print("ok")
)PY";

TEST_F(PdfInterop, PdfAEssentialsReadBackWithQpdfAndLcms) {
  draw("-w 800 -h 600 -dpi 200 -seed 4", "cg4", "in.cg4");
  ASSERT_EQ(translate("in.cg4", "out.pdf"), 1);
  expectQpdfClean("out.pdf");
  ASSERT_TRUE(testpbm::writeBytes(at("essentials.py"), std::vector<uint8_t>(kEssentials, kEssentials + std::strlen(kEssentials))));
  ASSERT_EQ(runShell("qpdf --json=2 --json-stream-data=inline " + quoted(at("out.pdf")) + " >" + quoted(at("out.json"))), 0);
  EXPECT_EQ(capture("/usr/bin/python3 " + quoted(at("essentials.py")) + " " + quoted(at("out.json")) + " 2>&1"), "ok\n");
}

// ---------------------------------------------------------------------------------------------------------
// Damaged input whose code would be carried over is refused as before, and no output is left.

struct DamageCase {
  const char* name;
  int64_t keep;     // bytes kept of the CALS file (-1: all)
  int64_t zeroAt;   // bytes from here zeroed (-1: none)
};

void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

class PdfDamage : public PdfInterop, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(PdfDamage, DamagedCodeIsRefusedAndNeverCopied) {
  const DamageCase& c = GetParam();
  draw("-w 1000 -h 800 -dpi 200 -seed 9", "cg4", "in.cg4");
  std::vector<uint8_t> bytes = testpbm::readBytes(at("in.cg4"));
  const int64_t code = static_cast<int64_t>(bytes.size()) - 2048;
  ASSERT_GT(code, 1000);
  if (c.keep >= 0) bytes.resize(static_cast<size_t>(2048 + code * c.keep / 100));
  if (c.zeroAt >= 0)
    std::fill(bytes.begin() + 2048 + code * c.zeroAt / 100, bytes.begin() + 2048 + code * c.zeroAt / 100 + 64, 0);
  ASSERT_TRUE(testpbm::writeBytes(at("bad.cg4"), bytes));
  EXPECT_EQ(translate("bad.cg4", "out.pdf"), 0);
  EXPECT_FALSE(fs::exists(at("out.pdf")));
}

INSTANTIATE_TEST_SUITE_P(Inputs, PdfDamage,
                         ::testing::Values(DamageCase{"Truncated", 50, -1}, DamageCase{"ZerosInTheMiddle", -1, 40}),
                         [](const ::testing::TestParamInfo<DamageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel
