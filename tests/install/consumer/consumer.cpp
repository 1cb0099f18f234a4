// Uses the installed library as another program would: writes a page through the RCB, translates it with
// the run's entry to CALS, reads the result back and checks it. Exits 0 when everything agrees.
#include <vantrel/formats/registry.h>
#include <vantrel/rio/rcb.h>
#include <vantrel/rio/status.h>
#include <vantrel/rio/stream.h>
#include <vantrel/run/dialect.h>
#include <vantrel/run/translate.h>

#include <cstdio>
#include <string>

using namespace vantrel;

namespace {

constexpr int32_t kWidth = 640, kHeight = 480;

class PrintingReporter : public Reporter {
 public:
  void report(Severity, const std::string& text) override { std::fputs(text.c_str(), stdout); }
};

bool fail(const char* what, RioStatus status = 0) {
  std::fprintf(stderr, "consumer: %s (%d: %s)\n", what, status, rioStatusText(status));
  return false;
}

// A diagonal band: one run per row.
bool writePage(const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (!f) return fail("cannot create the page");
  RasterStream* out = streamOpen(f, "w");
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterWrite(out, kWidth, kHeight, rioFormatFromName("rnl"), &status);
  if (!rcb) return fail("rioOpenRasterWrite", status);
  for (int32_t y = 0; y < kHeight && status == 0; ++y) {
    rcb->curSline[0] = y;
    rcb->curSline[1] = y + 100;
    rcb->curSline[2] = rcb->curSline[3] = kSlineEnd;
    status = rioWriteRasterSline(rcb);
  }
  const RioStatus closed = rioCloseRaster(rcb);
  const bool flushed = streamClose(out) == 1;
  std::fclose(f);
  return status == 0 && closed == 0 && flushed ? true : fail("writing the page", status ? status : closed);
}

bool checkPage(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return fail("cannot open the translation");
  RasterStream* in = streamOpen(f, "r");
  RioStatus status = 0;
  RCB* rcb = rioOpenRasterRead(in, 0, &status);
  if (!rcb) return fail("rioOpenRasterRead", status);
  bool same = rcb->inFormat == rioFormatFromName("cg4") && rcb->width == kWidth && rcb->height == kHeight;
  int32_t rows = 0;
  while (Sline line = rioReadRasterSline(rcb)) {
    same = same && line[0] == rows && line[1] == rows + 100 && rioSlineRuns(line) == 1;
    ++rows;
  }
  same = same && rows == kHeight;
  (void)rioCloseRaster(rcb);
  streamClose(in);
  std::fclose(f);
  return same ? true : fail("the translation differs from the page");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string page = std::string(argv[1]) + "/page.rnl", translated = std::string(argv[1]) + "/page.cg4";
  if (!writePage(page.c_str())) return 1;
  const char* args[] = {page.c_str(), translated.c_str()};
  PrintingReporter reporter;
  if (runTranslationEntry(kConsoleDialect, 2, args, reporter) != RunOutcome::kComplete) return fail("translation");
  return checkPage(translated.c_str()) ? 0 : 1;
}
