// The registers of the RM7 FPGA's blocks, by offset, as the bus sees them.
#include "host/layer/fpga/rm7Fpga.h"

namespace sim {

namespace {

constexpr FpgaAccess R = FpgaAccess::ReadOnly;
constexpr FpgaAccess W = FpgaAccess::WriteOnly;
constexpr FpgaAccess RW = FpgaAccess::ReadWrite;

std::vector<FpgaRegister> baseRegisters() {
  // The signature reads the same whatever is written to it.
  std::vector<FpgaRegister> r = {{0x00, FpgaAccess::Split, 0, Rm7Fpga::kSignature},
                                 {0x04, R},
                                 {0x08, R},
                                 {0x0C, RW},
                                 {0x10, R},
                                 {0x14, R},
                                 {0x18, R},
                                 {0x1C, W},
                                 {0x20, W},
                                 {0x24, R},
                                 {0x28, RW},
                                 {0x2C, RW},
                                 {0x30, RW},
                                 {0x34, R},
                                 {0x38, W},
                                 {0x3C, R},
                                 {0x40, RW},
                                 {0x44, RW},
                                 {0x48, RW},
                                 {0x4C, RW},
                                 {0x60, W},
                                 {0x64, W},
                                 {0x68, R},
                                 {0x70, RW, 0x0000001F},
                                 {0x74, R},
                                 {0x78, R},
                                 {0x7C, RW, 0x80000004},
                                 {0x80, RW},
                                 {0x84, W},
                                 {0x88, R}};
  for (uint32_t trigger = 0xC8; trigger <= 0xEC; trigger += 4) r.push_back({trigger, RW});
  return r;
}

std::vector<FpgaRegister> threadRegisters() {
  return {{0x00, RW, 0x030B0000},
          {0x04, R},
          {0x08, R},
          {0x10, R},
          {0x14, R},
          {0x20, RW},
          {0x24, RW},
          {0x28, RW}};
}

std::vector<FpgaRegister> slotRegisters() {
  return {{0x00, RW, 0x03421820},
          {0x04, W},
          {0x08, W},
          {0x0C, W},
          {0x1C, W},
          {0x20, W},
          {0x24, W},
          {0x28, R},
          {0x2C, W},
          {0x30, RW},
          {0x34, RW},
          {0x40, W},
          {0x44, R},
          {0x50, RW},
          {0x100, W}};
}

// The command FIFO's data register takes words; the control register and
// the FIFO status share the next offset.
std::vector<FpgaRegister> sourceStreamRegisters() { return {{0x0, W}, {0x4, FpgaAccess::Split}}; }

// 512 relay-state words, a gap, 1024 relay-count words: plain RAM.
std::vector<FpgaRegister> slotRamRegisters() {
  std::vector<FpgaRegister> r;
  for (uint32_t offset = 0; offset < 0x800; offset += 4) r.push_back({offset, RW});
  for (uint32_t offset = 0x1000; offset < 0x2000; offset += 4) r.push_back({offset, RW});
  return r;
}

}  // namespace

Rm7Fpga::Rm7Fpga(std::shared_ptr<Bar> bar0)
    : base_(bar0, kBaseBlock, kBaseSize, baseRegisters()),
      sourceStreams_(bar0, kSourceStreamBlock, kSourceStreamSize, sourceStreamRegisters()),
      thread_(bar0, kThreadBlock, kThreadSize, threadRegisters()),
      slot_(bar0, kSlotBlock, kSlotSize, slotRegisters()),
      slotRam_(bar0, kSlotRamBlock, kSlotRamSize, slotRamRegisters()) {}

}  // namespace sim
