// A caller's user-space buffer and a caller's memory-map request: every byte
// that crosses between user space and the driver goes through these two.
#pragma once

#include "platform/eventDescriptor.h"
#include "platform/pageList.h"
#include "platform/status.h"

namespace qvrm7_driver::nQVWEND000 {

class tSession;

// A user-space address in the form the layer's copies take.
inline void* userPointer(u64 address) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(address));
}

// Copies are bounded by the buffer: callers size them from fields that user
// space controls, so a copy that would reach outside the buffer, or that is
// too large for the layer's 32-bit count, is refused with -52005 and the
// layer is not called.
class tUserBuffer {
 public:
  tUserBuffer(tEventDescriptor const&, u64 address, u64 size) : address_(address), size_(size) {}
  ~tUserBuffer() = default;

  // Kernel memory to the user's address + offset.
  void write(u64 offset, void const* source, u64 count, tStatus& status);
  // The user's address + offset to kernel memory.
  void read(u64 offset, void* destination, u64 count, tStatus& status);

  u64 address() const { return address_; }
  u64 size() const { return size_; }

 private:
  bool holds(u64 offset, u64 count) const;

  u64 address_;
  u64 size_;
};
static_assert(sizeof(tUserBuffer) == 16);

// Lives from the map-memory callback until the unmap callback; the mapping
// itself belongs to the layer and ends with the layer's user map.
class tUserMemoryMap {
 public:
  enum : u32 { kAccessRead = 8, kAccessReadWrite = 16 };

  // Only the low 16 bits of the selector name the buffer the caller asks for.
  tUserMemoryMap(tSession* session, u64 kernelMap, u32 selector);
  ~tUserMemoryMap() = default;

  // Maps size bytes of the page list from offset (a whole number of pages)
  // at the start of the caller's area; the caller's area bounds what is
  // mapped. The context is not used.
  void mapPageList(void* context, tPageList const& pages, u64 offset, u64 size, tStatus& status);
  // Maps a page-aligned physical range at the start of the caller's area,
  // bounded by it; cache mode 1 asks for a cached mapping. The context is not
  // used.
  void mapPhysicalRange(void* context, u64 physicalAddress, u64 size, u32 cacheMode,
                        tStatus& status);

  u64 size() const { return size_; }
  u32 selector() const { return selector_; }
  u32 access() const { return access_; }
  u64 kernelMap() const { return kernelMap_; }
  u64 virtualAddress() const { return virtualAddress_; }
  tSession* session() const { return session_; }

 private:
  u64 size_;
  u32 selector_;
  u32 access_;
  u64 kernelMap_;
  u64 virtualAddress_;
  tSession* session_;
};
static_assert(sizeof(tUserMemoryMap) == 40);

}  // namespace qvrm7_driver::nQVWEND000
