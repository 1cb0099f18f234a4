#include "formats/tiff/byte_filters.h"

#include <algorithm>
#include <new>

#include "codec/deflate.h"
#include "codec/lzw.h"
#include "rio/alloc.h"

namespace vantrel {
namespace {

// A decoder and whether its byte limit is set for the current segment: the limit is the column's budget
// at the segment's first read.
template <typename Decoder>
struct FilterState {
  Decoder decoder{};
  bool limited = false;
};

// Runs one decode call and lowers the column's budget by the stored bytes it took.
template <typename Call>
RioStatus readCounted(RasterStream* in, int64_t* bytesLeft, Call call) {
  const int64_t before = streamTell(in);
  const RioStatus r = call();
  *bytesLeft = std::max<int64_t>(0, *bytesLeft - std::max<int64_t>(0, streamTell(in) - before));
  return r;
}

template <bool kLsb>
void* lzwCreate() {
  void* block = rioCalloc(1, sizeof(FilterState<LzwDecoder>));
  if (!block) return nullptr;
  auto* state = new (block) FilterState<LzwDecoder>{};
  state->decoder.bits.lsbFirst = kLsb;
  return state;
}

void lzwDestroy(void* state) { rioFree(state); }

void lzwRestart(void* state) {
  auto* s = static_cast<FilterState<LzwDecoder>*>(state);
  lzwDecoderRestart(&s->decoder);
  s->limited = false;
}

RioStatus lzwRead(void* state, RasterStream* in, int64_t* bytesLeft, uint8_t* dest, int32_t n) {
  auto* s = static_cast<FilterState<LzwDecoder>*>(state);
  if (!s->limited) {
    lzwDecoderSetByteLimit(&s->decoder, *bytesLeft);
    s->limited = true;
  }
  return readCounted(in, bytesLeft, [&] { return lzwDecodeBytes(&s->decoder, in, dest, n); });
}

template <bool kLsb>
void* deflateCreate() {
  void* block = rioCalloc(1, sizeof(FilterState<DeflateDecoder>));
  if (!block) return nullptr;
  auto* state = new (block) FilterState<DeflateDecoder>{};
  state->decoder.lsbFirst = kLsb;
  return state;
}

void deflateDestroy(void* state) {
  auto* s = static_cast<FilterState<DeflateDecoder>*>(state);
  deflateDecoderEnd(&s->decoder);
  rioFree(state);
}

void deflateRestart(void* state) {
  auto* s = static_cast<FilterState<DeflateDecoder>*>(state);
  // A failed restart leaves the decoder failing every read with its status.
  (void)deflateDecoderRestart(&s->decoder);
  s->limited = false;
}

RioStatus deflateRead(void* state, RasterStream* in, int64_t* bytesLeft, uint8_t* dest, int32_t n) {
  auto* s = static_cast<FilterState<DeflateDecoder>*>(state);
  if (!s->limited) {
    deflateDecoderSetByteLimit(&s->decoder, *bytesLeft);
    s->limited = true;
  }
  return readCounted(in, bytesLeft, [&] { return deflateDecodeBytes(&s->decoder, in, dest, n); });
}

constexpr TileFilter kLzw{lzwCreate<false>, lzwDestroy, lzwRestart, lzwRead};
constexpr TileFilter kLzwLsb{lzwCreate<true>, lzwDestroy, lzwRestart, lzwRead};
constexpr TileFilter kDeflate{deflateCreate<false>, deflateDestroy, deflateRestart, deflateRead};
constexpr TileFilter kDeflateLsb{deflateCreate<true>, deflateDestroy, deflateRestart, deflateRead};

}  // namespace

const TileFilter* lzwTileFilter(bool lsbFirst) { return lsbFirst ? &kLzwLsb : &kLzw; }
const TileFilter* deflateTileFilter(bool lsbFirst) { return lsbFirst ? &kDeflateLsb : &kDeflate; }

}  // namespace vantrel
