// Builds a register map over a BAR block for the conformance harness, over
// its own accessor, which lives as long as the map. A map without a window
// is built over its accessor alone.
#pragma once

#include <memory>

#include "platform/memorySpaceAccessor.h"
#include "support/mapConformance.h"

namespace conformance {

template <class FpgaMap>
std::function<BuiltMap(u64, u32, u32, u32)> buildFpgaMap(u32 blockSize) {
  using tAccessor = qvrm7_driver::nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;
  return [blockSize](u64 address, u32 base, u32 windowStart, u32 windowSize) -> BuiltMap {
    auto accessor = std::make_shared<tAccessor>(tAccessor{address, blockSize});
    std::shared_ptr<FpgaMap> map;
    if constexpr (std::is_constructible_v<FpgaMap, tAccessor*, u32, u32, u32>)
      map = std::make_shared<FpgaMap>(accessor.get(), base, windowStart, windowSize);
    else
      map = std::make_shared<FpgaMap>(accessor.get());
    return BuiltMap(map.get(), [map, accessor](Map*) {});  // keeps both alive
  };
}

// The sheet of an FPGA map: its block, model and sites, the version every
// FPGA map carries.
template <class FpgaMap>
Sheet fpgaSheet(char const* name, u64 block, u32 size, sim::FpgaBlock& (sim::Rm7Fpga::*model)(),
                char const* file, std::array<u32, 7> const& lines, Counts counts,
                std::vector<Register> registers) {
  return sheetOf(name, block, size, "22.8.0f141", file, lines, counts, std::move(registers),
                 buildFpgaMap<FpgaMap>(size),
                 [model](sim::Rm7Module& m) { return blockProbe((m.fpga().*model)()); });
}

}  // namespace conformance
