// The registry: every format id with its driver, what it reads and writes, and the names that select it.
#include "formats/registry.h"

#include <cstring>

namespace vantrel {
namespace {

RioStatus notImplemented(RCB*) { return kRioNotImplemented; }

}  // namespace

const FormatDriver kNoFormatDriver = {notImplemented, notImplemented, notImplemented, notImplemented,
                                      notImplemented, notImplemented, notImplemented, notImplemented,
                                      notImplemented, notImplemented, notImplemented};

namespace {

const FormatDriver* const kNone = &kNoFormatDriver;

// Index = id - 1.
const FormatInfo kFormats[kMaxFormatId] = {
    {1, "internal run-list dump", &kRunDumpDriver, true, true},
    {2, "no format", kNone, false, false},
    {3, "native run-length", &kNativeRunLengthDriver, true, true},
    {4, "native Group 3", &kNativeFaxDriver, true, true},
    {5, "native Group 4", &kNativeFaxDriver, true, true},
    {6, "CALS Type 1 Group 4", &kCalsDriver, true, true},
    {7, "Image Systems run-length", kNone, false, false},
    {8, "HP RTL (HP-GL/2 frame)", &kRtlDriver, false, true},
    {9, "PostScript", &kPostScriptDriver, false, true},
    {10, "TIFF Group 4", &kTiffDriver, true, true},
    {11, "Japan Digital Labs", kNone, false, false},
    {12, "CalComp raster", &kCalCompDriver, false, true},
    {13, "DI Group 4", kNone, false, false},
    {14, "HP PCL", &kPclDriver, false, true},
    {15, "TIFF (Optigraphics)", &kTiffDriver, true, true},
    {16, "Versatec block format", &kVersatecDriver, false, true},
    {17, "TIFF", &kTiffDriver, true, true},
    {18, "Image Systems run-length family", kNone, false, false},
    {19, "HP RTL", &kRtlDriver, false, true},
    {20, "PCX", kNone, false, false},
    {21, "Oce / NKK run-length", kNone, false, false},
    {22, "TIFF uncompressed", &kTiffDriver, true, true},
    {23, "TIFF Group 3", &kTiffDriver, true, true},
    {24, "Graphtec run-length", kNone, false, false},
    {25, "FileNet IMG", kNone, false, false},
    {26, "FileNet IMG variant", kNone, false, false},
    {27, "TIFF tiled Group 4", &kTiffDriver, false, true},
    {28, "Japan Digital Labs 4000E", kNone, false, false},
    {29, "HP-GL/2", &kHpgl2Driver, false, true},
    {30, "fixed-frame raw scan", kNone, false, false},
    {31, "Intergraph CIT", kNone, false, false},
    {32, "JEDMICS C4", kNone, false, false},
    {33, "EDMICS B4", kNone, false, false},
    {34, "Fuji Xerox MMR", &kMmrDriver, true, true},
};

// The console knows the first 31 names, the batch translator all 37.
const FormatName kNames[] = {
    {"rnl", 3, false},     {"g3", 4, false},      {"zebg3", 4, false},   {"g4", 5, false},
    {"zebg4", 5, false},   {"cg4", 6, false},     {"cal", 6, false},     {"calsg4", 6, false},
    {"rlc", 7, false},     {"rtl", 8, false},     {"ps", 9, false},      {"tif", 10, false},
    {"tiff", 10, false},   {"tiffg4", 10, false}, {"jdl", 11, false},    {"crf", 12, false},
    {"ccrf", 12, false},   {"pcl", 14, false},    {"opt", 15, false},    {"vbf", 16, false},
    {"pcx", 20, false},    {"rle", 21, false},    {"nkk", 21, false},    {"tiffu", 22, false},
    {"tiffg3", 23, false}, {"grphtec", 24, false}, {"img", 25, false},   {"tiled", 27, false},
    {"jd4", 28, false},    {"hpg", 29, false},    {"mmr", 34, false},    {"gp4", 6, true},
    {"mil", 6, true},      {"tg4", 31, true},     {"cit", 31, true},     {"c4", 32, true},
    {"b4", 33, true},
};

}  // namespace

const FormatDriver* rioFormatDriver(RasterFormatId id) {
  if (id < 1 || id > kMaxFormatId) return kNone;
  return kFormats[id - 1].driver;
}

const FormatInfo& rioFormatInfo(RasterFormatId id) {
  if (id < 1 || id > kMaxFormatId) return kFormats[1];  // "no format"
  return kFormats[id - 1];
}

const FormatName* rioFormatNames(int* count) {
  if (count) *count = static_cast<int>(sizeof kNames / sizeof kNames[0]);
  return kNames;
}

RasterFormatId rioFormatFromName(const char* name, NameTable table) {
  if (!name) return 0;
  char lower[16];
  size_t n = std::strlen(name);
  if (n >= sizeof lower) return 0;  // longer than every name
  for (size_t i = 0; i <= n; ++i) {
    char c = name[i];
    lower[i] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  }
  for (const FormatName& f : kNames) {
    if (f.guiOnly && table == NameTable::kConsole) continue;
    if (std::strcmp(f.name, lower) == 0) return f.id;
  }
  return 0;
}

RasterFormatId rioFormatFromPath(const char* path, NameTable table) {
  if (!path) return 0;
  const char* dot = std::strrchr(path, '.');
  if (!dot || dot == path) return 0;
  return rioFormatFromName(dot + 1, table);
}

}  // namespace vantrel
