// Coded data carried over unchanged: a reader whose page is one coded stream in its input describes it
// (where it lies, how it is coded, its bit order); the run, when nothing between reader and writer
// changes the pixels, offers it to the writer; a writer that stores the same coding may then copy those
// bytes instead of coding the lines afresh. The reader still decodes every line on the way, so damaged
// data are refused as before and never copied.
#pragma once

#include <cstdint>

#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

// kGroup4: one block from `offset`. kGroup4Strips: blocks of stripRows rows each, every one begun against
// a white row (TIFF strips); while reading, `offset` is the start of the block being read.
enum class CarriedCoding : int32_t { kNone = 0, kGroup4 = 1, kGroup4Strips = 2 };

inline constexpr int64_t kCarriedToEnd = -1;  // the code reaches to the end of the input

struct CarriedCode {
  CarriedCoding coding = CarriedCoding::kNone;
  bool lsbFirst = false;     // the bytes are stored least significant bit first
  bool blackIsZero = false;  // the code's black runs are white pixels of the page
  int32_t columns = 0;       // the page the code makes, as the reader delivers it
  int32_t rows = 0;
  int64_t offset = 0;              // where the code starts in the input
  int64_t length = kCarriedToEnd;  // its bytes
  RasterStream* source = nullptr;  // set by the offer: the input the bytes are read from again
  int32_t stripRows = 0;           // kGroup4Strips: rows per block
  // How far the reader has decoded: the bits of the current block from `offset` through the end of row
  // codedRows - 1 (-1 before the first row). A writer reads them from `origin` as it takes each row.
  int64_t codedBits = -1;
  int32_t codedRows = 0;
  const CarriedCode* origin = nullptr;  // set by the offer: the reader's own record while it reads
};

struct RCB;

// The reader's description handed to the writer when it makes the writer's page unchanged (same size);
// otherwise the writer's stays empty. Call between opening the writer and its first line. The input stream
// must stay open until the writer is closed.
void rioOfferCarriedCode(RCB* writer, const RCB* reader);

// A writer that can store `coding` as it is asks, before its first line, whether it may copy the code it
// was offered: yes when the offer is of that coding and the input can be read again from the code's start
// (a pipe whose start has gone cannot); otherwise the offer is dropped and the writer codes afresh.
[[nodiscard]] bool rioAcceptCarriedCode(RCB* writer, CarriedCoding coding);

// Reading: the next row starts a block at `offset` (kGroup4Strips).
void rioCarriedBlock(RCB* reader, int64_t offset);

// Reading: row rcb->linesRead has been decoded whole and the decoder stands `bitsAhead` bits before the
// input's position: the code's rows end there.
void rioNoteCodedRow(RCB* reader, int64_t bitsAhead);

// Copies the carried code to `out` in the order the writer stores (most significant bit first), reading
// the input again. *written gets the bytes copied. -10 when the input ends inside a stated length.
[[nodiscard]] RioStatus rioCopyCarriedCode(const CarriedCode& code, RasterStream* out, int64_t* written);

}  // namespace vantrel
