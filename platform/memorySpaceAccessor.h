// Where a register block lies in kernel address space: the address at which
// it is mapped inside a BAR and the size of the block. The object that maps
// the BAR fills it; register maps keep a pointer to it and read the address
// at every access, so a block that moves needs only the accessor rewritten.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

template <bool Debug>
struct tPCIMemorySpaceAccessorDebug {
  u64 mappedAddress;
  u64 size;  // recorded for the block's owner; register maps never consult it
};

static_assert(sizeof(tPCIMemorySpaceAccessorDebug<false>) == 16);

}  // namespace qvrm7_driver::nQVWEND000
