// A block of kernel pages that the layer allocated, as the driver records it.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

struct tPageList {
  u64 size;             // bytes
  u64 firstPageOffset;  // of the first byte, in the first page
  u64 handle;           // the layer's page list, 0 when none
};
static_assert(sizeof(tPageList) == 24);

// Whole pages that hold the bytes, without overflowing near the top.
inline u64 pagesFor(u64 bytes, u64 pageSize) {
  return bytes / pageSize + (bytes % pageSize != 0 ? 1 : 0);
}

}  // namespace qvrm7_driver::nQVWEND000
