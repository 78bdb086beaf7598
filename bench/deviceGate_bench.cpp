// The IO gate is on every request's path: entering and leaving it, alone and
// with other requests in flight on the same device.
#include <benchmark/benchmark.h>

#include "bench/gateDevice.h"
#include "platform/session.h"

using namespace qvrm7_driver::nQVWEND000;
using bench::GateDevice;

namespace {

// range(0): requests already inside, so that the one measured is not the
// last to leave; range(1): 1 when the requests come through a session.
void enterAndLeave(benchmark::State& state) {
  tStatus status;
  GateDevice device(status);
  tSession owner(nullptr, status);
  tSession* const session = state.range(1) != 0 ? &owner : nullptr;
  tDeviceCore* const core = &device;  // through the virtual slots, as a request
  for (int64_t i = 0; i < state.range(0); ++i) core->acquireIOGate(session, status, kWaitForever);
  for (auto _ : state) {
    benchmark::DoNotOptimize(core->acquireIOGate(session, status, kWaitForever));
    core->releaseIOGate(session);
  }
  for (int64_t i = 0; i < state.range(0); ++i) core->releaseIOGate(session);
}
BENCHMARK(enterAndLeave)->ArgsProduct({{0, 1}, {0, 1}});

}  // namespace
