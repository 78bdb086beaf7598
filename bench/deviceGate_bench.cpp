// The IO gate is on every request's path: entering and leaving it, alone and
// with other requests in flight on the same device.
#include <benchmark/benchmark.h>

#include "platform/deviceCore.h"
#include "platform/session.h"

using namespace qvrm7_driver::nQVWEND000;

namespace {

class GateDevice : public tDevice {
 public:
  explicit GateDevice(tStatus& status) : tDevice(status) { setIOGateState(kIOGatePass, false); }
  void initializeDevice(tEventDescriptor const&, tStatus&) override {}
  void busHook() override {}
  void fillPCIProperties() override {}
  tPropertyList getBusProperties() override { return nullptr; }
};

void enterAndLeave(benchmark::State& state) {
  tStatus status;
  GateDevice device(status);
  // Requests already inside: the one measured is not the last to leave.
  for (int64_t i = 0; i < state.range(0); ++i) device.acquireIOGate(nullptr, status, kWaitForever);
  for (auto _ : state) {
    benchmark::DoNotOptimize(device.acquireIOGate(nullptr, status, kWaitForever));
    device.releaseIOGate(nullptr);
  }
  for (int64_t i = 0; i < state.range(0); ++i) device.releaseIOGate(nullptr);
}
BENCHMARK(enterAndLeave)->Arg(0)->Arg(1);

}  // namespace
