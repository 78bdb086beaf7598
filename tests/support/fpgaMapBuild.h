// Builds an FPGA register map for the conformance harness over its own
// accessor, which lives as long as the map.
#pragma once

#include <memory>

#include "platform/memorySpaceAccessor.h"
#include "support/mapConformance.h"

namespace conformance {

template <class FpgaMap>
std::function<BuiltMap(u64, u32, u32, u32)> buildFpgaMap(u32 blockSize) {
  return [blockSize](u64 address, u32 base, u32 windowStart, u32 windowSize) -> BuiltMap {
    struct Built {
      qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false> accessor;
      FpgaMap map;
      Built(u64 mapped, u32 size, u32 b, u32 start, u32 length)
          : accessor{mapped, size}, map(&accessor, b, start, length) {}
    };
    auto built = std::make_shared<Built>(address, blockSize, base, windowStart, windowSize);
    return BuiltMap(built, &built->map);
  };
}

}  // namespace conformance
