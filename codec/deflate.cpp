// Deflate decoding over zlib. zlib's memory comes from the library's accounted allocator; its input is a
// small buffer the stream's bytes are copied into (bit-reversed for FillOrder 2), so zlib never holds a
// pointer into a stream buffer that a window switch or a seek may refill.
#include "codec/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "rio/alloc.h"

namespace vantrel {

namespace {

constexpr int32_t kInputSize = 4096;

voidpf zlibAlloc(voidpf, uInt items, uInt size) {
  return rioCalloc(items, size);
}

void zlibFree(voidpf, voidpf block) {
  rioFree(block);
}

}  // namespace

struct DeflateState {
  z_stream z;
  bool zlibReady;  // inflateInit succeeded: inflateEnd is owed
  bool ended;      // zlib reported the end of its stream
  uint8_t input[kInputSize];
};

namespace {

// Copies the next bytes of the stream, within the byte limit, into the input buffer; none at the end.
void takeInput(DeflateDecoder* d, RasterStream* in) {
  if (d->limited && d->bytesLeft <= 0) return;
  if (in->cur >= in->end && streamFill(in) <= 0) return;
  int64_t n = std::min<int64_t>(in->end - in->cur, kInputSize);
  if (d->limited) {
    n = std::min(n, d->bytesLeft);
    d->bytesLeft -= n;
  }
  DeflateState* s = d->state;
  if (d->lsbFirst)
    for (int64_t i = 0; i < n; ++i) s->input[i] = kBitReverse[in->cur[i]];
  else
    std::memcpy(s->input, in->cur, static_cast<size_t>(n));
  in->cur += n;
  s->z.next_in = s->input;
  s->z.avail_in = static_cast<uInt>(n);
}

}  // namespace

RioStatus deflateDecoderRestart(DeflateDecoder* d) {
  d->limited = false;
  d->bytesLeft = 0;
  d->failed = kRioOk;
  if (!d->state) {
    d->state = static_cast<DeflateState*>(rioCalloc(1, sizeof(DeflateState)));
    if (!d->state) {
      d->failed = kRioOutOfMemory;
      return d->failed;
    }
  }
  DeflateState* s = d->state;
  s->ended = false;
  s->z.next_in = s->input;
  s->z.avail_in = 0;
  int result = Z_OK;
  if (s->zlibReady) {
    result = inflateReset(&s->z);
  } else {
    s->z.zalloc = zlibAlloc;
    s->z.zfree = zlibFree;
    s->z.opaque = nullptr;
    result = inflateInit(&s->z);
    s->zlibReady = result == Z_OK;
  }
  if (result != Z_OK) d->failed = result == Z_MEM_ERROR ? kRioOutOfMemory : kRioInternal;
  return d->failed;
}

void deflateDecoderSetByteLimit(DeflateDecoder* d, int64_t bytes) {
  d->limited = bytes >= 0;
  d->bytesLeft = std::max<int64_t>(bytes, 0);
}

RioStatus deflateDecodeBytes(DeflateDecoder* d, RasterStream* in, uint8_t* out, int32_t n) {
  if (n < 0) return kRioBadParameter;
  if (d->failed) return d->failed;
  DeflateState* s = d->state;
  if (!s || !s->zlibReady) return d->failed = kRioInternal;
  z_stream& z = s->z;
  z.next_out = out;
  z.avail_out = static_cast<uInt>(n);
  RioStatus status = kRioOk;
  while (z.avail_out > 0) {
    if (s->ended) {
      status = kRioUnexpectedEof;
      break;
    }
    // zlib may still hold bits or a match to copy without new input: it is asked even when none comes.
    if (z.avail_in == 0) takeInput(d, in);
    const int result = inflate(&z, Z_NO_FLUSH);
    if (result == Z_STREAM_END) {
      s->ended = true;
    } else if (result == Z_BUF_ERROR) {  // no progress: the input has run out, or zlib is stuck
      status = z.avail_in == 0 ? kRioUnexpectedEof : kRioBadData;
      break;
    } else if (result == Z_MEM_ERROR) {
      status = kRioOutOfMemory;
      break;
    } else if (result != Z_OK) {
      status = kRioBadData;  // Z_DATA_ERROR, Z_NEED_DICT
      break;
    }
  }
  z.next_out = nullptr;
  d->failed = status;
  return status;
}

void deflateDecoderEnd(DeflateDecoder* d) {
  if (d->state) {
    if (d->state->zlibReady) inflateEnd(&d->state->z);
    rioFree(d->state);
  }
  *d = DeflateDecoder{};
}

}  // namespace vantrel
