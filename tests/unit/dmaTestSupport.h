// DMA tests run over a PCI function on the simulated bus, whose description a
// DMA configuration points at, and check that whatever a case allocated from
// the layer went back.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/dma/dma.h"
#include "host/layer/pci.h"
#include "pciTestDevice.h"
#include "platform/dma/dmaMap.h"

namespace dmatest {

using namespace pcitest;

inline sim::PagePlacement placement(uint64_t runPages, bool high = false, bool alternate = false,
                                    std::optional<uint64_t> nextLow = std::nullopt) {
  sim::PagePlacement p;
  p.runPages = runPages;
  p.high = high;
  p.alternate = alternate;
  p.nextLow = nextLow;
  return p;
}

struct Counts {
  uint64_t allocations = sim::liveAllocations();
  uint64_t lists = sim::livePageLists();
  uint64_t sgls = sim::liveScatterGathers();
};

class DmaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::PciDeviceOptions options;
    options.resources = {{0x1000, kQVZORResourceMemory}};
    function_ = std::make_shared<sim::PciDevice>(options);
    ASSERT_EQ(sim::plugIn(function_), 0);
    description_ = describe(*function_);
    description_.numaNode = 0xFFFFFFFF;
    configuration_.configure(tDMAConfiguration::kDMA64Bit, &description_);
    before_ = Counts{};
  }
  void TearDown() override {
    freeBuffers();
    expectNothingLeft();
    sim::unplug(*function_);
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    sim::reset();
  }
  void expectNothingLeft() const {
    Counts const now;
    EXPECT_EQ(now.allocations, before_.allocations);
    EXPECT_EQ(now.lists, before_.lists);
    EXPECT_EQ(now.sgls, before_.sgls);
  }

  // A buffer of whole pages holding a byte pattern, freed with the fixture.
  struct Buffer {
    tPageList list{};
    uint8_t* bytes = nullptr;
  };
  Buffer& buffer(uint64_t pages, uint32_t flags = 0) {
    auto& b = *buffers_.emplace_back(std::make_unique<Buffer>());
    b.list.handle = nQVZOR220_tPageList_createFromAllocation(pages, flags);
    b.list.size = pages * sim::kLayerPageSize;
    b.bytes = sim::pageList(b.list.handle)->memory;
    for (uint64_t i = 0; i < b.list.size; ++i) b.bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return b;
  }
  void freeBuffers() {
    for (auto& b : buffers_) nQVZOR220_tPageList_destroy(b->list.handle);
    buffers_.clear();
  }

  // What a device reads at the segments, one after the other.
  template <class tMap>
  static std::vector<uint8_t> deviceView(tMap& map) {
    std::vector<uint8_t> bytes;
    map.resetSGLIterator();
    while (map.moreSGLSegments()) {
      tDMASegment const s = map.nextSGLSegment();
      uint8_t const* host = sim::physicalToHost(s.busAddress, s.size);
      EXPECT_NE(host, nullptr);
      if (host != nullptr) bytes.insert(bytes.end(), host, host + s.size);
    }
    return bytes;
  }

  std::shared_ptr<sim::PciDevice> function_;
  tPCIDescription description_{};
  tDMAConfiguration configuration_;
  Counts before_;
  std::vector<std::unique_ptr<Buffer>> buffers_;
};

}  // namespace dmatest
