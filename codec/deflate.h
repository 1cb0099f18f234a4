// Deflate decoding of TIFF strips and tiles (compression 8 and 32946: zlib streams), through zlib. Same
// contract as the LZW decoder (codec/lzw.h): restart, byte limit, exactly n bytes a call, never more
// inflated than asked for, so a stream that would inflate far beyond its rows costs only the rows read.
//
// zlib keeps a state of its own (about 40 KB with its window), made by the first restart and freed by
// deflateDecoderEnd; later restarts reuse it. A value-initialised decoder holds none yet.
#pragma once

#include <cstdint>

#include "rio/status.h"
#include "rio/stream.h"

namespace vantrel {

struct DeflateState;  // zlib's stream and the input bytes it reads from

struct DeflateDecoder {
  bool lsbFirst = false;  // the bytes are stored least significant bit first (FillOrder 2)
  bool limited = false;   // bytesLeft bounds the bytes still to be taken from the stream
  int64_t bytesLeft = 0;
  RioStatus failed = kRioOk;  // the failure that ended the strip
  DeflateState* state = nullptr;
};

// A new strip or tile: makes or resets zlib's state, forgets a failure and the byte limit; keeps the bit
// order. -3 when memory runs out (the decoder then fails every call until a restart succeeds).
[[nodiscard]] RioStatus deflateDecoderRestart(DeflateDecoder* d);
// Takes at most `bytes` more bytes from the stream; negative: no limit.
void deflateDecoderSetByteLimit(DeflateDecoder* d, int64_t bytes);
// Exactly n inflated bytes into out: 0; -10 when the input or the zlib stream ends first; -12 for data
// zlib rejects; -3 when zlib runs out of memory; -18 without a successful restart.
[[nodiscard]] RioStatus deflateDecodeBytes(DeflateDecoder* d, RasterStream* in, uint8_t* out, int32_t n);
// Frees zlib's state; the decoder is value-initialised again. The owner calls it once, on every path.
void deflateDecoderEnd(DeflateDecoder* d);

}  // namespace vantrel
