// Register maps on the controllers' paths and the register ioctls' paths:
// cached field access by a named record and by ID through the interface,
// writes that change nothing, flushes of clean maps, and resolving an ID in
// a map of 1536 registers. An uncontended mutex is the yardstick.
#include <benchmark/benchmark.h>
#include <pthread.h>

#include "bench/slotRamMapOnModule.h"
#include "tests/unit/testRegisterMaps.h"

namespace {

using namespace testmaps;

struct Maps {
  bench::SlotRamMapOnModule module;
  BarPath::tAccessor accessor = module.plainBlock();
  tTestRegMap small{&accessor, 0, 0, 0xFFFFFFFF};
  tLargeRegMap large{&accessor, 0, 0, 0xFFFFFFFF};
};

void mutexLockUnlock(benchmark::State& state) {
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  for (auto _ : state) {
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
  }
}
BENCHMARK(mutexLockUnlock);

void recordGetField(benchmark::State& state) {
  Maps maps;
  tTestRegMap* map = &maps.small;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map);
    benchmark::DoNotOptimize(map->control().getField<8>());
  }
}
BENCHMARK(recordGetField);

void recordSetField(benchmark::State& state) {
  Maps maps;
  tTestRegMap* map = &maps.small;
  u8 value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map);
    map->control().setField<8>(value++);
  }
}
BENCHMARK(recordSetField);

// Through the interface, as the register ioctls reach a map: 0 get, 1 set.
void slotField(benchmark::State& state) {
  Maps maps;
  arm::tDynamicAccessInterface* map = &maps.small;
  bool const set = state.range(0) == 1;
  u32 id = 0x04000000;
  tStatus status;
  u64 value = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map);
    benchmark::DoNotOptimize(id);
    if (set)
      map->set(id, value++, status, 0);
    else
      map->get(id, value, status, 0);
    benchmark::DoNotOptimize(value);
  }
}
BENCHMARK(slotField)->Arg(0)->Arg(1);

// A write of the value already held: no layer call (counted).
void slotWriteUnchanged(benchmark::State& state) {
  Maps maps;
  arm::tDynamicAccessInterface* map = &maps.small;
  sim::enableCallLog(true);
  uint64_t const before = sim::callLog().size();
  u32 id = 0x80000010;
  tStatus status;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map);
    benchmark::DoNotOptimize(id);
    map->write(id, 0, false, status, 0);
  }
  state.counters["layerCalls"] = static_cast<double>(sim::callLog().size() - before);
  sim::enableCallLog(false);
}
BENCHMARK(slotWriteUnchanged);

void flushCleanMap(benchmark::State& state) {
  Maps maps;
  arm::tDynamicAccessInterface* map =
      state.range(0) == 0 ? static_cast<arm::tDynamicAccessInterface*>(&maps.small) : &maps.large;
  sim::enableCallLog(true);
  uint64_t const before = sim::callLog().size();
  tStatus status;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map);
    map->flushRegMap(false, status);
  }
  state.counters["layerCalls"] = static_cast<double>(sim::callLog().size() - before);
  sim::enableCallLog(false);
}
BENCHMARK(flushCleanMap)->Arg(0)->Arg(1);  // 1: the map of 1536 registers

// Whole and field IDs spread over both arrays, and IDs of nothing.
void resolveInLargeMap(benchmark::State& state) {
  constexpr u32 kIds[] = {0x80000000, 0x300007FC, 0x80001FFC, 0x00001800, 0xC0000010,
                          0x80000800, 0x24000400, 0x80001002, 0x18000123, 0x80002000};
  MapTables const& tables = Compiled<kLargeMap>::kTables;
  u32 index = 0;
  for (auto _ : state) {
    Target target;
    benchmark::DoNotOptimize(resolveId(tables, kIds[index], target));
    index = index + 1 == sizeof(kIds) / sizeof(kIds[0]) ? 0 : index + 1;
  }
}
BENCHMARK(resolveInLargeMap);

}  // namespace
