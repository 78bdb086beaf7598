// What a device may address by DMA, as its device core records it, and the
// DMA buffers allocated under that restriction.
#pragma once

#include "platform/pageList.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

struct tPCIDescription;

class tDMAConfiguration {
 public:
  enum tDMAType : u32 {
    kDMANotConfigured = 0,
    kDMA32Bit = 1,  // the device puts out 32-bit addresses only
    kDMA64Bit = 2,  // any other value: no restriction
  };

  tDMAConfiguration();
  virtual ~tDMAConfiguration();
  tDMAConfiguration(tDMAConfiguration const&) = delete;
  tDMAConfiguration& operator=(tDMAConfiguration const&) = delete;

  // Whole pages for at least size bytes, from the device's NUMA node when it
  // has one; the bytes allocated, 0 on failure. The page size must be a
  // multiple of the alignment (0 counts as 1). Flags are the layer's
  // page-list flags; a 32-bit device's buffers always lie below 4 GiB.
  virtual u64 allocateDMABuffer(tPageList& list, u64 size, u32 flags, tStatus& status,
                                u64 alignment);
  // Gives the pages back and clears the record; a cleared record is left be.
  virtual void freeDMABuffer(tPageList& list);

  u32 type() const { return type_; }
  tPCIDescription const* description() const { return description_; }
  void configure(u32 type, tPCIDescription const* description) {
    type_ = type;
    description_ = description;
  }

 private:
  u32 type_;
  tPCIDescription const* description_;
};

// A kernel mapping of the whole list; 0 (and -52000) when the layer refused.
u64 mapPageListToKernel(tPageList const& list, tStatus& status);
// Undoes both: the kernel mapping when there is one (the address is cleared),
// then the pages, through the configuration when there is one.
void freeMappedDMABuffer(tDMAConfiguration* configuration, tPageList& list, u64& kernelAddress);

}  // namespace qvrm7_driver::nQVWEND000
