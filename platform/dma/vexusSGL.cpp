#include "platform/dma/vexusSGL.h"

#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kNoConfigurationSite{"tVexusSGL", 600};
constexpr StatusSite kEmptyTransferSite{"tVexusSGL", 187};
constexpr StatusSite kTransferRoomSite{"tVexusSGLChunkyLink", 89};
constexpr StatusSite kRegisterWriteRoomSite{"tVexusSGLChunkyLink", 119};
// A width code, register offset or transfer size the entry has no room for.
constexpr StatusSite kUnencodableSite{"tVexusSGL", 160};
// A ring needs an entry to run round.
constexpr StatusSite kEmptyRingSite{"tVexusSGL", 400};
// New link memory whose first segment is shorter than a link.
constexpr StatusSite kShortLinkMemorySite{"tVexusSGL", 610};

constexpr u32 kTransferBytes = sizeof(tVexusTransferEntry);
constexpr u32 kRegisterWriteBytes = sizeof(tVexusRegisterWriteEntry);
constexpr u32 kWidthCodeLimit = 4;

tVexusLinkHeader& header(tVexusSGLLink const& link) {
  return *reinterpret_cast<tVexusLinkHeader*>(link.kernelAddress);
}

u8* at(tVexusSGLLink const& link, u32 offset) { return link.kernelAddress + offset; }

// Entries tell their kind by their second word.
u32 entrySize(tVexusSGLLink const& link, u32 offset) {
  u32 secondWord;
  copyMemory(&secondWord, at(link, offset + 4), sizeof secondWord);
  return secondWord == 0 ? kTransferBytes : kRegisterWriteBytes;
}

u32 lastEntry(tVexusSGLLink const& link) {
  u32 offset = tVexusSGL::kHeaderBytes;
  while (offset + entrySize(link, offset) < link.used) offset += entrySize(link, offset);
  return offset;
}

bool hasRoom(tVexusSGLLink const& link, u32 bytes) {
  return link.capacity >= link.used && link.capacity - link.used >= bytes;
}

template <class tEntry>
u32 writeEntry(tVexusSGLLink& link, tEntry const& entry, StatusSite site, tStatus& status) {
  if (status.isFatal()) return 0;
  if (!hasRoom(link, sizeof entry)) {
    setStatus(status, kStatusMemoryFull, site);
    return 0;
  }
  u32 const offset = link.used;
  copyMemory(at(link, offset), &entry, sizeof entry);
  link.used += sizeof entry;
  return offset;
}

u32 widthBits(u32 widthCode) {
  switch (widthCode) {
    case 1:
      return kVexusWidth1;
    case 2:
      return kVexusWidth2;
    case 4:
      return kVexusWidth4;
    default:
      return kVexusWidthOther;
  }
}

u32 replicate(u32 value, u32 widthCode) {
  if (widthCode == 1) return (value & 0xFF) * 0x01010101u;
  if (widthCode == 2) return (value & 0xFFFF) * 0x00010001u;
  return value;
}

void copyEntries(tVexusSGLLink& to, tVexusSGLLink const& from, u32 offset, u32 bytes) {
  copyMemory(at(to, to.used), at(from, offset), bytes);
  to.used += bytes;
}

}  // namespace

// ---- Link memory --------------------------------------------------------------------

tVexusSGL::tLinkMemory::~tLinkMemory() = default;

void tVexusSGL::tLinkMemory::consume(u64 bytes) {
  consumed = (consumed + bytes + kLinkAlignment - 1) & ~(kLinkAlignment - 1);
}

void tVexusSGL::tLinkMemory::commit() {}

void tVexusSGL::tLinkMemory::reset() {
  consumed = 0;
  next = nullptr;
}

template <class tMap>
tVexusSGL::tDMALinkMemory<tMap>::tDMALinkMemory(tDMAConfiguration* configuration)
    : pages{}, map(configuration) {}

template <class tMap>
tVexusSGL::tDMALinkMemory<tMap>::~tDMALinkMemory() {
  map.unload();
  freeMappedDMABuffer(map.configuration(), pages, kernelAddress);
}

template <class tMap>
void tVexusSGL::tDMALinkMemory<tMap>::commit() {
  // The links must be in memory before the device is told of them.
  asm volatile("sfence" ::: "memory");
  map.prepareForDMA();
}

template class tVexusSGL::tDMALinkMemory<tStandardDMAMap>;

// ---- The list -----------------------------------------------------------------------

tVexusSGL::tVexusSGL()
    : linkSize_(0),
      first_(nullptr),
      current_(nullptr),
      configuration_(nullptr),
      memories_(nullptr) {}

tVexusSGL::~tVexusSGL() { clear(); }

tVexusSGL::tLinkMemory* tVexusSGL::allocateLinkMemory(tStatus& status) {
  auto* memory = createObject<tDMALinkMemory<tStandardDMAMap>>(status, configuration_);
  if (memory == nullptr) return nullptr;
  u64 const pageSize = nQVZOR100_getPageSize();
  u64 const size = pagesFor(linkSize_, pageSize) * pageSize;
  configuration_->allocateDMABuffer(
      memory->pages, size, kQVZORPageListContiguous | kQVZORPageListZeroed, status, kLinkAlignment);
  memory->kernelAddress = mapPageListToKernel(memory->pages, status);
  memory->map.load(memory->pages, 0, size, kDMAHostToDevice, status);
  if (status.isFatal()) return memory;
  memory->map.resetSGLIterator();
  tDMASegment const first = memory->map.nextSGLSegment();
  memory->busAddress = first.busAddress;
  memory->size = first.size;
  return memory;
}

bool tVexusSGL::holdsLink(tLinkMemory const& memory) const {
  return memory.consumed <= memory.size && memory.size - memory.consumed >= linkSize_;
}

void tVexusSGL::initialize(tDMAConfiguration* configuration, u32 linkSize, tStatus& status) {
  if (status.isFatal()) return;
  clear();
  configuration_ = configuration;
  linkSize_ = linkSize;
  first_ = addLink(status);
}

tVexusSGLLink* tVexusSGL::addLink(tStatus& status) {
  if (status.isFatal()) return nullptr;
  if (configuration_ == nullptr) {
    setStatus(status, kStatusSGLFailure, kNoConfigurationSite);
    return nullptr;
  }
  tLinkMemory* memory = memories_;
  if (memory == nullptr || !holdsLink(*memory)) {
    memory = allocateLinkMemory(status);
    if (memory != nullptr && status.isNotFatal() && !holdsLink(*memory))
      setStatus(status, kStatusSGLFailure, kShortLinkMemorySite);
    if (memory == nullptr || status.isFatal()) {
      destroyObject(memory);
      return nullptr;
    }
    memory->next = memories_;
    memories_ = memory;
  }
  auto* link = static_cast<tVexusSGLLink*>(operatorNewFlagged(sizeof(tVexusSGLLink), status, 1));
  if (link == nullptr) return nullptr;
  *link = {kHeaderBytes, current_,
           nullptr,      memory->busAddress + memory->consumed,
           linkSize_,    reinterpret_cast<u8*>(memory->kernelAddress + memory->consumed)};
  header(*link) = {0, 0, 0};
  memory->consume(linkSize_);
  if (current_ != nullptr) current_->next = link;
  current_ = link;
  if (first_ == nullptr) first_ = link;
  return link;
}

template <class tWrite>
tVexusSGLLink* tVexusSGL::append(tStatus& status, bool newLink, tWrite write, u32& entryOffset) {
  if (current_ == nullptr || (newLink && current_->used > kHeaderBytes)) addLink(status);
  if (status.isFatal()) return nullptr;
  // An entry is never split: one that does not fit goes into a new link.
  tStatus local;
  entryOffset = write(*current_, local);
  if (local.isFatal()) {
    addLink(status);
    entryOffset = write(*current_, status);
  }
  return status.isFatal() ? nullptr : current_;
}

tVexusSGL::tEntryPlace tVexusSGL::addRegisterWrite(u32 registerOffset, u32 value, u32 widthCode,
                                                   tStatus& status, bool newLink) {
  if (status.isFatal()) return {nullptr, 0};
  if (widthCode > kWidthCodeLimit || registerOffset >= kVexusRegisterOffsetLimit) {
    setStatus(status, kStatusBadArgument, kUnencodableSite);
    return {nullptr, 0};
  }
  tVexusRegisterWriteEntry const entry{replicate(value, widthCode),
                                       kVexusRegisterWrite | widthBits(widthCode) | registerOffset};
  u32 offset = 0;
  tVexusSGLLink* link = append(
      status, newLink,
      [&](tVexusSGLLink& l, tStatus& s) { return writeEntry(l, entry, kRegisterWriteRoomSite, s); },
      offset);
  return {link, link != nullptr ? offset : 0};
}

tVexusSGLLink* tVexusSGL::addTransfer(u64 busAddress, u32 byteCount, tStatus& status,
                                      bool newLink) {
  if (status.isFatal()) return nullptr;
  if (byteCount == 0) {
    setStatus(status, kStatusBadArgument, kEmptyTransferSite);
    return nullptr;
  }
  tVexusTransferEntry const entry{byteCount, 0, busAddress};
  u32 offset = 0;
  return append(
      status, newLink,
      [&](tVexusSGLLink& l, tStatus& s) { return writeEntry(l, entry, kTransferRoomSite, s); },
      offset);
}

void tVexusSGL::addDMAMap(tDMAMapCore& map, tStatus& status) {
  while (status.isNotFatal() && map.moreSGLSegments()) {
    tDMASegment const segment = map.nextSGLSegment();
    // A transfer counts its bytes in 32 bits; a longer segment would be cut.
    if (segment.size > 0xFFFFFFFFu) {
      setStatus(status, kStatusBadArgument, kUnencodableSite);
      return;
    }
    addTransfer(segment.busAddress, static_cast<u32>(segment.size), status, false);
  }
}

tVexusSGLLink* tVexusSGL::after(tVexusSGLLink const* link) const {
  return link == current_ ? nullptr : link->next;
}

u32 tVexusSGL::linkCount() const {
  u32 count = 0;
  for (tVexusSGLLink* link = first_; link != nullptr; link = after(link)) ++count;
  return count;
}

bool tVexusSGL::hasEntries() const {
  for (tVexusSGLLink* link = first_; link != nullptr; link = after(link))
    if (link->used > kHeaderBytes) return true;
  return false;
}

void tVexusSGL::commit() {
  for (tVexusSGLLink* link = first_; link != nullptr; link = after(link)) {
    tVexusSGLLink const* next = link->next;
    tVexusLinkHeader& h = header(*link);
    h.nextUsedBytes = next != nullptr ? next->used : 0;
    h.flags = (h.flags & kVexusLinkMark) | (next != nullptr ? 0u : u32{kVexusLinkLast});
    h.nextBusAddress = next != nullptr ? next->busAddress : 0;
  }
  for (tLinkMemory* memory = memories_; memory != nullptr; memory = memory->next) memory->commit();
}

void tVexusSGL::terminate() {
  if (current_ != nullptr) current_->next = nullptr;
  commit();
}

// Every link moves up as far as whole entries let it; the links left empty
// at the end go.
void tVexusSGL::pack() {
  tVexusSGLLink* to = first_;
  u32 written = kHeaderBytes;
  for (tVexusSGLLink* from = first_; from != nullptr; from = after(from)) {
    u32 const end = from->used;
    for (u32 offset = kHeaderBytes; offset < end;) {
      u32 const bytes = entrySize(*from, offset);
      if (to->capacity - written < bytes) {
        to->used = written;
        to = to->next;  // never past from: from's own entries fit where they are
        written = kHeaderBytes;
      }
      moveMemory(at(*to, written), at(*from, offset), bytes);
      written += bytes;
      offset += bytes;
    }
  }
  to->used = written;
  freeLinksAfter(to);
}

// A short last link takes whole entries from the tails of the links before it,
// so that the device finds work in each link of the ring.
void tVexusSGL::balance() {
  if (linkSize_ / 2 < current_->used) return;
  u32 const share = ((linkSize_ - current_->used) / kTransferBytes) / linkCount();
  u32 const target = share == 0 ? kHeaderBytes : linkSize_ - kTransferBytes * share;
  for (tVexusSGLLink* hand = current_; hand != first_ && target > hand->used;
       hand = hand->previous) {
    tVexusSGLLink& previous = *hand->previous;
    for (;;) {
      u32 const last = lastEntry(previous);
      u32 const bytes = previous.used - last;
      // The previous link keeps its first entry, and the hand never goes
      // past the target.
      if (last == kHeaderBytes || hand->used + bytes > target) break;
      moveMemory(at(*hand, kHeaderBytes + bytes), at(*hand, kHeaderBytes),
                 hand->used - kHeaderBytes);
      copyMemory(at(*hand, kHeaderBytes), at(previous, last), bytes);
      hand->used += bytes;
      previous.used -= bytes;
    }
  }
}

// A ring of one link would have the device reread the link it is working
// through; the program is repeated over two links instead.
void tVexusSGL::unroll(tStatus& status) {
  tVexusSGLLink& one = *first_;
  u32 const program = one.used - kHeaderBytes;
  u32 const programEnd = one.used;
  tVexusSGLLink* two = addLink(status);
  if (two == nullptr) return;
  u32 next = kHeaderBytes;  // the program's next entry
  while (hasRoom(one, entrySize(one, next))) {
    u32 const bytes = entrySize(one, next);
    copyEntries(one, one, next, bytes);
    next = next + bytes == programEnd ? kHeaderBytes : next + bytes;
  }
  if (next != kHeaderBytes) copyEntries(*two, one, next, programEnd - next);
  while (hasRoom(*two, program)) copyEntries(*two, one, kHeaderBytes, program);
}

void tVexusSGL::closeRing(bool mark, tStatus& status) {
  if (status.isFatal()) return;
  if (first_ == nullptr || !hasEntries()) {
    setStatus(status, kStatusSGLFailure, kEmptyRingSite);
    return;
  }
  bool const balancedBefore =
      linkCount() == 2 && (header(*first_->next).flags & kVexusLinkMark) != 0;
  if (!balancedBefore) {
    pack();
    balance();
  }
  if (linkCount() == 1) unroll(status);
  if (status.isFatal()) return;
  current_->next = first_;
  if (mark && linkCount() == 2) header(*current_).flags |= kVexusLinkMark;
  commit();
}

void tVexusSGL::freeLinksAfter(tVexusSGLLink* link) {
  tVexusSGLLink* doomed = after(link);
  while (doomed != nullptr) {
    tVexusSGLLink* const next = after(doomed);
    operatorDelete(doomed);
    doomed = next;
  }
  link->next = nullptr;
  current_ = link;
}

void tVexusSGL::rewind() {
  if (first_ == nullptr || memories_ == nullptr) return;
  freeLinksAfter(first_);
  first_->used = kHeaderBytes;
  first_->previous = nullptr;
  header(*first_) = {0, 0, 0};
  // The first link lies at the start of the oldest memory.
  while (memories_->next != nullptr) {
    tLinkMemory* const newest = memories_;
    memories_ = newest->next;
    destroyObject(newest);
  }
  memories_->reset();
  memories_->consume(linkSize_);
}

void tVexusSGL::clear() {
  if (first_ != nullptr) {
    freeLinksAfter(first_);
    operatorDelete(first_);
  }
  while (memories_ != nullptr) {
    tLinkMemory* const next = memories_->next;
    destroyObject(memories_);
    memories_ = next;
  }
  first_ = current_ = nullptr;
  configuration_ = nullptr;
}

tDMASegment tVexusSGL::getFirstLink() const {
  if (first_ == nullptr) return {0, 0};
  return {first_->busAddress, first_->used};
}

}  // namespace qvrm7_driver::nQVWEND000
