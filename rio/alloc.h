// Memory accounting: every block of the raster core and the picture code is allocated here. Each block
// carries an 8-byte prefix holding its requested size, so the bytes in use and their high-water mark are
// known at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace vantrel {

void* rioMalloc(size_t size);
void* rioCalloc(size_t count, size_t size);  // count * size checked for overflow
void* rioRealloc(void* block, size_t size);  // copies min(old, new) bytes; nullptr leaves block alone
void rioFree(void* block);

int64_t rioBytesInUse();
int64_t rioBytesPeak();
void rioResetPeak();  // peak := bytes in use

// Test seam: the next `n` allocations of this thread succeed, the one after fails (once). -1 disables.
void rioFailAllocationAfter(int64_t n);
// Whether the failure asked for is still to come (false once it has happened, or when none was asked for).
bool rioAllocationFailurePending();

// Constructs a T in accounted memory (zero-filled before construction); nullptr when memory runs out.
template <class T, class... Args>
T* rioNew(Args&&... args) {
  void* p = rioCalloc(1, sizeof(T));
  return p ? new (p) T(std::forward<Args>(args)...) : nullptr;
}

template <class T>
void rioDelete(T* p) {
  if (!p) return;
  p->~T();
  rioFree(p);
}

// 64-bit size arithmetic for hostile counts: false on overflow or a negative operand.
[[nodiscard]] inline bool checkedMul(int64_t a, int64_t b, int64_t* out) {
  if (a < 0 || b < 0) return false;
  return !__builtin_mul_overflow(a, b, out);
}
[[nodiscard]] inline bool checkedAdd(int64_t a, int64_t b, int64_t* out) {
  if (a < 0 || b < 0) return false;
  return !__builtin_add_overflow(a, b, out);
}

}  // namespace vantrel
