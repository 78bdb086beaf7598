// Register ioctls per second through the layer's transport into the real
// driver object, from 1, 2, 4 and 8 threads, each on a device of its own:
// requests on different devices share no lock of the driver.
#include <benchmark/benchmark.h>

#include "bench/ioctl/ioctlRig.h"

namespace {

constexpr unsigned kDevices = 8;
bench::IoctlRig* gRig = nullptr;

void setUp(benchmark::State const&) { gRig = new bench::IoctlRig(kDevices); }
void tearDown(benchmark::State const&) {
  delete gRig;
  gRig = nullptr;
}

template <int32_t (bench::IoctlRig::*Request)(unsigned)>
void request(benchmark::State& state) {
  unsigned const device = static_cast<unsigned>(state.thread_index());
  for (auto _ : state) {
    if ((gRig->*Request)(device) != 0) state.SkipWithError("the operation failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void armGet(benchmark::State& state) { request<&bench::IoctlRig::get>(state); }
void armWrite(benchmark::State& state) { request<&bench::IoctlRig::write>(state); }

BENCHMARK(armGet)->Setup(setUp)->Teardown(tearDown)->ThreadRange(1, kDevices)->UseRealTime();
BENCHMARK(armWrite)->Setup(setUp)->Teardown(tearDown)->ThreadRange(1, kDevices)->UseRealTime();

}  // namespace
