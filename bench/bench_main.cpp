// zelk_bench: the benchmark programs of bench/*.cpp in one executable.
// Designs are generated on first use into a temporary directory that is
// removed at exit.  Select with --benchmark_filter, e.g. 'read_load/.*'.
#include <benchmark/benchmark.h>

namespace zelkbench {
void register_stage_benchmarks();
}

int main(int argc, char** argv) {
  zelkbench::register_stage_benchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
