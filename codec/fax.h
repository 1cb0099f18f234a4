// CCITT fax line codecs: Group 3 one-dimensional (Modified Huffman, T.4) and Group 4 (T.6), and the
// decoding of Group 3 two-dimensional data (Modified READ, T.4 with K > 1).
//
// Each decode call turns the next coded line of a RasterStream into a run list (Sline); each encode call
// codes one run list and writes whole 32-bit words, most significant byte first. The state structs are
// plain records that a format driver embeds in its own state: a value-initialised (zero) state is the
// start of an image with the most common options (most significant bit first; Group 3 lines with
// end-of-line codes, byte-aligned when encoding). A codec knows nothing of the format it serves.
//
// Run lists: out must have room for slineValues(width) int32 (every line buffer of that width has). Decoders
// always terminate `out`, also after a failure, and what they deliver is sorted, non-touching and inside
// [0, width]. Reference lines are read up to their first value that breaks that order.
#pragma once

#include <cstdint>

#include "codec/bits.h"
#include "rio/sline.h"
#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

// ---------------------------------------------------------------------------------------------------------
// Decoding.
//
// Results: 0 a line; -1 (EOP in input data) at the return-to-control sequence (Group 3) or an end-of-line
// or end-of-block code where a Group 4 mode code starts; -10 when a code needs bits past the end of the
// data; -12 illegal codes, or a changing element that does not move right; -13 the uncompressed-mode
// extension; -14 a run beyond the width; -4 a negative width. The decoders never resynchronise: after a
// failure other than -1 the image is abandoned. Every call after -1 reports -1 again.

struct FaxDecoder {
  int32_t codingWord = 0;  // from the file header; kept, not used for decoding
  bool lineAlign = false;  // Group 3: every line but the first starts on a byte boundary
  bool noEol = false;      // Group 3: lines carry no end-of-line codes; a line ends when it reaches the width
  bool started = false;    // Group 3: the first line of the image (or strip) has begun
  int32_t eolCount = 0;    // Group 3: end-of-line codes met since the last run code
  FaxBitReader bits;       // bits.lsbFirst: the data are stored least significant bit first
};

// Starts a new image or strip on the same options: empties the bit buffer, forgets the end of the input
// and the byte limit, and expects a first line (Group 3: an end-of-line code in front of it is skipped).
void faxDecoderRestart(FaxDecoder* d);
// Takes at most `bytes` more bytes from the stream (a strip's or tile's byte count); negative: no limit.
void faxDecoderSetByteLimit(FaxDecoder* d, int64_t bytes);
// Whole bytes taken from the stream but not used yet: the coded data end at streamTell minus these.
int32_t faxDecoderBufferedBytes(const FaxDecoder* d);

// One Group 3 line. An end-of-line code in front of the first line (with any fill) is skipped; each
// later end-of-line code ends a line (one ending it short leaves the rest white); two in a row are the
// return-to-control sequence (-1). A line that has reached the width when the data run out is complete.
[[nodiscard]] RioStatus g3DecodeLine(FaxDecoder* d, RasterStream* in, int32_t width, int32_t* out);
// One Group 3 two-dimensional line (Modified READ). Every line follows an end-of-line code and its tag
// bit: 1, a one-dimensional line (Modified Huffman runs, `ref` unused); 0, a two-dimensional line coded
// against `ref` (nullptr: all white) with the Group 4 modes. Zero fill bits before an end-of-line code are
// skipped, as are any bits between the end of a line and the next run of eleven zeros (bits a coder left
// after a complete line). An end-of-line code where the line is still short ends it, the rest white. An
// end-of-line code right after an end-of-line code and its tag is the return-to-control sequence (-1).
// noEol and lineAlign do not apply: these lines always follow end-of-line codes.
[[nodiscard]] RioStatus g3Decode2dLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref,
                                       int32_t* out);
// One Group 4 line coded against `ref` (nullptr: an all-white reference line).
[[nodiscard]] RioStatus g4DecodeLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref,
                                     int32_t* out);

// Own lines: lines the Group 4 codec reads without checking them. An own line is valid for its width (as
// faxNormalizeLine leaves it, or as a decoder delivers a whole line) and ends with kFaxOwnLineEnds kSlineEnd
// values; its buffer holds slineValues(width) + kFaxOwnLineSpare int32 (a line pair's lines do).
inline constexpr int32_t kFaxOwnLineEnds = 3;
inline constexpr int32_t kFaxOwnLineSpare = kFaxOwnLineEnds - 2;

// g4DecodeLine against an own line `ref` into `out`, which becomes an own line when the result is 0 (the
// buffer of an own line); *values gets the number of values before the terminator, also after a failure.
[[nodiscard]] RioStatus g4DecodeOwnLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref,
                                        int32_t* out, int32_t* values);
// g3Decode2dLine against an own line `ref`; `out` is left an own line (its buffer as an own line's), with
// *values values before its terminator.
[[nodiscard]] RioStatus g3Decode2dOwnLine(FaxDecoder* d, RasterStream* in, int32_t width, const int32_t* ref,
                                          int32_t* out, int32_t* values);

// ---------------------------------------------------------------------------------------------------------
// Encoding.
//
// The current line is read, never written: the caller codes a line as faxNormalizeLine leaves it (inside
// the width, sorted, no empty or touching runs), which is then a valid reference line for the next one.
// Like a reference line, it is coded up to its first value that breaks that order. Results: 0, or -8
// when the stream did not take a word (and for every call after that).

struct FaxEncoder {
  int32_t codingWord = 0;     // for the file header; not used for coding
  bool lineAlign = false;     // for the file header; with noEol, each line is padded to a byte boundary
  bool noEol = false;         // Group 3: no end-of-line codes (no leading one, none after lines, no RTC)
  bool unalignedEol = false;  // Group 3: end-of-line codes without fill bits in front
  bool started = false;       // Group 3: the leading end-of-line code has been written
  FaxBitWriter bits;          // bits.lsbFirst: every output byte is bit-reversed
};

// Starts a new image or strip: drops pending bits (finish first to keep them) and writes a leading
// end-of-line code again before the next Group 3 line.
void faxEncoderRestart(FaxEncoder* e);

// One Group 3 line: the leading end-of-line code before the first line, then the runs, then an end-of-line
// code ending on a byte boundary (0-7 fill bits in front).
[[nodiscard]] RioStatus g3EncodeLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur);
// Five more end-of-line codes without fill (with the one ending the last line: return-to-control), then
// the last word padded with zero bits.
[[nodiscard]] RioStatus g3EncodeFinish(FaxEncoder* e, RasterStream* out);
// One Group 4 line coded against `ref` (nullptr: all white). No end-of-line code, no fill.
[[nodiscard]] RioStatus g4EncodeLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur,
                                     const int32_t* ref);
// g4EncodeLine for two own lines.
[[nodiscard]] RioStatus g4EncodeOwnLine(FaxEncoder* e, RasterStream* out, int32_t width, const int32_t* cur,
                                        const int32_t* ref);
// The end-of-block code, then the last word padded with zero bits.
[[nodiscard]] RioStatus g4EncodeFinish(FaxEncoder* e, RasterStream* out);
// Pads the pending bits with zeros to a whole word and writes it (no end code).
[[nodiscard]] RioStatus faxEncoderFlush(FaxEncoder* e, RasterStream* out);

// ---------------------------------------------------------------------------------------------------------
// Run-list helpers.

// Normalises a run list for coding into `out` (which may be `runs` itself, and needs room for
// slineValues(width) int32): starts below 0 become 0, ends are cut to the width, the list ends at the first
// run starting at or beyond the width, empty runs are dropped and a run starting at or before the previous
// end joins it. At most maxValues int32 of `runs` are read (a list that holds no terminator within its
// buffer ends there). Returns the number of int32 values before the terminator.
int32_t faxNormalizeLine(const int32_t* runs, int32_t* out, int32_t width, int64_t maxValues = INT64_MAX);
// The number of int32 values of `ref` (nullptr: none) that form a valid line of `width` pixels: pairs
// up to the terminator or the first pair that is empty, out of order, touching or beyond the width.
[[nodiscard]] int32_t faxReferenceLength(const int32_t* ref, int32_t width);

}  // namespace vantrel
