// Test controls of the layer's DMA memory: page lists with simulated physical
// addresses over real host memory, and the scatter-gather objects that map
// them for a device. A test chooses where pages land and reads what the
// driver left in DMA memory by physical address, as a device would reach it.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

inline constexpr uint64_t kLayerPageSize = 4096;
inline constexpr uint64_t k4GiB = 0x100000000ull;

// ---- Page lists -----------------------------------------------------------
// Where the pages of the next lists lie. Pages come in physically contiguous
// runs; consecutive runs never touch. The allocation's contiguous flag makes
// the whole list one run, its below-4-GiB flag keeps every run low.
struct PagePlacement {
  uint64_t runPages = 0;   // pages per run; 0: the whole list is one run
  bool high = false;       // the first run lies above 4 GiB
  bool alternate = false;  // later runs alternate between above and below
  // Where the next low run starts; one placed close under 4 GiB makes runs
  // that cross it.
  std::optional<uint64_t> nextLow = std::nullopt;
};
void setPagePlacement(PagePlacement const& placement);

struct PageListInfo {
  uint32_t flags = 0;
  std::optional<uint32_t> node;    // for a list from a NUMA node
  std::vector<uint64_t> physical;  // of each page
  uint8_t* memory = nullptr;       // the pages, one after the other
  uint64_t kernelMappings = 0;     // whole-list mappings not undone
  uint64_t pageMappings = 0;       // one-page mappings not undone
};
std::optional<PageListInfo> pageList(uint64_t handle);
uint64_t livePageLists();

// The host bytes behind [physical, physical + length) of a live list; null
// when no list holds the whole range contiguously.
uint8_t* physicalToHost(uint64_t physical, uint64_t length);

// ---- Scatter-gather objects -------------------------------------------------
struct Segment {
  uint64_t address;
  uint64_t size;
  friend bool operator==(Segment const&, Segment const&) = default;
};
struct ScatterGatherInfo {
  uint64_t device = 0;
  uint64_t capacity = 0;  // pages
  bool mapped = false;
  uint64_t pageList = 0;
  bool fromDevice = false;
  std::vector<Segment> segments;
  uint64_t prepares = 0;        // prepareForDMA calls while mapped
  uint64_t completedBytes = 0;  // summed over completeDMA calls
};
std::optional<ScatterGatherInfo> scatterGather(uint64_t handle);
uint64_t liveScatterGathers();

// The placement back to its default; live lists and objects stay, as they
// belong to whoever made them.
void resetDmaControls();

namespace detail {
// The physical address of every page of a live list; none for an unknown one.
std::optional<std::vector<uint64_t>> physicalPages(uint64_t handle);
}  // namespace detail

}  // namespace sim
