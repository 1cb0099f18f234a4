// A run watched from another thread (the batch translator's interface): the rows of the page read so far,
// the page's height when the reader knows it, and a request to stop. The copy loops look at it once per
// input line: two relaxed atomic operations, nothing a line's decoding would notice.
#pragma once

#include <atomic>
#include <climits>
#include <cstdint>

#include "rio/status.h"

namespace vantrel {

// The status of a run its watch stopped: the output is dropped as for any failed run. No driver returns
// it.
inline constexpr RioStatus kRunCancelled = -100;

struct RunWatch {
  std::atomic<bool> cancel{false};   // set by the watcher; the run stops after the line it is on
  std::atomic<bool> stopped{false};  // set by the run when it stopped for the request
  std::atomic<int64_t> rows{0};      // rows of the current page read
  std::atomic<int64_t> height{0};    // rows of the current page; 0: the reader does not know

  // A new page of `pageHeight` rows (INT32_MAX or less than 1: unknown).
  void startPage(int64_t pageHeight) {
    rows.store(0, std::memory_order_relaxed);
    height.store(pageHeight > 0 && pageHeight < INT32_MAX ? pageHeight : 0, std::memory_order_relaxed);
  }
  // One more row read; false when the run is to stop.
  bool rowRead(int64_t rowsRead) {
    rows.store(rowsRead, std::memory_order_relaxed);
    if (!cancel.load(std::memory_order_relaxed)) return true;
    stopped.store(true, std::memory_order_relaxed);
    return false;
  }
};

}  // namespace vantrel
