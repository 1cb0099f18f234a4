// The registry: every format id with its driver, what it reads and writes, and the names that select it.
#include "formats/registry.h"

#include <cstring>

namespace vantrel {
const FormatDriver kNoFormatDriver = {
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
    rioDriverNotImplemented, rioDriverNotImplemented, rioDriverNotImplemented,
};

namespace {

const FormatDriver* const kNone = &kNoFormatDriver;

// Capability columns: reads, writes, seekable output, read by name only, may go to a port, lent lines.
constexpr bool R = true, W = true, S = true, N = true, P = true, L = true;
constexpr bool no = false;

// Index = id - 1.
const FormatInfo kFormats[kMaxFormatId] = {
    {kFormatRunDump, "internal run-list dump", &kRunDumpDriver, R, W, no, no, P, no},
    {kFormatNoFormat, "no format", kNone, no, no, no, no, P, no},
    {kFormatRunLength, "native run-length", &kNativeRunLengthDriver, R, W, no, no, P, no},
    {kFormatNativeG3, "native Group 3", &kNativeFaxDriver, R, W, no, no, P, L},
    {kFormatNativeG4, "native Group 4", &kNativeFaxDriver, R, W, no, no, P, L},
    {kFormatCals, "CALS Type 1 Group 4", &kCalsDriver, R, W, no, no, P, L},
    {kFormatRlc, "Image Systems run-length", &kRlcDriver, R, W, no, N, P, no},
    {kFormatRtl, "HP RTL (HP-GL/2 frame)", &kRtlDriver, no, W, no, no, P, no},
    {kFormatPostScript, "PostScript", &kPostScriptDriver, no, W, no, no, no, no},
    {kFormatTiff, "TIFF Group 4", &kTiffDriver, R, W, S, no, P, L},
    {kFormatJdl, "Japan Digital Labs", &kJdlDriver, no, W, no, no, P, no},
    {kFormatCalComp, "CalComp raster", &kCalCompDriver, no, W, no, no, P, no},
    {kFormatDsig4, "DI Group 4", &kDsig4Driver, R, W, S, no, P, no},
    {kFormatPcl, "HP PCL", &kPclDriver, no, W, no, no, no, no},
    {kFormatOptigraphics, "TIFF (Optigraphics)", &kTiffDriver, R, W, S, no, P, L},
    {kFormatVersatec, "Versatec block format", &kVersatecDriver, no, W, no, no, P, no},
    {kFormatTiffPlain, "TIFF", &kTiffDriver, R, W, S, no, P, L},
    {kFormatRlcFamily, "Image Systems run-length family", &kRlcDriver, R, W, no, N, P, no},
    {kFormatRtlPlain, "HP RTL", &kRtlDriver, no, W, no, no, P, no},
    {kFormatPcx, "PCX", &kPcxDriver, R, W, no, no, P, no},
    {kFormatNkk, "Oce / NKK run-length", &kNkkDriver, no, W, no, no, P, no},
    {kFormatTiffUncompressed, "TIFF uncompressed", &kTiffDriver, R, W, S, no, P, L},
    {kFormatTiffG3, "TIFF Group 3", &kTiffDriver, R, W, S, no, P, L},
    {kFormatGraphtec, "Graphtec run-length", &kRlcDriver, no, W, no, N, P, no},
    {kFormatFileNet, "FileNet IMG", &kFileNetDriver, R, W, S, no, P, no},
    {kFormatFileNetVariant, "FileNet IMG variant", &kFileNetDriver, R, W, S, no, P, no},
    {kFormatTiffTiled, "TIFF tiled Group 4", &kTiffDriver, no, W, S, no, P, L},
    {kFormatJdl4000, "Japan Digital Labs 4000E", &kJdlDriver, no, W, no, no, P, no},
    {kFormatHpgl2, "HP-GL/2", &kHpgl2Driver, no, W, no, no, P, no},
    {kFormatFixedFrame, "fixed-frame raw scan", &kFixedFrameDriver, R, no, no, no, P, no},
    {kFormatCit, "Intergraph CIT", &kCitDriver, R, W, no, no, P, no},
    {kFormatJedmicsC4, "JEDMICS C4", &kJedmicsDriver, R, W, S, N, P, no},
    {kFormatEdmicsB4, "EDMICS B4", &kJedmicsDriver, R, W, S, N, P, no},
    {kFormatMmr, "Fuji Xerox MMR", &kMmrDriver, R, W, S, no, P, L},
    {kFormatPdf, "PDF/A-2b (Group 4)", &kPdfDriver, no, W, no, no, no, L},
    {kFormatPbm, "netpbm PBM", &kPbmDriver, R, W, no, no, P, L},
};

// Every name that selects a format; the listed ones are the console's (the README's names column).
const FormatName kNames[] = {
    {"rnl", kFormatRunLength, true},
    {"g3", kFormatNativeG3, true},
    {"zebg3", kFormatNativeG3, true},
    {"g4", kFormatNativeG4, true},
    {"zebg4", kFormatNativeG4, true},
    {"cg4", kFormatCals, true},
    {"cal", kFormatCals, true},
    {"calsg4", kFormatCals, true},
    {"rlc", kFormatRlc, true},
    {"rtl", kFormatRtl, true},
    {"ps", kFormatPostScript, true},
    {"tif", kFormatTiff, true},
    {"tiff", kFormatTiff, true},
    {"tiffg4", kFormatTiff, true},
    {"jdl", kFormatJdl, true},
    {"crf", kFormatCalComp, true},
    {"ccrf", kFormatCalComp, true},
    {"pcl", kFormatPcl, true},
    {"opt", kFormatOptigraphics, true},
    {"vbf", kFormatVersatec, true},
    {"pcx", kFormatPcx, true},
    {"rle", kFormatNkk, true},
    {"nkk", kFormatNkk, true},
    {"tiffu", kFormatTiffUncompressed, true},
    {"tiffg3", kFormatTiffG3, true},
    {"grphtec", kFormatGraphtec, true},
    {"img", kFormatFileNet, true},
    {"tiled", kFormatTiffTiled, true},
    {"jd4", kFormatJdl4000, true},
    {"hpg", kFormatHpgl2, true},
    {"mmr", kFormatMmr, true},
    {"pdf", kFormatPdf, true},
    {"pbm", kFormatPbm, true},
    {"gp4", kFormatCals, false},
    {"mil", kFormatCals, false},
    {"tg4", kFormatCit, false},
    {"cit", kFormatCit, false},
    {"c4", kFormatJedmicsC4, false},
    {"b4", kFormatEdmicsB4, false},
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
  if (count) *count = static_cast<int>(sizeof kNames / sizeof kNames[0]);
  return kNames;
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
  for (const FormatName& f : kNames)
    if (std::strcmp(f.name, lower) == 0) return f.id;
  return 0;
}

RasterFormatId rioFormatFromPath(const char* path) {
  if (!path) return 0;
  const char* dot = std::strrchr(path, '.');
  if (!dot || dot == path) return 0;
  return rioFormatFromName(dot + 1);
}

}  // namespace vantrel
