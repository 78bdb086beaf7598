// Register access of the bridge chip's DMA and interrupt blocks: 32-bit
// registers through the layer, 64-bit ones with one plain access at the
// mapped address, as the chip takes them only whole.
#pragma once

#include "platform/kernelServices.h"
#include "platform/plainStore.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// What the interrupt managers read the chip's mapped register address from,
// at every access: the first word of their owner's record.
struct tVexusRegisterRecord {
  u64 mappedAddress;
};

inline u32 readVexus32(u64 block, u32 offset) { return nQVZOR100_memoryRead32(block + offset); }

inline void writeVexus32(u64 block, u32 offset, u32 value) {
  nQVZOR100_memoryWrite32(block + offset, value);
}

inline u64 readVexus64(u64 block, u32 offset) {
  return *reinterpret_cast<u64 volatile*>(block + offset);
}

inline void writeVexus64(u64 block, u32 offset, u64 value) { storeQword(block + offset, value); }

}  // namespace qvrm7_driver::nQVWEND000
