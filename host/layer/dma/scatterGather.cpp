// The layer's scatter-gather objects: bus-address segments over part of a
// page list. There is no address translation between a device and memory,
// so a bus address is the page's physical address.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/dma/dma.h"
#include "host/layer/lockedState.h"
#include "platform/kernelServices.h"

namespace sim {

namespace {

constexpr int32_t kBadArgument = -51009;
constexpr int32_t kBusy = -51101;

struct Object {
  ScatterGatherInfo info;
  uint64_t cursor = 0;
};

struct State {
  std::mutex mutex;
  std::map<uint64_t, Object> records;
  uint64_t nextHandle = 0x5C00000000000001ull;  // not an address
};

State& state() {
  static State* s = new State();  // never destroyed: imports may run at exit
  return *s;
}

Object& find(State& s, uint64_t handle, char const* import) {
  auto found = s.records.find(handle);
  if (found == s.records.end()) {
    std::fprintf(stderr, "layer: %s of a scatter-gather object 0x%llx that does not exist\n",
                 import, static_cast<unsigned long long>(handle));
    std::abort();
  }
  return found->second;
}

// Runs an import on a live object under the layer's lock; an injected
// failure skips it and yields the fallback.
template <class Result, class Work>
Result onObject(char const* import, uint64_t handle, Result fallback, Work work) {
  if (detail::enterImport(import)) return fallback;
  State& s = state();
  std::lock_guard lock(s.mutex);
  return work(find(s, handle, import));
}

// The segments of [offset, offset + size) of the pages: one per physically
// contiguous run.
std::vector<Segment> segmentsOf(std::vector<uint64_t> const& pages, uint64_t offset,
                                uint64_t size) {
  std::vector<Segment> segments;
  for (uint64_t at = offset; at < offset + size;) {
    uint64_t const inPage = at % kLayerPageSize;
    uint64_t const length = std::min(kLayerPageSize - inPage, offset + size - at);
    uint64_t const address = pages[at / kLayerPageSize] + inPage;
    if (!segments.empty() && segments.back().address + segments.back().size == address)
      segments.back().size += length;
    else
      segments.push_back({address, length});
    at += length;
  }
  return segments;
}

}  // namespace

std::optional<ScatterGatherInfo> scatterGather(uint64_t handle) {
  return findLocked(state(), handle, [](Object const& object) { return object.info; });
}

uint64_t liveScatterGathers() {
  return readLocked(state(), [](State& s) { return s.records.size(); });
}

}  // namespace sim

extern "C" {

uint64_t nQVZOR220_tSGL_createForPCI(uint64_t deviceHandle, uint64_t pageCount) {
  if (sim::detail::enterImport("nQVZOR220_tSGL_createForPCI")) return 0;
  if (deviceHandle == 0 || pageCount == 0) return 0;  // no device to map for, nothing to hold
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  uint64_t const handle = s.nextHandle++;
  sim::Object& object = s.records[handle];
  object.info.device = deviceHandle;
  object.info.capacity = pageCount;
  return handle;
}

void nQVZOR220_tSGL_destroy(uint64_t sgl) {
  sim::detail::enterImport("nQVZOR220_tSGL_destroy");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::find(s, sgl, "nQVZOR220_tSGL_destroy");
  s.records.erase(sgl);
}

int32_t nQVZOR220_tSGL_map(uint64_t sgl, uint64_t pageList, uint64_t offset, uint64_t size,
                           bool fromDevice) {
  char const* const import = "nQVZOR220_tSGL_map";
  if (sim::detail::enterImport(import)) return sim::detail::failureCode(import);
  auto const pages = sim::detail::physicalPages(pageList);
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::Object& object = sim::find(s, sgl, import);
  if (object.info.mapped) return sim::kBusy;
  uint64_t const bytes = pages ? pages->size() * sim::kLayerPageSize : 0;
  if (!pages || offset > bytes || size > bytes - offset) return sim::kBadArgument;
  std::vector<sim::Segment> segments = sim::segmentsOf(*pages, offset, size);
  if (segments.size() > object.info.capacity) return sim::kBadArgument;
  object.info = {object.info.device, object.info.capacity, true,
                 pageList,           fromDevice,           std::move(segments)};
  object.cursor = 0;
  return 0;
}

void nQVZOR220_tSGL_unmap(uint64_t sgl) {
  sim::onObject("nQVZOR220_tSGL_unmap", sgl, 0, [](sim::Object& o) {
    o.info.mapped = false;
    o.info.pageList = 0;
    o.info.segments.clear();
    o.cursor = 0;
    return 0;
  });
}

void nQVZOR220_tSGL_prepareForDMA(uint64_t sgl) {
  sim::onObject("nQVZOR220_tSGL_prepareForDMA", sgl, 0, [](sim::Object& o) {
    if (o.info.mapped) ++o.info.prepares;
    return 0;
  });
}

void nQVZOR220_tSGL_completeDMA(uint64_t sgl, uint64_t bytes) {
  sim::onObject("nQVZOR220_tSGL_completeDMA", sgl, 0, [&](sim::Object& o) {
    if (o.info.mapped) o.info.completedBytes += bytes;
    return 0;
  });
}

uint64_t nQVZOR220_tSGL_numSegments(uint64_t sgl) {
  return sim::onObject("nQVZOR220_tSGL_numSegments", sgl, uint64_t{0},
                       [](sim::Object& o) { return uint64_t{o.info.segments.size()}; });
}

void nQVZOR220_tSGL_iterate(uint64_t sgl, uint64_t index) {
  sim::onObject("nQVZOR220_tSGL_iterate", sgl, 0, [&](sim::Object& o) {
    o.cursor = index;
    return 0;
  });
}

uint64_t nQVZOR220_tSGL_getSegmentAddress(uint64_t sgl) {
  return sim::onObject("nQVZOR220_tSGL_getSegmentAddress", sgl, uint64_t{0}, [](sim::Object& o) {
    return o.cursor < o.info.segments.size() ? o.info.segments[o.cursor].address : 0;
  });
}

uint64_t nQVZOR220_tSGL_getSegmentSize(uint64_t sgl) {
  return sim::onObject("nQVZOR220_tSGL_getSegmentSize", sgl, uint64_t{0}, [](sim::Object& o) {
    return o.cursor < o.info.segments.size() ? o.info.segments[o.cursor].size : 0;
  });
}

void nQVZOR220_tSGL_nextSegment(uint64_t sgl) {
  sim::onObject("nQVZOR220_tSGL_nextSegment", sgl, 0, [](sim::Object& o) {
    ++o.cursor;
    return 0;
  });
}

}  // extern "C"
