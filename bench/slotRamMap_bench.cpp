// The slot RAM map over the simulated module: whole-map flushes, one field
// through each of get, set, read and write, and the ID search at its
// longest. Hardware accesses go through the stand-in layer, so the dirty
// flush measures the layer's register path as much as the map.
#include <benchmark/benchmark.h>

#include "bench/slotRamMapOnModule.h"

using qvrm7_driver::tRM7SlotRamRegisterMap;
using tStatus = nQVWENDS100::tStatus;

namespace {

constexpr uint32_t kRelay3Of255 = 0x240003FC;

using Bench = bench::SlotRamMapOnModule;

constexpr int64_t kRegisters = 1536;

void slotRamFlushClean(benchmark::State& state) {
  Bench bench;
  tStatus status;
  for (auto _ : state) bench.map().flushRegMap(false, status);
  state.SetItemsProcessed(state.iterations() * kRegisters);
}
BENCHMARK(slotRamFlushClean);

void slotRamFlushDirty(benchmark::State& state) {
  Bench bench;
  tStatus status;
  for (auto _ : state) {
    bench.map().markDirtyRegMap();
    bench.map().flushRegMap(false, status);
  }
  state.SetItemsProcessed(state.iterations() * kRegisters);
}
BENCHMARK(slotRamFlushDirty);

// One relay-state field through a slot: get and read hand a value back, set
// and write take a new value each time.
template <class Slot>
void slotRamField(benchmark::State& state, Slot slot) {
  Bench bench;
  tStatus status;
  uint64_t value = 0;
  for (auto _ : state) {
    slot(bench.map(), value, status);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK_CAPTURE(slotRamField, get, [](tRM7SlotRamRegisterMap& m, uint64_t& v, tStatus& s) {
  m.get(kRelay3Of255, v, s, 0);
});
BENCHMARK_CAPTURE(slotRamField, set, [](tRM7SlotRamRegisterMap& m, uint64_t& v, tStatus& s) {
  m.set(kRelay3Of255, ++v, s, 0);
});
BENCHMARK_CAPTURE(slotRamField, read, [](tRM7SlotRamRegisterMap& m, uint64_t& v, tStatus& s) {
  m.read(kRelay3Of255, v, s, 0);
});
BENCHMARK_CAPTURE(slotRamField, write, [](tRM7SlotRamRegisterMap& m, uint64_t& v, tStatus& s) {
  m.write(kRelay3Of255, ++v, false, s, 0);
});

// IDs at the ends of the search: the first and last accepted, and refused
// ones below, between and above the runs.
void slotRamLookupLongest(benchmark::State& state) {
  Bench bench;
  uint32_t const ids[] = {0x00000000, 0x80001FFC, 0x00000FFC, 0x2FFFFFFF, 0xFFFFFFFF};
  uint64_t value = 0;
  for (auto _ : state) {
    for (uint32_t id : ids) {
      tStatus status;
      bench.map().get(id, value, status, 0);
      benchmark::DoNotOptimize(value);
    }
  }
  state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(slotRamLookupLongest);

}  // namespace
