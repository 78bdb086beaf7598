// The bridge chip's isolation port map over BAR 0 of a simulated module,
// reached through the switched bridge port (port 0, mode 3).
#pragma once

#include <cstdint>

#include "platform/memorySpaceAccessor.h"
#include "registers/generated/isolationPortRegMap.h"

namespace testing_support {

struct IsolationPort {
  explicit IsolationPort(uint64_t bar0) : accessor{bar0, 0x704} {}
  qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false> accessor;
  vexustools::tSwitchedVexusBimRegMapWithOffset<0u> switchedPort{&accessor};
  vexustools::TMR9PortAccessor port{switchedPort, 0, 3};
  vexustools::tIsolationPortRegMapWithOffset<0u> map{&port};
};

}  // namespace testing_support
