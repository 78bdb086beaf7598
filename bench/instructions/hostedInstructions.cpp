// Instruction counts under callgrind of the hosted build's hot paths (the
// register maps and the IO gate): each operation runs kRuns times in a
// function of its own between two client requests, so that each dump holds
// that operation alone; bench/callgrind-counts subtracts the dump of an
// empty operation and divides. Also checks that none of them, all meant to
// stay off the hardware and the layer, makes a layer call.
#include <valgrind/callgrind.h>

#include <cstdio>

#include "bench/gateDevice.h"
#include "bench/slotRamMapOnModule.h"
#include "platform/session.h"
#include "tests/unit/testRegisterMaps.h"

namespace {

using namespace testmaps;
using namespace qvrm7_driver::nQVWEND000;
using bench::GateDevice;

constexpr int kRuns = 10000;

struct Context {
  tTestRegMap* small;
  arm::tDynamicAccessInterface* slots;
  arm::tDynamicAccessInterface* large;
  u32 fieldId;
  u32 wholeId;
  u32 largeId;
  u8 value;
  u64 sink;
  tStatus status;
  tDeviceCore* device;  // reached through its virtual slots, as a request does
  tSession* session;
  arm::tDynamicAccessInterface* slotRam;
};

using Operation = void (*)(Context&);

[[gnu::noinline]] void nothing(Context& c) { asm volatile("" : : "r"(&c) : "memory"); }
[[gnu::noinline]] void recordGetField(Context& c) { c.sink = c.small->control().getField<8>(); }
[[gnu::noinline]] void recordSetField(Context& c) { c.small->control().setField<8>(c.value++); }
[[gnu::noinline]] void slotGetField(Context& c) { c.slots->get(c.fieldId, c.sink, c.status, 0); }
[[gnu::noinline]] void slotSetField(Context& c) { c.slots->set(c.fieldId, c.value++, c.status, 0); }
[[gnu::noinline]] void slotWriteUnchanged(Context& c) {
  c.slots->write(c.wholeId, 0, false, c.status, 0);
}
[[gnu::noinline]] void flushCleanSmallMap(Context& c) { c.slots->flushRegMap(false, c.status); }
[[gnu::noinline]] void flushCleanLargeMap(Context& c) { c.large->flushRegMap(false, c.status); }
[[gnu::noinline]] void flushCleanSlotRam(Context& c) { c.slotRam->flushRegMap(false, c.status); }
[[gnu::noinline]] void resolveInLargeMap(Context& c) {
  Target target;
  c.sink = resolveId(Compiled<kLargeMap>::kTables, c.largeId, target);
}

// The request is the only one inside: its release is the last, with nobody
// waiting.
[[gnu::noinline]] void gateEnterLeave(Context& c) {
  if (c.device->acquireIOGate(nullptr, c.status, kWaitForever)) c.device->releaseIOGate(nullptr);
}
[[gnu::noinline]] void gateEnterLeaveSession(Context& c) {
  if (c.device->acquireIOGate(c.session, c.status, kWaitForever))
    c.device->releaseIOGate(c.session);
}

struct Measured {
  char const* name;
  Operation operation;
};

}  // namespace

int main() {
  bench::SlotRamMapOnModule slotRam;  // resets the layer first
  BarPath::tAccessor plain = slotRam.plainBlock();
  tTestRegMap small(&plain, 0, 0, 0xFFFFFFFF);
  tLargeRegMap large(&plain, 0, 0, 0xFFFFFFFF);
  tStatus built;
  GateDevice device(built);
  tSession session(nullptr, built);
  Context volatile* shared = nullptr;  // keeps the context opaque to the optimiser
  Context context{&small, &small, &large, 0x04000000, 0x80000010, 0x80001FFC,
                  0,      0,      {},     &device,    &session,   &slotRam.map()};
  shared = &context;
  Context& c = const_cast<Context&>(*shared);

  Measured const measured[] = {
      {"nothing", &nothing},
      {"recordGetField", &recordGetField},
      {"recordSetField", &recordSetField},
      {"slotGetField", &slotGetField},
      {"slotSetField", &slotSetField},
      {"slotWriteUnchanged", &slotWriteUnchanged},
      {"flushCleanSmallMap", &flushCleanSmallMap},
      {"flushCleanLargeMap", &flushCleanLargeMap},
      {"flushCleanSlotRam", &flushCleanSlotRam},
      {"resolveInLargeMap", &resolveInLargeMap},
      {"gateEnterLeave", &gateEnterLeave},
      {"gateEnterLeaveSession", &gateEnterLeaveSession},
  };
  small.flushRegMap(true, c.status);  // every record clean
  slotRam.map().flushRegMap(true, c.status);
  sim::enableCallLog(true);
  int failures = 0;
  for (Measured const& m : measured) {
    m.operation(c);  // warm
    uint64_t const before = sim::callLog().size();
    // The dump before the runs closes what came before them.
    CALLGRIND_DUMP_STATS_AT("before");
    for (int run = 0; run < kRuns; ++run) m.operation(c);
    CALLGRIND_DUMP_STATS_AT(m.name);
    uint64_t const calls = sim::callLog().size() - before;
    if (calls != 0) {
      std::printf("%s made %llu layer calls\n", m.name, static_cast<unsigned long long>(calls));
      ++failures;
    }
    small.flushRegMap(true, c.status);
  }
  std::printf("runs per operation: %d\n", kRuns);
  return failures == 0 && c.status.code == 0 && built.code == 0 ? 0 : 1;
}
