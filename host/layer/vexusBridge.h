// Model of the bridge chip's address window on BAR 0. The chip has an
// internal address space larger than the part of BAR 0 it decodes directly;
// the context register places a window of 2^shift bytes at a BAR offset and
// opens it, and the window register selects which part of the internal
// space the window shows. The capability directory and structures live in
// that internal space.
#pragma once

#include <cstdint>
#include <memory>

#include "host/layer/pci.h"

namespace sim {

class VexusBridge {
 public:
  static constexpr uint64_t kContextRegister = 0xC0;  // BAR offsets, decoded directly
  static constexpr uint64_t kWindowRegister = 0xE0;
  // Context register: bits 8-31 the window's BAR offset, bit 7 open, bits
  // 0-4 the window size as a shift; bits 5 and 6 read as 0.
  static constexpr uint32_t kContextOpen = 0x80;
  static constexpr uint32_t kContextWritable = 0xFFFFFF9Fu;

  VexusBridge(std::shared_ptr<Bar> bar0, uint32_t context);
  ~VexusBridge();  // the BAR decodes nothing of the chip afterwards
  VexusBridge(VexusBridge const&) = delete;
  VexusBridge& operator=(VexusBridge const&) = delete;

  uint32_t context() const;
  uint32_t window() const;

  // The internal space, byte-addressed and little-endian, wrapping at 2^32;
  // what was never written reads as 0. The window reaches the same bytes.
  uint32_t chipRead(uint32_t address, unsigned width) const;
  void chipWrite(uint32_t address, unsigned width, uint32_t value);

  struct State;

 private:
  std::shared_ptr<Bar> bar_;
  std::shared_ptr<State> state_;
};

}  // namespace sim
