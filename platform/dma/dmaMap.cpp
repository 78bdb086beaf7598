#include "platform/dma/dmaMap.h"

#include "platform/kernelServices.h"
#include "platform/memory.h"
#include "platform/pciDescription.h"
#include "platform/statusCodes.h"

namespace qvrm7_driver::nQVWEND000 {

namespace {

constexpr StatusSite kSGLCreateSite{"tStandardDMAMap", 40};
constexpr StatusSite kSGLMapSite{"tStandardDMAMap", 79};
// The layer had no pages where the range says, or the range needs more
// segments or bounce stretches than were reserved for it.
constexpr StatusSite kNoPagesSite{"tDirectDMAMap", 212};
constexpr StatusSite kNoRoomSite{"tDirectDMAMap", 236};

constexpr u64 k4GiB = 0x100000000ull;

u64 smaller(u64 a, u64 b) { return a < b ? a : b; }

u64 pageSize() { return nQVZOR100_getPageSize(); }

u64 roundUpToPage(u64 bytes) { return pagesFor(bytes, pageSize()) * pageSize(); }

// Grows an array to capacity elements, keeping the first count; false (and
// the array as it was) when the allocation failed.
template <class T>
bool grow(T*& array, u64& capacity, u64 wanted, u64 count, tStatus& status) {
  if (capacity >= wanted) return true;
  auto* grown = static_cast<T*>(operatorNewFlagged(wanted * sizeof(T), status, 1));
  if (grown == nullptr) return false;
  fillMemory(grown, 0, wanted * sizeof(T));
  if (count != 0) copyMemory(grown, array, count * sizeof(T));
  operatorDelete(array);
  array = grown;
  capacity = wanted;
  return true;
}

}  // namespace

// ---- tDMAMapCore -------------------------------------------------------------------

tDMAMapCore::tDMAMapCore(tDMAConfiguration* configuration)
    : configuration_(configuration), offset_(0), size_(0), direction_(kDMAHostToDevice) {}

tDMAMapCore::~tDMAMapCore() = default;

void tDMAMapCore::load(tPageList&, u64 offset, u64 size, tDMADirection direction, tStatus&) {
  offset_ = offset;
  size_ = size;
  direction_ = direction;
}

void tDMAMapCore::unload() {
  offset_ = 0;
  size_ = 0;
}

u64 tDMAMapCore::pagesFor(u64 size) {
  return size <= 1 ? size : nQVWEND000::pagesFor(size, pageSize()) + 1;
}

// ---- tStandardDMAMap ---------------------------------------------------------------

tStandardDMAMap::tStandardDMAMap(tDMAConfiguration* configuration)
    : tDMAMapCore(configuration), sgl_(0), capacity_(0), iterator_(0) {}

tStandardDMAMap::~tStandardDMAMap() { release(); }

void tStandardDMAMap::reserve(u64 size, tStatus& status) {
  if (status.isFatal()) return;
  u64 const pages = pagesFor(size);
  if (capacity_ >= pages) return;
  tPCIDescription const* description =
      configuration_ != nullptr ? configuration_->description() : nullptr;
  // Without a PCI description there is no device to map for: the layer
  // refuses handle 0.
  u64 const sgl =
      nQVZOR220_tSGL_createForPCI(description != nullptr ? description->kernelDevice : 0, pages);
  if (sgl == 0) {
    setStatus(status, kStatusMemoryFull, kSGLCreateSite);
    return;
  }
  if (sgl_ != 0) nQVZOR220_tSGL_destroy(sgl_);
  sgl_ = sgl;
  capacity_ = pages;
}

void tStandardDMAMap::release() {
  if (sgl_ != 0) nQVZOR220_tSGL_destroy(sgl_);
  sgl_ = 0;
  capacity_ = 0;
  iterator_ = 0;
}

void tStandardDMAMap::load(tPageList& list, u64 offset, u64 size, tDMADirection direction,
                           tStatus& status) {
  if (status.isFatal()) return;
  tDMAMapCore::load(list, offset, size, direction, status);
  reserve(size, status);
  // Without the object there is nothing to map into.
  if (status.isFatal()) {
    unload();
    return;
  }
  // An empty range needs no pages, so a map that never held more has no
  // object to map into, and handing the layer handle 0 would fault in it.
  if (sgl_ == 0) return;
  i32 const result = nQVZOR220_tSGL_map(sgl_, list.handle, offset + list.firstPageOffset, size,
                                        direction != kDMAHostToDevice);
  iterator_ = 0;
  if (result != 0) {
    translateZORStatusToWENDStatusWithErrorDetails(result, status, kSGLMapSite);
    unload();
  }
}

void tStandardDMAMap::unload() {
  if (sgl_ != 0) nQVZOR220_tSGL_unmap(sgl_);
  iterator_ = 0;
  tDMAMapCore::unload();
}

void tStandardDMAMap::prepareForDMA() {
  if (sgl_ != 0) nQVZOR220_tSGL_prepareForDMA(sgl_);
}

void tStandardDMAMap::completeDMA(u64 bytes) {
  if (sgl_ != 0 && bytes != 0) nQVZOR220_tSGL_completeDMA(sgl_, bytes);
}

u64 tStandardDMAMap::numSGLSegments() const {
  return sgl_ != 0 ? nQVZOR220_tSGL_numSegments(sgl_) : 0;
}

void tStandardDMAMap::resetSGLIterator() {
  if (sgl_ != 0) nQVZOR220_tSGL_iterate(sgl_, 0);
  iterator_ = 0;
}

bool tStandardDMAMap::moreSGLSegments() const {
  return sgl_ != 0 && iterator_ < nQVZOR220_tSGL_numSegments(sgl_);
}

tDMASegment tStandardDMAMap::nextSGLSegment() {
  if (!moreSGLSegments()) return {0, 0};
  tDMASegment const segment{nQVZOR220_tSGL_getSegmentAddress(sgl_),
                            nQVZOR220_tSGL_getSegmentSize(sgl_)};
  nQVZOR220_tSGL_nextSegment(sgl_);
  ++iterator_;
  return segment;
}

// ---- tDirectDMAMap -----------------------------------------------------------------

tDirectDMAMap::tDirectDMAMap(tDMAConfiguration* configuration)
    : tDMAMapCore(configuration),
      segments_(nullptr),
      segmentCapacity_(0),
      iterator_(0),
      bounce_(nullptr),
      segmentCount_(0),
      bounceCapacity_(0),
      bounceCount_(0),
      bounceList_{},
      bounceKernel_(0),
      loaded_(nullptr),
      bounceEnabled_(nQVZOR200_isAddressableMemOver4G() != 0 ? 1 : 0) {}

tDirectDMAMap::~tDirectDMAMap() { release(); }

bool tDirectDMAMap::bouncing() const {
  return bounceEnabled_ != 0 && configuration_ != nullptr &&
         configuration_->type() == tDMAConfiguration::kDMA32Bit;
}

void tDirectDMAMap::reserve(u64 size, tStatus& status) {
  if (status.isFatal()) return;
  u64 const pages = pagesFor(size);
  if (!grow(segments_, segmentCapacity_, pages, segmentCount_, status)) return;
  if (bouncing()) grow(bounce_, bounceCapacity_, pages, bounceCount_, status);
}

void tDirectDMAMap::release() {
  operatorDelete(segments_);
  operatorDelete(bounce_);
  segments_ = nullptr;
  bounce_ = nullptr;
  segmentCapacity_ = bounceCapacity_ = 0;
  segmentCount_ = bounceCount_ = iterator_ = 0;
  freeMappedDMABuffer(configuration_, bounceList_, bounceKernel_);
}

tDMASegment tDirectDMAMap::chunkAt(tPageList const& list, u64 position, u64 limit,
                                   tStatus& status) const {
  if (status.isFatal()) return {0, 0};
  u64 length = 0;
  u64 const address =
      nQVZOR220_tPageList_getPhysicalAddress(list.handle, list.firstPageOffset + position, &length);
  length = position < list.size ? smaller(smaller(length, list.size - position), limit) : 0;
  // A walk that cannot step on would never end.
  if (length == 0) {
    setStatus(status, kStatusSGLFailure, kNoPagesSite);
    return {0, 0};
  }
  return {address, length};
}

void tDirectDMAMap::appendSegment(tDMASegment segment, tStatus& status) {
  if (status.isFatal()) return;
  if (segmentCount_ >= segmentCapacity_) {
    setStatus(status, kStatusSGLFailure, kNoRoomSite);
    return;
  }
  segments_[segmentCount_++] = segment;
}

void tDirectDMAMap::load(tPageList& list, u64 offset, u64 size, tDMADirection direction,
                         tStatus& status) {
  if (status.isFatal()) return;
  tDMAMapCore::load(list, offset, size, direction, status);
  segmentCount_ = bounceCount_ = iterator_ = 0;
  reserve(size, status);
  loaded_ = &list;
  if (bouncing() && size != 0) findBounceStretches(status);
  buildSegments(status);
  if (status.isFatal()) unload();
}

void tDirectDMAMap::findBounceStretches(tStatus& status) {
  u64 bytes = 0;
  for (u64 position = 0; position < size_ && status.isNotFatal();) {
    tDMASegment const chunk = chunkAt(*loaded_, offset_ + position, size_ - position, status);
    bool const above = chunk.size > k4GiB || chunk.busAddress > k4GiB - chunk.size;
    if (above) {
      tBounceRecord* last = bounceCount_ != 0 ? &bounce_[bounceCount_ - 1] : nullptr;
      if (last != nullptr && last->position + last->length == position) {
        last->length += chunk.size;
      } else if (bounceCount_ < bounceCapacity_) {
        bounce_[bounceCount_++] = {position, chunk.size, 0};
      } else {
        setStatus(status, kStatusSGLFailure, kNoRoomSite);
      }
      bytes += roundUpToPage(chunk.size);
    }
    position += chunk.size;
  }
  if (status.isNotFatal() && bytes > bounceList_.size) growBounceBuffer(bytes, status);
}

void tDirectDMAMap::growBounceBuffer(u64 bytes, tStatus& status) {
  freeMappedDMABuffer(configuration_, bounceList_, bounceKernel_);
  configuration_->allocateDMABuffer(bounceList_, bytes, 0, status, pageSize());
  bounceKernel_ = mapPageListToKernel(bounceList_, status);
}

void tDirectDMAMap::buildSegments(tStatus& status) {
  u64 place = 0;  // in the bounce buffer
  u64 next = 0;   // the next bounce record
  for (u64 position = 0; position < size_ && status.isNotFatal();) {
    if (next < bounceCount_ && bounce_[next].position == position) {
      tBounceRecord& record = bounce_[next++];
      record.kernelAddress = bounceKernel_ + place;
      for (u64 done = 0; done < record.length && status.isNotFatal();) {
        tDMASegment const chunk = chunkAt(bounceList_, place + done, record.length - done, status);
        appendSegment(chunk, status);
        done += chunk.size;
      }
      place += roundUpToPage(record.length);
      position += record.length;
      continue;
    }
    u64 limit = size_ - position;
    if (next < bounceCount_) limit = smaller(limit, bounce_[next].position - position);
    tDMASegment const chunk = chunkAt(*loaded_, offset_ + position, limit, status);
    appendSegment(chunk, status);
    position += chunk.size;
  }
}

void tDirectDMAMap::unload() {
  segmentCount_ = bounceCount_ = iterator_ = 0;
  loaded_ = nullptr;
  tDMAMapCore::unload();
}

void tDirectDMAMap::copyBounced(bool intoBounce, u64 limit) {
  if (loaded_ == nullptr) return;
  for (u64 i = 0; i < bounceCount_ && bounce_[i].position < limit; ++i) {
    tBounceRecord const& record = bounce_[i];
    u64 const end = smaller(record.length, limit - record.position);
    for (u64 done = 0; done < end;) {
      u64 const at = loaded_->firstPageOffset + offset_ + record.position + done;
      u64 const inPage = at % pageSize();
      u64 const n = smaller(pageSize() - inPage, end - done);
      u64 const page = nQVZOR220_tPageList_mapOnePageToKernel(loaded_->handle, at / pageSize());
      if (page == 0) break;  // the layer would not lend the page: nothing to copy it with
      auto* const bounced = reinterpret_cast<void*>(record.kernelAddress + done);
      auto* const caller = reinterpret_cast<void*>(page + inPage);
      if (intoBounce)
        nQVZOR180_memCpy(bounced, caller, n);
      else
        nQVZOR180_memCpy(caller, bounced, n);
      nQVZOR220_tPageList_unmapOnePageFromKernel(loaded_->handle, page);
      done += n;
    }
  }
}

void tDirectDMAMap::prepareForDMA() {
  if (direction_ == kDMAHostToDevice) copyBounced(true, size_);
}

void tDirectDMAMap::completeDMA(u64 bytes) {
  if (direction_ == kDMADeviceToHost) copyBounced(false, bytes);
}

u64 tDirectDMAMap::numSGLSegments() const { return segmentCount_; }

void tDirectDMAMap::resetSGLIterator() { iterator_ = 0; }

bool tDirectDMAMap::moreSGLSegments() const { return iterator_ < segmentCount_; }

tDMASegment tDirectDMAMap::nextSGLSegment() {
  if (!moreSGLSegments()) return {0, 0};
  return segments_[iterator_++];
}

}  // namespace qvrm7_driver::nQVWEND000
