// One Group 4 image coded line by line with a current and a reference line of the driver's own, for the
// file formats that hold a single Group 4 image after their header. The RCB's lines are only the handover:
// a read line is copied into curSline, a line to write is copied out of it (bounded by its buffer, clipped
// to the width and normalised), so nothing the caller does with the RCB's buffers can disturb the coding.
#pragma once

#include <cstdint>

#include "codec/fax.h"
#include "rio/rcb.h"

namespace vantrel {

struct Group4Lines {
  int32_t* block = nullptr;  // both lines, each with the (0, 0) pair in front
  int32_t* cur = nullptr;
  int32_t* ref = nullptr;
  int32_t width = 0;
  ~Group4Lines();
};

// Allocates both lines for `width` pixels (once; a second call keeps them), both white. -3 without memory.
[[nodiscard]] RioStatus group4AllocLines(Group4Lines* lines, int32_t width);

// Decodes the next line against the reference line into rcb->curSline. Failures are recorded in the RCB.
[[nodiscard]] RioStatus group4ReadLine(RCB* rcb, Group4Lines* lines, FaxDecoder* decoder);

// Codes rcb->curSline (left unchanged) against the line coded before. Failures are recorded in the RCB.
[[nodiscard]] RioStatus group4WriteLine(RCB* rcb, Group4Lines* lines, FaxEncoder* encoder);

}  // namespace vantrel
