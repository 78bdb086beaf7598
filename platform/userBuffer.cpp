#include "platform/userBuffer.h"

#include "platform/kernelServices.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kReadSite{"tUserBuffer", 44};
constexpr StatusSite kWriteSite{"tUserBuffer", 57};

constexpr StatusSite kPageListOffsetSite{"tUserMemoryMap", 50};
constexpr StatusSite kPageListSite{"tUserMemoryMap", 60};
constexpr StatusSite kPhysicalAddressSite{"tUserMemoryMap", 80};
constexpr StatusSite kPhysicalSite{"tUserMemoryMap", 90};

// The layer's copies count in 32 bits.
constexpr u64 kLargestCopy = 0xFFFFFFFFu;

}  // namespace

bool tUserBuffer::holds(u64 offset, u64 count) const {
  if (offset > size_ || count > size_ - offset) return false;
  if (count > kLargestCopy) return false;
  // A buffer that claims to run past the top of the address space holds
  // nothing beyond it.
  u64 const start = address_ + offset;
  return start >= address_ && count <= ~start;
}

void tUserBuffer::write(u64 offset, void const* source, u64 count, tStatus& status) {
  if (status.isFatal()) return;
  if (!holds(offset, count)) {
    setStatus(status, kStatusBadArgument, kWriteSite);
    return;
  }
  i32 const result = nQVZOR100_replicateOutboundIOControlBuffer(userPointer(address_ + offset),
                                                                source, static_cast<u32>(count));
  translateZORStatusToWENDStatusWithErrorDetails(result, status, kWriteSite);
}

void tUserBuffer::read(u64 offset, void* destination, u64 count, tStatus& status) {
  if (status.isFatal()) return;
  if (!holds(offset, count)) {
    setStatus(status, kStatusBadArgument, kReadSite);
    return;
  }
  i32 const result = nQVZOR100_replicateInboundIOControlBuffer(
      destination, userPointer(address_ + offset), static_cast<u32>(count));
  translateZORStatusToWENDStatusWithErrorDetails(result, status, kReadSite);
}

tUserMemoryMap::tUserMemoryMap(tSession* session, u64 kernelMap, u32 selector)
    : size_(nQVZOR220_tUserMemMap_getSize(kernelMap)),
      selector_(selector & 0xFFFFu),
      access_((nQVZOR220_tUserMemMap_getAccessMode(kernelMap) & kQVZORUserMapWritable) != 0
                  ? kAccessReadWrite
                  : kAccessRead),
      kernelMap_(kernelMap),
      virtualAddress_(nQVZOR220_tUserMemMap_getVirtualAddress(kernelMap)),
      session_(session) {}

void tUserMemoryMap::mapPageList(void*, tPageList const& pages, u64 offset, u64 size,
                                 tStatus& status) {
  if (status.isFatal()) return;
  u64 const pageSize = nQVZOR100_getPageSize();
  if (offset % pageSize != 0) {
    setStatus(status, kStatusBadArgument, kPageListOffsetSite);
    return;
  }
  // A device may offer more than the caller made room for; pages past the
  // caller's area would land on whatever the caller keeps next to it.
  u64 pageCount = pagesFor(size, pageSize);
  u64 const areaPages = pagesFor(size_, pageSize);
  if (pageCount > areaPages) pageCount = areaPages;
  i32 const result =
      nQVZOR220_tUserMemMap_mapPageList(kernelMap_, pages.handle, offset / pageSize, pageCount);
  translateZORStatusToWENDStatusWithErrorDetails(result, status, kPageListSite);
}

void tUserMemoryMap::mapPhysicalRange(void*, u64 physicalAddress, u64 size, u32 cacheMode,
                                      tStatus& status) {
  if (status.isFatal()) return;
  u64 const pageSize = nQVZOR100_getPageSize();
  if (physicalAddress % pageSize != 0) {
    setStatus(status, kStatusBadArgument, kPhysicalAddressSite);
    return;
  }
  // As for page lists: never more than the caller's area.
  u64 const bytes = size < size_ ? size : size_;
  i32 const result = nQVZOR2280_tUserMemMap_mapPhysicalAddress(kernelMap_, physicalAddress, bytes,
                                                               cacheMode == 1 ? 1u : 0u);
  translateZORStatusToWENDStatusWithErrorDetails(result, status, kPhysicalSite);
}

}  // namespace qvrm7_driver::nQVWEND000
