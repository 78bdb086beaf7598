// The layer's page lists: host memory for the pages, and simulated physical
// addresses for them under the placement a test chose.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "host/layer/control.h"
#include "host/layer/dma/dma.h"
#include "host/layer/lockedState.h"
#include "platform/kernelServices.h"

namespace sim {

namespace {

constexpr uint64_t kFirstLow = 0x01000000;
constexpr uint64_t kFirstHigh = 0x200000000ull;
// What fresh pages hold unless they were asked zeroed.
constexpr uint8_t kFreshPagePattern = 0xCD;

struct List {
  PageListInfo info;
  std::map<uint64_t, uint64_t> pageMappings;  // address -> count
};

struct State {
  std::mutex mutex;
  std::map<uint64_t, List> records;
  PagePlacement placement;
  uint64_t nextLow = kFirstLow;
  uint64_t nextHigh = kFirstHigh;
  uint64_t nextHandle = 0x9A00000000000001ull;  // not an address
};

State& state() {
  static State* s = new State();  // never destroyed: imports may run at exit
  return *s;
}

[[noreturn]] void fatal(char const* what, uint64_t handle) {
  std::fprintf(stderr, "layer: %s 0x%llx\n", what, static_cast<unsigned long long>(handle));
  std::abort();
}

// Physical addresses for every page; false when low memory ran out.
bool place(State& s, uint64_t pages, uint32_t flags, std::vector<uint64_t>& physical) {
  PagePlacement const& p = s.placement;
  uint64_t const run = (flags & kQVZORPageListContiguous) || p.runPages == 0 ? pages : p.runPages;
  bool high = p.high && !(flags & kQVZORPageListBelow4G);
  for (uint64_t first = 0; first < pages; first += run) {
    uint64_t const count = std::min(run, pages - first);
    uint64_t& next = high ? s.nextHigh : s.nextLow;
    if (!high && next + count * kLayerPageSize > k4GiB && (flags & kQVZORPageListBelow4G))
      return false;
    for (uint64_t i = 0; i < count; ++i) physical.push_back(next + i * kLayerPageSize);
    next += (count + 1) * kLayerPageSize;  // a gap: runs never touch
    if (p.alternate && !(flags & kQVZORPageListBelow4G)) high = !high;
  }
  return true;
}

uint64_t create(char const* import, uint64_t pages, uint32_t flags, std::optional<uint32_t> node) {
  if (detail::enterImport(import)) return 0;
  if (pages == 0 || pages > (uint64_t{1} << 20)) return 0;  // more than the pool holds
  State& s = state();
  std::lock_guard lock(s.mutex);
  List list;
  list.info.flags = flags;
  list.info.node = node;
  if (!place(s, pages, flags, list.info.physical)) return 0;
  auto* memory = static_cast<uint8_t*>(std::aligned_alloc(kLayerPageSize, pages * kLayerPageSize));
  if (memory == nullptr) return 0;
  std::memset(memory, (flags & kQVZORPageListZeroed) ? 0 : kFreshPagePattern,
              pages * kLayerPageSize);
  list.info.memory = memory;
  uint64_t const handle = s.nextHandle++;
  s.records.emplace(handle, std::move(list));
  return handle;
}

List& find(State& s, uint64_t handle, char const* import) {
  auto found = s.records.find(handle);
  if (found == s.records.end()) {
    std::fprintf(stderr, "layer: %s of a page list that does not exist:", import);
    fatal("handle", handle);
  }
  return found->second;
}

}  // namespace

void setPagePlacement(PagePlacement const& placement) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.placement = placement;
  if (placement.nextLow) s.nextLow = *placement.nextLow;
}

std::optional<PageListInfo> pageList(uint64_t handle) {
  return findLocked(state(), handle, [](List const& list) { return list.info; });
}

uint64_t livePageLists() {
  return readLocked(state(), [](State& s) { return s.records.size(); });
}

uint8_t* physicalToHost(uint64_t physical, uint64_t length) {
  return readLocked(state(), [&](State& s) -> uint8_t* {
    for (auto& [handle, list] : s.records) {
      std::vector<uint64_t> const& pages = list.info.physical;
      for (size_t i = 0; i < pages.size(); ++i) {
        if (physical < pages[i] || physical - pages[i] >= kLayerPageSize) continue;
        // The range must stay in this list and physically contiguous.
        uint64_t const end = physical - pages[i] + length;
        for (size_t j = i + 1; j * kLayerPageSize < i * kLayerPageSize + end; ++j)
          if (j >= pages.size() || pages[j] != pages[i] + (j - i) * kLayerPageSize) return nullptr;
        return list.info.memory + i * kLayerPageSize + (physical - pages[i]);
      }
    }
    return nullptr;
  });
}

void resetDmaControls() { setPagePlacement({}); }

namespace detail {

std::optional<std::vector<uint64_t>> physicalPages(uint64_t handle) {
  return findLocked(state(), handle, [](List const& list) { return list.info.physical; });
}

}  // namespace detail

}  // namespace sim

using sim::detail::enterImport;

extern "C" {

uint64_t nQVZOR220_tPageList_createFromAllocation(uint64_t pageCount, uint32_t flags) {
  return sim::create("nQVZOR220_tPageList_createFromAllocation", pageCount, flags, std::nullopt);
}

uint64_t nQVZOR1_tPageList_createFromAllocationNUMA(uint64_t pageCount, uint32_t flags,
                                                    uint32_t node) {
  return sim::create("nQVZOR1_tPageList_createFromAllocationNUMA", pageCount, flags, node);
}

void nQVZOR220_tPageList_destroy(uint64_t pageList) {
  enterImport("nQVZOR220_tPageList_destroy");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::List& list = sim::find(s, pageList, "nQVZOR220_tPageList_destroy");
  if (list.info.kernelMappings != 0 || list.info.pageMappings != 0)
    sim::fatal("destroy of a page list that is still mapped:", pageList);
  std::free(list.info.memory);
  s.records.erase(pageList);
}

uint64_t nQVZOR220_tPageList_getPhysicalAddress(uint64_t pageList, uint64_t offset,
                                                uint64_t* contiguous) {
  *contiguous = 0;
  if (enterImport("nQVZOR220_tPageList_getPhysicalAddress")) return 0;
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  std::vector<uint64_t> const& pages =
      sim::find(s, pageList, "nQVZOR220_tPageList_getPhysicalAddress").info.physical;
  uint64_t const page = offset / sim::kLayerPageSize;
  if (page >= pages.size()) return 0;
  uint64_t end = page + 1;
  while (end < pages.size() && pages[end] == pages[end - 1] + sim::kLayerPageSize) ++end;
  *contiguous = end * sim::kLayerPageSize - offset;
  return pages[page] + offset % sim::kLayerPageSize;
}

uint64_t nQVZOR220_tPageList_mapToKernel(uint64_t pageList) {
  if (enterImport("nQVZOR220_tPageList_mapToKernel")) return 0;
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::List& list = sim::find(s, pageList, "nQVZOR220_tPageList_mapToKernel");
  ++list.info.kernelMappings;
  return reinterpret_cast<uint64_t>(list.info.memory);
}

void nQVZOR220_tPageList_unmapFromKernel(uint64_t pageList, uint64_t kernelAddress) {
  enterImport("nQVZOR220_tPageList_unmapFromKernel");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::List& list = sim::find(s, pageList, "nQVZOR220_tPageList_unmapFromKernel");
  if (list.info.kernelMappings == 0 ||
      kernelAddress != reinterpret_cast<uint64_t>(list.info.memory))
    sim::fatal("unmapFromKernel of an address no mapping of the list gave:", kernelAddress);
  --list.info.kernelMappings;
}

uint64_t nQVZOR220_tPageList_mapOnePageToKernel(uint64_t pageList, uint64_t pageIndex) {
  if (enterImport("nQVZOR220_tPageList_mapOnePageToKernel")) return 0;
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::List& list = sim::find(s, pageList, "nQVZOR220_tPageList_mapOnePageToKernel");
  if (pageIndex >= list.info.physical.size()) return 0;
  uint64_t const address =
      reinterpret_cast<uint64_t>(list.info.memory + pageIndex * sim::kLayerPageSize);
  ++list.pageMappings[address];
  ++list.info.pageMappings;
  return address;
}

void nQVZOR220_tPageList_unmapOnePageFromKernel(uint64_t pageList, uint64_t kernelAddress) {
  enterImport("nQVZOR220_tPageList_unmapOnePageFromKernel");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::List& list = sim::find(s, pageList, "nQVZOR220_tPageList_unmapOnePageFromKernel");
  auto found = list.pageMappings.find(kernelAddress);
  if (found == list.pageMappings.end())
    sim::fatal("unmapOnePageFromKernel of an address no page mapping gave:", kernelAddress);
  if (--found->second == 0) list.pageMappings.erase(found);
  --list.info.pageMappings;
}

}  // extern "C"
