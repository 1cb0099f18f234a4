// Geometric transforms of a tiled picture: mirrors, quarter turns, shears, turns by any angle, translation
// and bit shifts, and the toolkit's resampling.
//
// No pixel is resampled by a turn: quarter turns are mirrors, which move directory entries and flip each
// tile in place, and the residual turn (at most 45 degrees) is three shears, each shifting whole rows by a
// whole number of pixels. Rows run top to bottom and columns left to right, as displayed.
//
// Every mirror, quarter turn, translate and shift, and RotateTPicture, refuses to run while the picture is
// under undo protection: error 3 with its own name, picture unchanged. Shears make new pictures and do not
// look at protection.
#pragma once

#include <cstdint>

#include "picture/tpicture.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Mirrors. A mirror is a directory operation (moving entries) and a tile operation (flipping the pixels of
// one 32 x 32 tile); the framework flips every real tile through one spare buffer and allocates no tile.

using DirectoryOperation = bool (*)(TPicture* picture);
// Writes the flipped form of the tile `from` into `to` (distinct buffers of 32 words).
using TileOperation = void (*)(const uint32_t* from, uint32_t* to);

// Reverses the order of the tile rows / of the entries in each tile row.
bool MirrorHorizontalDirectory(TPicture* picture);
bool MirrorVerticalDirectory(TPicture* picture);
// Moves entry (i, j) to (j, i) in a directory for the swapped size; DPIs exchanged. Error 1
// "AllocTPicture" (picture unchanged) when the new directory cannot be had.
bool MirrorDiagonalDirectory(TPicture* picture);

void ReverseTileRows(const uint32_t* from, uint32_t* to);  // tile row r becomes row 31 - r
void MirrorTileRows(const uint32_t* from, uint32_t* to);   // each row reversed pixel for pixel
void TransposeTile(const uint32_t* from, uint32_t* to);    // pixel (r, c) becomes (c, r)
void TurnTileClockwise(const uint32_t* from, uint32_t* to);  // pixel (r, c) becomes (c, 31 - r)

bool MirrorTPicture(TPicture* picture, DirectoryOperation directoryOperation, TileOperation tileOperation);
// Top-bottom mirror: the rows reversed; height becomes tileRows * 32 (the padding is now at the top).
bool MirrorHorizontalTPicture(TPicture* picture);
// Left-right mirror: each row reversed; width becomes tilesAcross * 32.
bool MirrorVerticalTPicture(TPicture* picture);
// Transpose: rows and columns exchanged.
bool MirrorDiagonalTPicture(TPicture* picture);

// ---------------------------------------------------------------------------------------------------------
// Quarter turns, in place; no tile is allocated. Rotate90 turns clockwise (top-bottom mirror, transpose),
// Rotate270 counter-clockwise (transpose, top-bottom mirror), Rotate180 is both plain mirrors. When the
// transpose cannot be had the mirror already done is undone and error 19 is stored with the turn's name.
bool Rotate90TPicture(TPicture* picture);
bool Rotate180TPicture(TPicture* picture);
bool Rotate270TPicture(TPicture* picture);

// ---------------------------------------------------------------------------------------------------------
// Shears by a factor 0 <= f < 1 into a new picture of width + trunc((height - 1) * f + 0.5) + 32 columns.
// Shear-down-right moves row y right by floor(y * f + 0.5), shear-up-right moves it by
// floor((height - 1 - y) * f + 0.5). Unless keepSource is set the source is consumed, also on failure.
TPicture* ShearDownRightTPicture(TPicture* picture, double factor, int keepSource);
TPicture* ShearUpRightTPicture(TPicture* picture, double factor, int keepSource);

// Three-shear turn by 0 <= theta <= pi/4, clockwise or not, into a new picture. When no row would move by
// a whole pixel the picture itself is returned (a copy of it with keepSource). Without keepSource the
// picture is consumed, also on failure.
TPicture* RotateResidualTPicture(TPicture* picture, double theta, bool clockwise, int keepSource);

// Turns the page clockwise by `angle` radians (not cropped): a quarter turn, then a residual turn.
// keepSource 0: the picture itself is turned and consumed (the result may be the same record); on a
// failure after the turn began it is freed. keepSource 1: the picture is left alone and the result is a new
// picture. Refusals leave the picture as it was: error 8 for an angle that is not finite, error 3 under
// undo protection (keepSource 0).
TPicture* RotateTPicture(TPicture* picture, double angle, int keepSource);

// Where a point of the source lands in the picture RotateTPicture makes for that angle (before any crop).
struct RastPoint {
  int64_t x = 0;
  int64_t y = 0;
};
// Maps `point` of a height x width page through the steps RotateTPicture takes; *resultHeight and
// *resultWidth (when given) receive the size of the uncropped result. False for an angle not finite.
bool MapRotatedPoint(int64_t height, int64_t width, double angle, RastPoint* point,
                     int64_t* resultHeight = nullptr, int64_t* resultWidth = nullptr);

// Turns the page counter-clockwise by `angle` radians and crops the result to the turned page's own
// extent (the mapped corners): a quarter turn gives exactly width x height. The image of the source's
// top-left pixel goes to *corner when given. keepSource 0 consumes the picture: it is freed on every
// failure after the turn began. Refused before the turn (picture left as it was): error 7 without a
// picture, 8 for an angle that is not finite, 3 under undo protection.
TPicture* rastRotateImage(TPicture* picture, double angle, RastPoint* corner, int keepSource);

// ---------------------------------------------------------------------------------------------------------
// Translation and shifts, in place. Pixels moved out of the picture are lost, white comes in. A distance
// of at least the width (height) clears the picture. Error 8 for a negative distance; error 1 when a tile
// cannot be had (the picture is then partly moved).
bool TranslateTPicture(TPicture* picture, int32_t dx, int32_t dy);
bool TranslateLeftTPicture(TPicture* picture, int32_t n);
bool TranslateRightTPicture(TPicture* picture, int32_t n);
bool TranslateUpTPicture(TPicture* picture, int32_t n);
bool TranslateDownTPicture(TPicture* picture, int32_t n);
// Every row n pixels left / every column n pixels up, n in 0..31 (else error 8). The tiles needed are
// had before anything moves: error 1 "ShiftLeftTPicture" / "ShiftUpTPicture" leaves the picture as it was.
bool ShiftLeftTPicture(TPicture* picture, int32_t n);
bool ShiftUpTPicture(TPicture* picture, int32_t n);

// ---------------------------------------------------------------------------------------------------------
// Resampling by a row factor and a column factor into a new picture of trunc(height * rowFactor + 1) rows
// and trunc(width * columnFactor + 1) columns, DPIs unchanged. Reduction ORs source pixels together, so no
// black is lost. Without keepSource the source is freed on success; on failure it is left to the caller
// (error 19 "ScaleTPicture" without keepSource, the allocator's error 1 with it).
TPicture* ScaleTPicture(TPicture* picture, double rowFactor, double columnFactor, int keepSource);
// Requires 1 <= width * columnFactor <= 2147483647 and the same for the rows, else error 8
// "rastScaleImage"; error 7 without a picture.
TPicture* rastScaleImage(TPicture* picture, double rowFactor, double columnFactor, int keepSource);

}  // namespace vantrel
