#include "platform/dmaConfiguration.h"

#include "platform/kernelServices.h"
#include "platform/pciDescription.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kNotConfiguredSite{"tDMAConfiguration", 69};
constexpr StatusSite kAlignmentNUMASite{"memory", 797};
constexpr StatusSite kAlignmentSite{"memory", 633};
constexpr StatusSite kAllocationNUMASite{"memory", 876};
constexpr StatusSite kAllocationSite{"memory", 767};
constexpr StatusSite kMapToKernelSite{"memory", 1079};

constexpr u32 kNoNUMANode = 0xFFFFFFFFu;

}  // namespace

tDMAConfiguration::tDMAConfiguration() : type_(kDMANotConfigured), description_(nullptr) {}

tDMAConfiguration::~tDMAConfiguration() = default;

u64 tDMAConfiguration::allocateDMABuffer(tPageList& list, u64 size, u32 flags, tStatus& status,
                                         u64 alignment) {
  if (status.isFatal()) return 0;
  if (type_ == kDMANotConfigured) {
    setStatus(status, kStatusNotSupported, kNotConfiguredSite);
    return 0;
  }
  list = {};
  if (type_ == kDMA32Bit) flags |= kQVZORPageListBelow4G;
  bool const numa = description_ != nullptr && description_->numaNode != kNoNUMANode;
  u64 const pageSize = nQVZOR100_getPageSize();
  // An alignment of 0 asks for none; dividing by it would trap.
  if (pageSize % (alignment == 0 ? 1 : alignment) != 0) {
    setStatus(status, kStatusBadArgument, numa ? kAlignmentNUMASite : kAlignmentSite);
    return 0;
  }
  u64 const pages = pagesFor(size, pageSize);
  u64 const handle =
      numa ? nQVZOR1_tPageList_createFromAllocationNUMA(pages, flags, description_->numaNode)
           : nQVZOR220_tPageList_createFromAllocation(pages, flags);
  if (handle == 0) {
    setStatus(status, kStatusMemoryFull, numa ? kAllocationNUMASite : kAllocationSite);
    return 0;
  }
  list.handle = handle;
  list.size = pages * pageSize;
  return list.size;
}

void tDMAConfiguration::freeDMABuffer(tPageList& list) {
  if (list.handle != 0) nQVZOR220_tPageList_destroy(list.handle);
  list = {};
}

u64 mapPageListToKernel(tPageList const& list, tStatus& status) {
  if (status.isFatal()) return 0;
  u64 const address = nQVZOR220_tPageList_mapToKernel(list.handle);
  if (address == 0) setStatus(status, kStatusMemoryFull, kMapToKernelSite);
  return address;
}

void freeMappedDMABuffer(tDMAConfiguration* configuration, tPageList& list, u64& kernelAddress) {
  if (kernelAddress != 0) nQVZOR220_tPageList_unmapFromKernel(list.handle, kernelAddress);
  kernelAddress = 0;
  if (configuration != nullptr) configuration->freeDMABuffer(list);
}

}  // namespace qvrm7_driver::nQVWEND000
