// DMA tests run over a PCI function on the simulated bus, whose description a
// DMA configuration points at, and check that whatever a case allocated from
// the layer went back.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "host/layer/control.h"
#include "host/layer/dma/dma.h"
#include "host/layer/pci.h"
#include "pciTestDevice.h"
#include "platform/dma/dmaMap.h"
#include "platform/dma/vexusRegisters.h"

namespace dmatest {

using namespace pcitest;

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
    record_.mappedAddress = nQVZOR230_mapPhysicalToKernel(bar().physicalAddress(), 0x1000, 0);
    ASSERT_NE(record_.mappedAddress, 0u);
    before_ = counts();
  }
  void TearDown() override {
    dropBuffers();
    EXPECT_EQ(counts(), before_);
    nQVZOR230_unmapPhysicalFromKernel(record_.mappedAddress, 0);
    sim::unplug(*function_);
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    sim::reset();
  }
  sim::Bar& bar() { return function_->bar(0); }
  static std::vector<uint64_t> counts() {
    return {sim::liveAllocations(), sim::livePageLists(), sim::liveScatterGathers()};
  }

  // Pages holding a byte pattern, given back with the fixture.
  struct Buffer {
    tPageList list{};
    uint8_t* bytes = nullptr;
  };
  Buffer& buffer(uint64_t pages) {
    Buffer& b = buffers_.emplace_back();
    b.list = {pages * sim::kLayerPageSize, 0, nQVZOR220_tPageList_createFromAllocation(pages, 0)};
    b.bytes = sim::pageList(b.list.handle)->memory;
    for (uint64_t i = 0; i < b.list.size; ++i) b.bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return b;
  }
  // Gives back every buffer so far, so that a later one may take the same
  // physical pages without two live lists answering for one address.
  void dropBuffers() {
    for (Buffer& b : buffers_) nQVZOR220_tPageList_destroy(b.list.handle);
    buffers_.clear();
  }

  // The bytes at the map's segments as the device reaches them, one after
  // the other; with write, the device first fills them.
  static std::vector<uint8_t> deviceView(tDMAMapCore& map, bool write = false) {
    std::vector<uint8_t> bytes;
    for (map.resetSGLIterator(); map.moreSGLSegments();) {
      tDMASegment const s = map.nextSGLSegment();
      uint8_t* host = sim::physicalToHost(s.busAddress, s.size);
      if (host == nullptr) ADD_FAILURE() << "a segment outside DMA memory";
      for (uint64_t i = 0; host != nullptr && i < s.size; ++i) {
        if (write) host[i] = static_cast<uint8_t>(0xA0 + bytes.size() % 50);
        bytes.push_back(host[i]);
      }
    }
    return bytes;
  }

  std::shared_ptr<sim::PciDevice> function_;
  tPCIDescription description_{};
  tDMAConfiguration configuration_;
  tVexusRegisterRecord record_{};  // the chip's registers: BAR 0 mapped
  std::vector<uint64_t> before_;
  std::deque<Buffer> buffers_;  // stable: a map keeps its list's address
};

}  // namespace dmatest
