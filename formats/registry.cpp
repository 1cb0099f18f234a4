// The registry: every format id with its driver, what it reads and writes, and the names that select it.
#include "formats/registry.h"

#include <cstring>
#include <vector>

namespace vantrel {
const FormatDriver kNoFormatDriver = {
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
};

namespace {

const FormatDriver* const kNone = &kNoFormatDriver;

// Capability columns: reads, writes, seekable output, read by name only, may go to a port, lent lines;
// D: a device of the batch translator.
constexpr bool R = true, W = true, S = true, N = true, P = true, L = true, D = true;
constexpr bool no = false;

// Index = id - 1. Each entry: id, title, driver, capabilities; its names (text, place in the usage text's
// -rof list, listed among the console's); the batch translator's rows (position, text, extension, -rof name),
// whether it may print the format, and its Add Files filter (position, label, patterns).
const FormatInfo kFormats[kMaxFormatId] = {
    {kFormatRunDump, "internal run-list dump", &kRunDumpDriver, R, W, no, no, P, no,
     {}},
    {kFormatNoFormat, "no format", kNone, no, no, no, no, P, no,
     {}},
    {kFormatRunLength, "native run-length", &kNativeRunLengthDriver, R, W, no, no, P, no,
     {{"rnl", 8}},
     {{1, "ZEB Uncompressed RNL", "rnl", "rnl"}},
     no,
     {5, "ZEB runlgth file(*.RNL)", "*.RNL"}},
    {kFormatNativeG3, "native Group 3", &kNativeFaxDriver, R, W, no, no, P, L,
     {{"g3"}, {"zebg3", 2}},
     {{2, "CCITT G3-ZEB Header", "g3", "zebg3"}},
     no,
     {4, "CCITT G3-ZEB(*.G3)", "*.G3"}},
    {kFormatNativeG4, "native Group 4", &kNativeFaxDriver, R, W, no, no, P, L,
     {{"g4"}, {"zebg4", 3}},
     {{3, "CCITT G4-ZEB Header", "g4", "zebg4"}},
     no,
     {3, "CCITT G4-ZEB(*.G4)", "*.G4"}},
    {kFormatCals, "CALS Type 1 Group 4", &kCalsDriver, R, W, no, no, P, L,
     {{"cg4"}, {"cal"}, {"calsg4", 1}, {"gp4", 0, false}, {"mil", 0, false}},
     {{0, "CALS G4 (MIL-STD-1840A)", "cg4", "calsg4"}},
     no,
     {0, "CALS G4 file(*.CG4;*.GP4;*.CAL;*.MIL;*.NKK)", "*.CG4;*.GP4;*.CAL;*.MIL;*.NKK"}},
    {kFormatRlc, "Image Systems run-length", &kRlcDriver, R, W, no, N, P, no,
     {{"rlc", 9}},
     {{6, "Image Systems Runlength", "rlc", "rlc"}},
     no,
     {6, "Image Sys runlgth(*.RLC)", "*.RLC"}},
    {kFormatRtl, "HP RTL (HP-GL/2 frame)", &kRtlDriver, no, W, no, no, P, no,
     {{"rtl", 12}},
     {{15, "HP RTL", "rtl", "rtl"}},
     D},
    {kFormatPostScript, "PostScript", &kPostScriptDriver, no, W, no, no, no, no,
     {{"ps", 15}},
     {{11, "Adobe PostScript", "ps", "ps"}},
     D},
    {kFormatTiff, "TIFF Group 4", &kTiffDriver, R, W, S, no, P, L,
     {{"tif"}, {"tiff"}, {"tiffg4", 4}},
     {{8, "CCITT G4-TIFF", "tif", "tiffg4"}},
     no,
     {2, "TIFF Formats(*.TIF)", "*.TIF"}},
    {kFormatJdl, "Japan Digital Labs", &kJdlDriver, no, W, no, no, P, no,
     {{"jdl", 10}},
     {{18, "Japan Digital Labs", "jdl", "jdl"}},
     D},
    {kFormatCalComp, "CalComp raster", &kCalCompDriver, no, W, no, no, P, no,
     {{"crf", 11}, {"ccrf"}},
     {{12, "CalComp Raster Format", "crf", "crf"}},
     D},
    {kFormatDsig4, "DI Group 4", &kDsig4Driver, R, W, S, no, P, no,
     {}},
    {kFormatPcl, "HP PCL", &kPclDriver, no, W, no, no, no, no,
     {{"pcl", 13}},
     {{14, "HP PCL", "pcl", "pcl"}},
     D},
    {kFormatOptigraphics, "TIFF (Optigraphics)", &kTiffDriver, R, W, S, no, P, L,
     {{"opt", 16}},
     {{20, "Optigraphics TIFF", "opt", "opt"}},
     no},
    {kFormatVersatec, "Versatec block format", &kVersatecDriver, no, W, no, no, P, no,
     {{"vbf", 14}},
     {{22, "Versatec Block Format", "vbf", "vbf"}},
     D},
    {kFormatTiffPlain, "TIFF", &kTiffDriver, R, W, S, no, P, L,
     {}},
    {kFormatRlcFamily, "Image Systems run-length family", &kRlcDriver, R, W, no, N, P, no,
     {}},
    {kFormatRtlPlain, "HP RTL", &kRtlDriver, no, W, no, no, P, no,
     {}},
    {kFormatPcx, "PCX", &kPcxDriver, R, W, no, no, P, no,
     {{"pcx", 17}},
     {{5, "PC Paint Format", "pcx", "pcx"}},
     no,
     {8, "PC Paint format(*.PCX)", "*.pcx"}},
    {kFormatNkk, "Oce / NKK run-length", &kNkkDriver, no, W, no, no, P, no,
     {{"rle", 18}, {"nkk", 19}},
     {{19, "Oce Graphics/NKK (Japan)", "oce", "nkk"}, {21, "Raster Graphics", "rle", "rle"}},
     no},
    {kFormatTiffUncompressed, "TIFF uncompressed", &kTiffDriver, R, W, S, no, P, L,
     {{"tiffu", 6}},
     {{9, "TIFF Uncompressed", "tif", "tiffu"}},
     no},
    {kFormatTiffG3, "TIFF Group 3", &kTiffDriver, R, W, S, no, P, L,
     {{"tiffg3", 5}},
     {{7, "CCITT G3-TIFF", "tif", "tiffg3"}},
     no},
    {kFormatGraphtec, "Graphtec run-length", &kRlcDriver, no, W, no, N, P, no,
     {{"grphtec", 20}},
     {{13, "GraphTEC RLC", "rlc", "grphtec"}},
     no},
    {kFormatFileNet, "FileNet IMG", &kFileNetDriver, R, W, S, no, P, no,
     {{"img"}},
     {{4, "FileNET Group IV Tiled", "img", "img"}},
     no,
     {7, "FileNET Group IV Tiled (*.img)", "*.IMG"}},
    {kFormatFileNetVariant, "FileNet IMG variant", &kFileNetDriver, R, W, S, no, P, no,
     {}},
    {kFormatTiffTiled, "TIFF tiled Group 4", &kTiffDriver, no, W, S, no, P, L,
     {{"tiled", 7}},
     {{10, "TIFF Version 6 tiled", "tif", "tiled"}},
     no},
    {kFormatJdl4000, "Japan Digital Labs 4000E", &kJdlDriver, no, W, no, no, P, no,
     {{"jd4"}},
     {{17, "Japan Digital Labs 4000E", "jd4", "jd4"}},
     D},
    {kFormatHpgl2, "HP-GL/2", &kHpgl2Driver, no, W, no, no, P, no,
     {{"hpg", 21}},
     {{16, "HP GL/2", "hpg", "hpg"}},
     D},
    {kFormatFixedFrame, "fixed-frame raw scan", &kFixedFrameDriver, R, no, no, no, P, no,
     {}},
    {kFormatCit, "Intergraph CIT", &kCitDriver, R, W, no, no, P, no,
     {{"tg4", 0, false}, {"cit", 0, false}},
     {{25, "Intergraph CIT Format", "cit", "cit"}},
     D,
     {10, "Intergraph CIT(*.CIT)", "*.CIT"}},
    {kFormatJedmicsC4, "JEDMICS C4", &kJedmicsDriver, R, W, S, N, P, no,
     {{"c4", 0, false}},
     {{23, "JEDMICSTiled G4 Format", "c4", "c4"}},
     D,
     {1, "Jedmics Tiled G4(*.C4)", "*.C4"}},
    {kFormatEdmicsB4, "EDMICS B4", &kJedmicsDriver, R, W, S, N, P, no,
     {{"b4", 0, false}},
     {{24, "Boeing EDMICS G4 Format", "b4", "b4"}},
     D,
     {9, "Boeing Edmics(*.B4)", "*.B4"}},
    {kFormatMmr, "Fuji Xerox MMR", &kMmrDriver, R, W, S, no, P, L,
     {{"mmr"}},
     {{26, "Fuji/Xerox MMr Format", "mmr", "mmr"}},
     D,
     {11, "Fuji/Xerox MMR(*.MMR)", "*.MMR"}},
    {kFormatPdf, "PDF/A-2b (Group 4)", &kPdfDriver, no, W, no, no, no, L,
     {{"pdf"}},
     {{27, "PDF/A (Group 4)", "pdf", "pdf"}},
     no},
    {kFormatPbm, "netpbm PBM", &kPbmDriver, R, W, no, no, P, L,
     {{"pbm"}},
     {{28, "netpbm PBM", "pbm", "pbm"}},
     no,
     {12, "netpbm PBM(*.PBM)", "*.PBM"}},
};

// Recognition order: the first probe that answers decides. PBM's magic is two printable characters, so it
// comes last.
const FormatProbe kProbes[] = {probeTiff, probeDsig4,   probeCals,       probeNative, probeMmr,
                               probePcx,  probeFileNet, probeFixedFrame, probeCit,    probePbm};

}  // namespace

const FormatDriver* rioFormatDriver(RasterFormatId id) {
  if (id < 1 || id > kMaxFormatId) return kNone;
  return kFormats[id - 1].driver;
}

const FormatInfo& rioFormatInfo(RasterFormatId id) {
  if (id < 1 || id > kMaxFormatId) return kFormats[kFormatNoFormat - 1];
  return kFormats[id - 1];
}

const FormatName* rioFormatNames(int* count) {
  // Built once from the entries; read-only afterwards.
  static const std::vector<FormatName> names = [] {
    std::vector<FormatName> all;
    for (const bool listed : {true, false})
      for (const FormatInfo& f : kFormats)
        for (const FormatNameSpec& n : f.names)
          if (n.text && n.listed == listed) all.push_back({n.text, f.id, n.listed, n.usageSlot});
    return all;
  }();
  if (count) *count = static_cast<int>(names.size());
  return names.data();
}

const FormatProbe* rioRecognitionProbes(int* count) {
  if (count) *count = static_cast<int>(sizeof kProbes / sizeof kProbes[0]);
  return kProbes;
}

RasterFormatId rioFormatFromName(const char* name) {
  if (!name) return 0;
  char lower[16];
  size_t n = std::strlen(name);
  if (n >= sizeof lower) return 0;  // longer than every name
  for (size_t i = 0; i <= n; ++i) {
    char c = name[i];
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (const FormatInfo& f : kFormats)
    for (const FormatNameSpec& name : f.names)
      if (name.text && std::strcmp(name.text, lower) == 0) return f.id;
  return 0;
}

RasterFormatId rioFormatFromPath(const char* path) {
  if (!path) return 0;
  const char* dot = std::strrchr(path, '.');
  if (!dot || dot == path) return 0;
  return rioFormatFromName(dot + 1);
}

}  // namespace vantrel
