#include "platform/memory.h"

#include "platform/kernelServices.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr u64 kHeaderSize = sizeof(tAllocationHeader);
constexpr StatusSite kSizeOverflowSite{"memoryAllocation", 46};
constexpr StatusSite kUnflaggedAllocationFailedSite{"memory", 393};

}  // namespace

void* operatorNewFlagged(u64 size, tStatus& status, u8 flag) {
  // The overflow is recorded even on a status that already failed: the
  // precedence rule keeps the earlier error anyway.
  if (size > ~u64{0} - kHeaderSize) {
    setStatus(status, kStatusMemoryFull, kSizeOverflowSite);
    return nullptr;
  }
  if (status.isFatal()) return nullptr;

  void* block = nQVZOR100_malloc(size + kHeaderSize);
  if (block == nullptr) {
    setStatus(status, kStatusMemoryFull,
              flag != 0 ? kAllocationFailedSite : kUnflaggedAllocationFailedSite);
    return nullptr;
  }
  auto* header = static_cast<tAllocationHeader*>(block);
  header->totalSize = size + kHeaderSize;
  header->flag = flag;
  return header + 1;
}

void* operatorNew(u64 size) {
  tStatus dropped;
  return operatorNewFlagged(size, dropped, 1);
}

void operatorDelete(void* object) {
  if (object == nullptr) return;
  nQVZOR100_free(static_cast<tAllocationHeader*>(object) - 1);
}

}  // namespace qvrm7_driver::nQVWEND000
