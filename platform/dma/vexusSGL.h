// The bridge chip's descriptor list: chained links in DMA memory, each a
// header naming the next link followed by transfer and register-write
// entries, which a DMA channel walks from the first link on. The list can
// be ended, or closed into a ring the channel runs round.
#pragma once

#include "platform/dma/dmaMap.h"
#include "platform/dmaConfiguration.h"
#include "platform/pageList.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// ---- The chip's formats (DMA memory, little-endian) ----------------------------------

struct tVexusLinkHeader {
  u32 nextUsedBytes;  // of the next link, 0 when there is none
  u32 flags;
  u64 nextBusAddress;  // 0 when there is no next link
};
static_assert(sizeof(tVexusLinkHeader) == 16);
static_assert(offsetof(tVexusLinkHeader, flags) == 4);
static_assert(offsetof(tVexusLinkHeader, nextBusAddress) == 8);

enum : u32 {
  kVexusLinkLast = 0x80000000,  // no next link
  kVexusLinkMark = 0x40000000,
};

// Moves byteCount bytes at busAddress; its second word 0 tells it apart.
struct tVexusTransferEntry {
  u32 byteCount;
  u32 zero;
  u64 busAddress;
};
static_assert(sizeof(tVexusTransferEntry) == 16);
static_assert(offsetof(tVexusTransferEntry, zero) == 4);
static_assert(offsetof(tVexusTransferEntry, busAddress) == 8);

// Writes a chip register: control = kVexusRegisterWrite | width bits |
// register offset; narrow values are repeated across the value word.
struct tVexusRegisterWriteEntry {
  u32 value;
  u32 control;
};
static_assert(sizeof(tVexusRegisterWriteEntry) == 8);
static_assert(offsetof(tVexusRegisterWriteEntry, control) == 4);

enum : u32 {
  kVexusRegisterWrite = 0x80000000,
  kVexusWidth1 = 0x00000000,
  kVexusWidth2 = 0x08000000,
  kVexusWidth4 = 0x10000000,
  kVexusWidthOther = 0x18000000,  // width codes 0 and 3
  kVexusRegisterOffsetLimit = 0x08000000,
};

// ---- The host's records -----------------------------------------------------------

struct tVexusSGLLink {
  u32 used;  // bytes, the header's 16 included
  tVexusSGLLink* previous;
  tVexusSGLLink* next;
  u64 busAddress;
  u64 capacity;  // the link size
  u8* kernelAddress;
};
static_assert(sizeof(tVexusSGLLink) == 48);

class tVexusSGL {
 public:
  static constexpr u32 kHeaderBytes = sizeof(tVexusLinkHeader);
  static constexpr u64 kLinkAlignment = 512;

  // DMA memory that links are cut from, each 512-byte aligned.
  class tLinkMemory {
   public:
    tLinkMemory() : consumed(0), busAddress(0), size(0), kernelAddress(0), next(nullptr) {}
    virtual ~tLinkMemory();
    tLinkMemory(tLinkMemory const&) = delete;
    tLinkMemory& operator=(tLinkMemory const&) = delete;

    virtual void consume(u64 bytes);
    // Hands what the CPU wrote to the device.
    virtual void commit();
    virtual void reset();

    u64 consumed;
    u64 busAddress;
    u64 size;
    u64 kernelAddress;
    tLinkMemory* next;
  };

  // Link memory in a DMA buffer of its own, mapped through tMap.
  template <class tMap>
  class tDMALinkMemory : public tLinkMemory {
   public:
    explicit tDMALinkMemory(tDMAConfiguration* configuration);
    ~tDMALinkMemory() override;
    void commit() override;

    tPageList pages;
    tMap map;
  };

  struct tEntryPlace {
    tVexusSGLLink* link;
    u32 entryOffset;
  };

  tVexusSGL();
  virtual ~tVexusSGL();
  tVexusSGL(tVexusSGL const&) = delete;
  tVexusSGL& operator=(tVexusSGL const&) = delete;

  // Null on failure. Its memory's first segment holds its links.
  virtual tLinkMemory* allocateLinkMemory(tStatus& status);

  // Starts over with one empty link.
  void initialize(tDMAConfiguration* configuration, u32 linkSize, tStatus& status);
  tVexusSGLLink* addLink(tStatus& status);
  // Entries go into the current link, or a new one when it is full or when
  // asked for one and the current link holds entries already. Width codes
  // are the access width in bytes, 0 to 4; an entry that cannot be encoded
  // is refused (-52005).
  tEntryPlace addRegisterWrite(u32 registerOffset, u32 value, u32 widthCode, tStatus& status,
                               bool newLink);
  tVexusSGLLink* addTransfer(u64 busAddress, u32 byteCount, tStatus& status, bool newLink);
  // One transfer per segment the map has left.
  void addDMAMap(tDMAMapCore& map, tStatus& status);
  // Writes every link's header from the link after it, then hands the
  // memory to the device.
  void commit();
  // The current link becomes the last.
  void terminate();
  // Packs and balances the links, spreads a one-link list over two, and
  // makes the current link lead back to the first. A list without entries
  // is refused (-52017).
  void closeRing(bool mark, tStatus& status);
  void closeRing(tStatus& status) { closeRing(true, status); }
  // Back to one empty link; nothing when there is none.
  void rewind();
  // Frees every link and all link memory.
  void clear();
  // What a channel starts on: {bus address, used bytes} of the first link.
  tDMASegment getFirstLink() const;

  u32 linkSize() const { return linkSize_; }
  tVexusSGLLink* firstLink() const { return first_; }
  tVexusSGLLink* currentLink() const { return current_; }
  tLinkMemory* linkMemories() const { return memories_; }

 private:
  template <class tWrite>
  tVexusSGLLink* append(tStatus& status, bool newLink, tWrite write, u32& entryOffset);
  bool holdsLink(tLinkMemory const& memory) const;
  // Links from the first to the current.
  tVexusSGLLink* after(tVexusSGLLink const* link) const;
  u32 linkCount() const;
  bool hasEntries() const;
  void freeLinksAfter(tVexusSGLLink* link);
  void pack();
  void balance();
  void unroll(tStatus& status);

  u32 linkSize_;
  tVexusSGLLink* first_;
  tVexusSGLLink* current_;
  tDMAConfiguration* configuration_;
  tLinkMemory* memories_;
};

static_assert(sizeof(tVexusSGL::tLinkMemory) == 48);
extern template class tVexusSGL::tDMALinkMemory<tStandardDMAMap>;
static_assert(sizeof(tVexusSGL::tDMALinkMemory<tStandardDMAMap>) == 136);

}  // namespace qvrm7_driver::nQVWEND000
