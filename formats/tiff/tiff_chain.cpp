// The directory chain of a TIFF read page by page. Counting reads only each directory's entry count and
// link, in constant memory: a chain that loops (found by Brent's method), leaves the file or passes
// kMaxPages ends the count at the fault, the pages before it readable. Moving to a page follows the links
// from the page read last, or from the first one when the page lies before it.
#include <algorithm>
#include <string>

#include "formats/common/byte_io.h"
#include "formats/tiff/tiff.h"

namespace vantrel::tiff {
namespace {

// The link of the directory at `at`: the offset of the next one (0: none). False when the directory is no
// page: outside the file or without entries. A link cut off by the end of the file ends the chain there.
bool readLink(RasterStream* s, const TiffReadState& st, int64_t at, int64_t* next) {
  uint8_t bytes[4];
  if (at < 8 || at > st.fileSize - 2 || streamSeek(s, at) != 0 || streamRead(s, bytes, 2) != 2) return false;
  const int64_t entries = get16(bytes, st.bigEndian);
  const int64_t link = at + 2 + 12 * entries;
  if (entries == 0 || link > st.fileSize) return false;
  *next = 0;
  if (link + 4 <= st.fileSize && streamSeek(s, link) == 0 && streamRead(s, bytes, 4) == 4)
    *next = get32(bytes, st.bigEndian);
  return true;
}

// The pages of the chain from `first`; *fault is set when it ends in anything but a zero link.
int32_t walkChain(RasterStream* s, const TiffReadState& st, int64_t first, bool* fault) {
  *fault = false;
  int64_t tortoise = first, hare = first, power = 1, lambda = 0;
  int32_t count = 0;
  while (hare != 0) {
    int64_t next = 0;
    if (!readLink(s, st, hare, &next)) {
      *fault = true;
      return count;
    }
    if (++count >= kMaxPages) {
      *fault = next != 0;
      return count;
    }
    hare = next;
    ++lambda;
    if (hare == tortoise) {
      // A loop of lambda directories; the pages are those before it (mu) and the loop itself once.
      *fault = true;
      int64_t a = first, b = first;
      for (int64_t i = 0; i < lambda; ++i) (void)readLink(s, st, b, &b);
      int32_t mu = 0;
      while (a != b && mu < count) {
        (void)readLink(s, st, a, &a);
        (void)readLink(s, st, b, &b);
        ++mu;
      }
      return static_cast<int32_t>(std::min<int64_t>(mu + lambda, count));
    }
    if (lambda == power) {
      tortoise = hare;
      power *= 2;
      lambda = 0;
    }
  }
  return count;
}

}  // namespace

RioStatus countPages(RCB* rcb, TiffReadState& st, int32_t* count) {
  if (st.pageCount < 0) {
    bool fault = false;
    st.pageCount = std::max(walkChain(rcb->inStream, st, st.firstDirectory, &fault), 1);
    if (fault) {
      rioSetWarning(rcb, kRioReducedImage);
      rioInputDetail(rcb, "the chain of pages breaks after page " + std::to_string(st.pageCount) +
                              " (a loop, or a link outside the file); the pages before it are read");
    }
  }
  *count = st.pageCount;
  return kRioOk;
}

RioStatus seekPage(RCB* rcb, TiffReadState& st, int32_t index) {
  if (index < 0 || index >= kMaxPages) return kRioBadParameter;
  int64_t at = st.directory;
  int32_t page = st.page;
  if (index == page + 1 && st.nextDirectory != 0) {  // the next page: its offset is known already
    at = st.nextDirectory;
    page = index;
  } else if (index < page) {
    at = st.firstDirectory;
    page = 0;
  }
  for (; page < index; ++page) {
    int64_t next = 0;
    if (!readLink(rcb->inStream, st, at, &next) || next == 0) return kRioBadParameter;  // no such page
    at = next;
  }
  st.clearPage();  // the tile reader's columns go with it; the stream's windows are set again for the page
  streamDropWindows(rcb->inStream);
  st.page = index;
  rcb->width = rcb->height = INT32_MAX;
  rcb->xDpi = rcb->yDpi = 0;
  (void)rioAttachExtraHeader(rcb, nullptr, 0);
  return readPageDirectory(rcb, st, at);
}

}  // namespace vantrel::tiff
