// HP PCL, HP RTL (framed and plain) and HP-GL/2 writers on the A0 drawing page of bench_page.h.
#include "bench/bench_page.h"

namespace vantrel {
namespace {

using benchpage::writeA0Page;

void BM_PclA0At400(benchmark::State& state) {
  writeA0Page(state, 14);
}
void BM_RtlFramedA0At400(benchmark::State& state) {
  writeA0Page(state, 8);
}
void BM_RtlPlainA0At400(benchmark::State& state) {
  writeA0Page(state, 19);
}
void BM_Hpgl2A0At400(benchmark::State& state) {
  writeA0Page(state, 29);
}

BENCHMARK(BM_PclA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RtlFramedA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RtlPlainA0At400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hpgl2A0At400)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vantrel
