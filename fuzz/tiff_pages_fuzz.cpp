// Fuzz target: the TIFF directory chain. The pages are counted, then each (at most kMaxFuzzPages) is read
// whole and written again as a page of one multi-page Group 4 TIFF, so the chain walk, the move to a page
// and the writer's chain meet loops, cut links and pages of every size.
#include "formats/pages.h"
#include "fuzz/read_all.h"

namespace {

constexpr int32_t kMaxFuzzPages = 8;

void readPages(std::vector<uint8_t>& bytes) {
  using namespace vantrel;
  static uint8_t none = 0;
  std::FILE* f = fmemopen(bytes.empty() ? &none : bytes.data(), bytes.size(), "rb");
  if (!f) return;
  RasterStream* in = streamOpen(f, "r");
  RioStatus status = 0;
  RCB* reader = in ? rioOpenRasterRead(in, 0, &status) : nullptr;
  std::FILE* sink = reader ? std::fopen("/dev/null", "wb") : nullptr;
  RasterStream* out = sink ? streamOpen(sink, "w") : nullptr;
  RCB* writer = nullptr;
  int32_t pages = 1;
  if (reader && rioCountPages(reader, &pages) == kRioOk) {
    pages = std::min(pages, kMaxFuzzPages);
    for (int32_t page = 0; page < pages; ++page) {
      if (page > 0 && rioReadPage(reader, page) != kRioOk) break;
      const int32_t height = std::min(reader->height, fuzz::kMaxLines);
      if (!writer) {
        writer = out ? rioOpenRasterWrite(out, reader->width, height, kFormatTiff, &status) : nullptr;
        if (writer) writer->pagesToWrite = pages;
      } else if (rioEndWrittenPage(writer) != kRioOk || rioSizeWrittenPage(writer, reader->width, height) != kRioOk) {
        break;
      }
      for (int32_t n = 0; n < height && rioReadRasterSline(reader); ++n) {
        if (writer) {
          rioCopySlineClipped(reader->curSline, writer->curSline, writer->width);
          (void)rioWriteRasterSline(writer);
          rioSwapSlines(writer);
        }
        rioSwapSlines(reader);
      }
      if (reader->status != kRioEndOfPage) break;
    }
  }
  if (writer) {
    if (reader->status != kRioEndOfPage) rioSetError(writer, reader->status ? reader->status : kRioBadRows);
    (void)rioCloseRaster(writer);
  }
  if (out) (void)streamClose(out);
  if (sink) std::fclose(sink);
  if (reader) (void)rioCloseRaster(reader);
  if (in) (void)streamClose(in);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::fuzz::LeakCheck leaks;
  std::vector<uint8_t> bytes(data, data + size);
  readPages(bytes);
  return 0;
}
