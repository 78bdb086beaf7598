// Costs on the paths every request takes: an allocation through the layer
// with its header, and setting and merging statuses.
#include <benchmark/benchmark.h>

#include "platform/memory.h"
#include "platform/status.h"

using namespace qvrm7_driver::nQVWEND000;

namespace {

void allocateAndFree(benchmark::State& state) {
  for (auto _ : state) {
    tStatus status;
    void* block = operatorNewFlagged(static_cast<uint64_t>(state.range(0)), status, 1);
    benchmark::DoNotOptimize(block);
    operatorDelete(block);
  }
}
BENCHMARK(allocateAndFree)->Arg(16)->Arg(1728);

void setLongStatus(benchmark::State& state) {
  for (auto _ : state) {
    nQVWENDS100::tLongStatus status;
    setStatus(status, -52005, {"armgen/RM7BaseRegMap", 1667});
    benchmark::DoNotOptimize(status);
  }
}
BENCHMARK(setLongStatus);

void mergeCleanStatus(benchmark::State& state) {
  tStatus source;
  for (auto _ : state) {
    tStatus destination;
    benchmark::DoNotOptimize(mergeStatus(destination, source));
  }
}
BENCHMARK(mergeCleanStatus);

}  // namespace
