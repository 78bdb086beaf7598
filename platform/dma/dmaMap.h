// DMA maps: a range of a page list as the bus-address segments a device
// reaches it through. The standard map asks the layer's scatter-gather
// object; the direct map works from the pages' physical addresses and, for a
// device that reaches only 32-bit addresses, copies what lies above 4 GiB
// through a bounce buffer below it.
#pragma once

#include "platform/dmaConfiguration.h"
#include "platform/pageList.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

enum tDMADirection : u32 {
  kDMAHostToDevice = 0,
  kDMADeviceToHost = 1,
};

// A run of bus addresses: a map's segment, or a descriptor list's first link.
struct tDMASegment {
  u64 busAddress;
  u64 size;
};
static_assert(sizeof(tDMASegment) == 16);

class tDMAMapCore {
 public:
  explicit tDMAMapCore(tDMAConfiguration* configuration);
  virtual ~tDMAMapCore();
  tDMAMapCore(tDMAMapCore const&) = delete;
  tDMAMapCore& operator=(tDMAMapCore const&) = delete;

  // Room for a range of size bytes, made ahead of load.
  virtual void reserve(u64 size, tStatus& status) = 0;
  virtual void release() = 0;
  // Maps size bytes from offset of the list; the base records the range.
  virtual void load(tPageList& list, u64 offset, u64 size, tDMADirection direction,
                    tStatus& status);
  virtual void unload();
  // Before the device's transfer, and after it with the bytes it moved.
  virtual void prepareForDMA() = 0;
  virtual void completeDMA(u64 bytes) = 0;
  virtual u64 numSGLSegments() const = 0;
  virtual void resetSGLIterator() = 0;
  virtual bool moreSGLSegments() const = 0;
  // {0, 0} when no segment is left.
  virtual tDMASegment nextSGLSegment() = 0;

  tDMAConfiguration* configuration() const { return configuration_; }
  u64 offset() const { return offset_; }
  u64 size() const { return size_; }
  u32 direction() const { return direction_; }

 protected:
  // Pages a range of size bytes may touch: one more than it fills, as it
  // need not start on a page.
  static u64 pagesFor(u64 size);

  tDMAConfiguration* configuration_;
  u64 offset_;
  u64 size_;
  u32 direction_;
};

class tStandardDMAMap : public tDMAMapCore {
 public:
  explicit tStandardDMAMap(tDMAConfiguration* configuration);
  ~tStandardDMAMap() override;

  void reserve(u64 size, tStatus& status) override;
  void release() override;
  void load(tPageList& list, u64 offset, u64 size, tDMADirection direction,
            tStatus& status) override;
  void unload() override;
  void prepareForDMA() override;
  void completeDMA(u64 bytes) override;
  u64 numSGLSegments() const override;
  void resetSGLIterator() override;
  bool moreSGLSegments() const override;
  tDMASegment nextSGLSegment() override;

  u64 handle() const { return sgl_; }
  u64 capacity() const { return capacity_; }

 private:
  u64 sgl_;
  u64 capacity_;  // pages
  u64 iterator_;
};

class tDirectDMAMap : public tDMAMapCore {
 public:
  // A stretch of the range copied through the bounce buffer.
  struct tBounceRecord {
    u64 position;  // in the range
    u64 length;
    u64 kernelAddress;  // of its place in the bounce buffer
  };
  static_assert(sizeof(tBounceRecord) == 24);

  explicit tDirectDMAMap(tDMAConfiguration* configuration);
  ~tDirectDMAMap() override;

  // A failed allocation is reported (-52000) and the old arrays stay.
  void reserve(u64 size, tStatus& status) override;
  void release() override;
  void load(tPageList& list, u64 offset, u64 size, tDMADirection direction,
            tStatus& status) override;
  void unload() override;
  void prepareForDMA() override;
  void completeDMA(u64 bytes) override;
  u64 numSGLSegments() const override;
  void resetSGLIterator() override;
  bool moreSGLSegments() const override;
  tDMASegment nextSGLSegment() override;

  bool bounceEnabled() const { return bounceEnabled_ != 0; }
  u64 bounceCount() const { return bounceCount_; }
  tBounceRecord const* bounceRecords() const { return bounce_; }
  tPageList const& bounceBuffer() const { return bounceList_; }

 private:
  bool bouncing() const;
  // The physically contiguous bytes at position of the list, at most limit
  // of them; a length of 0 (and -52017) when the list has none there.
  tDMASegment chunkAt(tPageList const& list, u64 position, u64 limit, tStatus& status) const;
  void appendSegment(tDMASegment segment, tStatus& status);
  void findBounceStretches(tStatus& status);
  void growBounceBuffer(u64 bytes, tStatus& status);
  void buildSegments(tStatus& status);
  // Copies the bounced stretches within the first limit bytes of the range,
  // into the bounce buffer or out of it.
  void copyBounced(bool intoBounce, u64 limit);

  tDMASegment* segments_;
  u64 segmentCapacity_;
  u64 iterator_;
  tBounceRecord* bounce_;
  u64 segmentCount_;
  u64 bounceCapacity_;
  u64 bounceCount_;
  tPageList bounceList_;
  u64 bounceKernel_;
  tPageList* loaded_;
  u8 bounceEnabled_;
};

}  // namespace qvrm7_driver::nQVWEND000
