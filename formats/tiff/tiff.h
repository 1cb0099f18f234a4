// The TIFF driver's own header, shared by its files: tags, field types and compressions as named
// constants, the reader's and the writer's state, and what each file offers the others.
//   tiff.cpp                  driver glue: the operations, the table, recognition, the configured strips
//   tiff_directory.cpp        parsing an image file directory and checking the layout
//   tiff_chain.cpp            the directory chain read: pages counted and found
//   tiff_directory_write.cpp  the written header and directory, the strip or tile tables, the late patches
//   tiff_image.cpp            image data: rows read through the tile-column reader, strips and tiles written
#pragma once

#include <cstdint>

#include "codec/fax.h"
#include "formats/common/band_writer.h"
#include "formats/common/fax_lines.h"
#include "formats/common/line_pair.h"
#include "formats/common/offset_table.h"
#include "formats/common/tile_reader.h"
#include "rio/rcb.h"

namespace vantrel::tiff {

// Tags the reader handles or refuses and the writer writes.
enum Tag : uint16_t {
  kTagNewSubfileType = 254,
  kTagSubfileType = 255,
  kTagImageWidth = 256,
  kTagImageLength = 257,
  kTagBitsPerSample = 258,
  kTagCompression = 259,
  kTagPhotometric = 262,
  kTagCellWidth = 264,
  kTagCellLength = 265,
  kTagFillOrder = 266,
  kTagDocumentName = 269,
  kTagImageDescription = 270,
  kTagStripOffsets = 273,
  kTagOrientation = 274,
  kTagSamplesPerPixel = 277,
  kTagRowsPerStrip = 278,
  kTagStripByteCounts = 279,
  kTagMinSampleValue = 280,
  kTagXResolution = 282,
  kTagYResolution = 283,
  kTagPlanarConfiguration = 284,
  kTagPageName = 285,
  kTagXPosition = 286,
  kTagYPosition = 287,
  kTagGrayResponseUnit = 290,
  kTagGrayResponseCurve = 291,
  kTagT4Options = 292,
  kTagT6Options = 293,
  kTagResolutionUnit = 296,
  kTagPageNumber = 297,
  kTagTransferFunction = 301,
  kTagArtist = 315,
  kTagPredictor = 317,
  kTagWhitePoint = 318,
  kTagPrimaryChromaticities = 319,
  kTagColorMap = 320,
  kTagTileWidth = 322,
  kTagTileLength = 323,
  kTagTileOffsets = 324,
  kTagTileByteCounts = 325,
};

enum FieldType : uint16_t { kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

inline constexpr int32_t kCompressionNone = 1;
inline constexpr int32_t kCompressionCcittRle = 2;  // Modified Huffman rows without end-of-line codes
inline constexpr int32_t kCompressionGroup3 = 3;
inline constexpr int32_t kCompressionGroup4 = 4;
inline constexpr int32_t kCompressionLzw = 5;
inline constexpr int32_t kCompressionDeflate = 8;
inline constexpr int32_t kCompressionPackBits = 32773;
inline constexpr int32_t kCompressionOldDeflate = 32946;

inline constexpr int32_t kPhotometricBlackIsZero = 1;
inline constexpr int32_t kPhotometricPalette = 3;
inline constexpr int32_t kUnitCentimetre = 3;

inline constexpr int32_t kMaxName = 4096;  // longest document or page name kept

// Orientation (1..8) as the CALS pair (rotation of the pel path, direction of the line progression), which
// the RCB carries from a reader to a writer; index 0 is unused.
inline constexpr int32_t kOrientationRorient[9][2] = {{0, 0},    {0, 270},  {180, 90}, {180, 270}, {0, 90},
                                                      {270, 90}, {270, 270}, {90, 90}, {90, 270}};

// ---------------------------------------------------------------------------------------------------------
// Reading.

struct TiffReadState {
  bool bigEndian = true;
  int64_t fileSize = 0;
  int32_t compression = kCompressionNone;
  bool fillReversed = false;
  int32_t unit = 2;
  int64_t rowsPerStrip = -1;
  int32_t photometric = 0;
  int64_t photometricStated = -1;  // the tag's value as the file gives it; -1 when absent
  bool paletteZeroDarker = false;  // photometric 3: colour-map entry 0 is the darker one, so 0 bits are black
  bool nonBilevelTags = false;  // tags only a grey or colour image needs were seen (and skipped)
  int64_t bitsPerSample = 1;
  int64_t samplesPerPixel = 1;
  int64_t bitsPerSampleValues = 1;  // BitsPerSample gives one value a sample
  int32_t predictor = 1;
  int32_t t4Options = -1;
  int32_t t6Options = -1;
  double xResolution = -1;  // quotients; -1 when absent
  double yResolution = -1;
  double xPosition = 0;
  double yPosition = 0;
  bool seenCompression = false, seenWidth = false, seenLength = false, seenStripOffsets = false,
       seenStripByteCounts = false, seenTileWidth = false, seenTileLength = false, seenTileOffsets = false,
       seenTileByteCounts = false, seenDocumentName = false;
  char documentName[kMaxName + 1] = {};
  char pageName[kMaxName + 1] = {};
  char imageDescription[kMaxName + 1] = {};
  int32_t pageNumber[2] = {0, 0};
  bool carriesTexts = false;  // a name, the description or a page number is there for a writer

  // The tables as read, and the pair the layout uses (strips or tiles, tiles in row-major order).
  int64_t stripOffsetCount = 0, stripCountCount = 0, tileOffsetCount = 0, tileCountCount = 0;
  uint32_t* stripOffsets = nullptr;
  uint32_t* stripByteCounts = nullptr;
  uint32_t* tileOffsets = nullptr;
  uint32_t* tileByteCounts = nullptr;
  const uint32_t* offsets = nullptr;
  const uint32_t* byteCounts = nullptr;
  int64_t segmentCount = 0;  // strips or tiles
  bool tiled = false;
  int32_t tileWidth = 0;   // the image width for strips
  int32_t tileLength = 0;  // rows per strip for strips
  int32_t tilesAcross = 1;
  int32_t tilesDown = 1;

  TileReader tiles;  // one column for strips

  // The directory chain, kept from page to page: the first directory, the current page's and the next
  // one's offset (0: none), the pages counted (-1: not yet).
  int64_t firstDirectory = 0;
  int64_t directory = 0;
  int64_t nextDirectory = 0;
  int32_t page = 0;
  int32_t pageCount = -1;

  // Everything of the page read so far released and set back, the file and the chain kept.
  void clearPage();

  TiffReadState() = default;
  TiffReadState(const TiffReadState&) = delete;
  TiffReadState& operator=(const TiffReadState&) = delete;
  ~TiffReadState();
};

// tiff_directory.cpp: reads the file header and the first directory into the state and the RCB (size,
// resolution, extra-header block) and checks the strip or tile layout against the page.
[[nodiscard]] RioStatus readDirectory(RCB* rcb, TiffReadState& st);
// The same for the directory at `offset` (a later page): the page's own state starts afresh.
[[nodiscard]] RioStatus readPageDirectory(RCB* rcb, TiffReadState& st, int64_t offset);

// tiff_chain.cpp: the pages of the chain, counted without reading their entries; the reader moved to a page.
inline constexpr int32_t kMaxPages = 1 << 20;
[[nodiscard]] RioStatus countPages(RCB* rcb, TiffReadState& st, int32_t* count);
[[nodiscard]] RioStatus seekPage(RCB* rcb, TiffReadState& st, int32_t index);

// tiff_image.cpp: the tile-column reader over the layout; the next image row into rcb->curSline.
[[nodiscard]] RioStatus prepareRows(RCB* rcb, TiffReadState& st);
[[nodiscard]] RioStatus readRow(RCB* rcb, TiffReadState& st);

// ---------------------------------------------------------------------------------------------------------
// Writing.

struct TiffWriteState {
  int32_t compression = kCompressionGroup4;
  bool tiled = false;
  int64_t rowsPerStrip = 0;  // configured; INT64_MAX for one strip
  FaxEncoder encoder;
  G4Carry carry;  // one strip: the reader's Group 4 code copied (formats/common/fax_lines.h)
  // The row being written, normalised from curSline (which stays as it was: a reader sharing the RCB may
  // own it), and the row above it, the reference of Group 4 strips.
  LinePair lines;
  uint32_t* row = nullptr;  // uncompressed rows: (width + 7) / 8 bytes and kRowSlack more, in words
  int32_t rowBytes = 0;

  OffsetTable table;  // the strips or tiles written so far
  bool segmentOpen = false;
  int64_t segmentStart = 0;
  int64_t rowInSegment = 0;

  BandWriter band;  // tiles: one band of tile rows, band.tileLength the written TileLength

  // Entry indexes to patch at the end (-1 when not written).
  int32_t entryImageLength = -1, entryOffsets = -1, entryRowsPerStrip = -1, entryByteCounts = -1;
  // The chain: the page's directory and its entry count; where the previous page's next-directory offset
  // lies, patched once this page's directory is written (-1: the first page).
  int64_t directoryOffset = 0;
  int32_t entryCount = 0;
  int64_t previousLink = -1;
  RioStatus finishStatus = 0;
  bool finished = false;

  TiffWriteState() = default;
  TiffWriteState(const TiffWriteState&) = delete;
  TiffWriteState& operator=(const TiffWriteState&) = delete;
  ~TiffWriteState();
};

inline constexpr int32_t kWriteTileWidth = 512;

// tiff_directory_write.cpp: the header, the directory and the values behind it (resolutions 0 become 200
// in the RCB first); after the data, the strip or tile tables and the entries that depend on the data.
// A later page writes nothing here: its directory follows its data and tables, and the link of the page
// before it is patched to point to it.
[[nodiscard]] RioStatus writeHeader(RCB* rcb, TiffWriteState& st);
[[nodiscard]] RioStatus writeTablesAndPatch(RCB* rcb, TiffWriteState& st);

// tiff_image.cpp: one row into the current strip or the band; the last strip closed or the last band coded.
[[nodiscard]] RioStatus writeRow(RCB* rcb, TiffWriteState& st);
[[nodiscard]] RioStatus finishData(RCB* rcb, TiffWriteState& st);

}  // namespace vantrel::tiff
