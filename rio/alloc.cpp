#include "rio/alloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vantrel {
namespace {

constexpr size_t kPrefix = 8;
// Largest block a caller may ask for; beyond it the wrapper answers nullptr like a failed malloc.
constexpr size_t kMaxBlock = size_t{1} << 40;

std::atomic<int64_t> gInUse{0};
std::atomic<int64_t> gPeak{0};
thread_local int64_t tFailAfter = -1;

bool injectFailure() {
  if (tFailAfter < 0) return false;
  if (tFailAfter == 0) {
    tFailAfter = -1;
    return true;
  }
  --tFailAfter;
  return false;
}

void account(int64_t delta) {
  int64_t now = gInUse.fetch_add(delta, std::memory_order_relaxed) + delta;
  int64_t peak = gPeak.load(std::memory_order_relaxed);
  while (now > peak && !gPeak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}

void* finish(void* raw, size_t size) {
  if (!raw) return nullptr;
  uint64_t stored = size;
  std::memcpy(raw, &stored, sizeof stored);
  account(static_cast<int64_t>(size));
  return static_cast<unsigned char*>(raw) + kPrefix;
}

size_t sizeOf(void* block) {
  uint64_t stored;
  std::memcpy(&stored, static_cast<unsigned char*>(block) - kPrefix, sizeof stored);
  return static_cast<size_t>(stored);
}

}  // namespace

void* rioMalloc(size_t size) {
  if (size > kMaxBlock || injectFailure()) return nullptr;
  return finish(std::malloc(size + kPrefix), size);
}

void* rioCalloc(size_t count, size_t size) {
  size_t total;
  if (__builtin_mul_overflow(count, size, &total) || total > kMaxBlock || injectFailure()) return nullptr;
  return finish(std::calloc(1, total + kPrefix), total);
}

void* rioRealloc(void* block, size_t size) {
  if (!block) return rioMalloc(size);
  if (size > kMaxBlock || injectFailure()) return nullptr;
  size_t old = sizeOf(block);
  void* raw = std::realloc(static_cast<unsigned char*>(block) - kPrefix, size + kPrefix);
  if (!raw) return nullptr;
  account(-static_cast<int64_t>(old));
  return finish(raw, size);
}

void rioFree(void* block) {
  if (!block) return;
  account(-static_cast<int64_t>(sizeOf(block)));
  std::free(static_cast<unsigned char*>(block) - kPrefix);
}

int64_t rioBytesInUse() { return gInUse.load(std::memory_order_relaxed); }
int64_t rioBytesPeak() { return gPeak.load(std::memory_order_relaxed); }
void rioResetPeak() { gPeak.store(gInUse.load(std::memory_order_relaxed), std::memory_order_relaxed); }
void rioFailAllocationAfter(int64_t n) { tFailAfter = n; }
bool rioAllocationFailurePending() {
  return tFailAfter >= 0;
}

}  // namespace vantrel
