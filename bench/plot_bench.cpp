// Versatec, CalComp and PostScript writers on the A0 drawing page of bench_page.h.
#include "bench/bench_page.h"

namespace vantrel {
namespace {

using benchpage::writeA0Page;

void BM_VersatecA0At400(benchmark::State& state) {
  writeA0Page(state, 16);
}
void BM_CalCompA0At400(benchmark::State& state) {
  writeA0Page(state, 12);
}
// PostScript draws at most 4800 rows; the rest of the page is dropped with a warning.
void BM_PostScriptA0At400(benchmark::State& state) {
  writeA0Page(state, 9);
}

BENCHMARK(BM_VersatecA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CalCompA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PostScriptA0At400)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel
