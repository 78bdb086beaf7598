// The bridge chip's registers that BAR 0 decodes directly, beside its window
// registers (which stay the window model's): the core block with the
// signature, the FPGA-loading port and the configuration-port registers, the
// I2C master, the configuration port's SPI and I2C forms, and the switched
// bridge port with its remote access to the isolation port.
//
// Remote access: a write of the configuration control register (0x688) with
// bit 0 set, mode 3 in bits 8-10 and port 0 in bits 20-23 copies the data
// register (0x68C) into the isolation port's register whose address is in
// bits 24-31 of the value; with bit 1 set instead, the access copies that register into the
// data register when it completes. Bit 2 of the control register reads 1 once
// the access is complete: a write completes at once, a read after a set
// number of reads of the control register, or never (a test may then complete
// it late). Any other mode or port reaches nothing and never completes.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "host/layer/chips/registerBlock.h"

namespace sim {

class VexusChip {
 public:
  static constexpr uint32_t kSignature = 0xC0107AD0;
  static constexpr uint32_t kSignatureRegister = 0x000;
  static constexpr uint32_t kLoadingData = 0x460;  // 8-bit writes, or 64-bit plain stores
  static constexpr uint32_t kActivePort = 0x510;
  static constexpr uint32_t kPortsMode = 0x514;
  static constexpr uint32_t kConfigControl = 0x688;
  static constexpr uint32_t kRemoteData = 0x68C;
  // The isolation port's registers (remote addresses).
  static constexpr uint8_t kIsolationControlStatus = 0x04;
  static constexpr uint8_t kIsolationReadOnly = 0x14;
  static constexpr uint8_t kIsolationTxPhaseControl = 0x18;  // bits 0-1 clear themselves
  static constexpr uint32_t kIsolationControlStatusReset = 0x0F000203;

  explicit VexusChip(std::shared_ptr<Bar> bar0);

  RegisterBlock& registers() { return block_; }
  RegisterBlock const& registers() const { return block_; }

  // The last 64-bit word stored at the loading data register: plain stores
  // bypass the register access, so this is the BAR's memory there.
  uint64_t loadingData64() const { return block_.bar().load64(kLoadingData); }

  uint32_t isolationRegister(uint8_t address) const;
  void setIsolationRegister(uint8_t address, uint32_t value);
  // Reads of the control register that still see a read access pending;
  // nullopt: a read access never completes by itself.
  void setReadCompletion(std::optional<unsigned> pendingReads);
  // Completes a pending read access now; false when none is pending.
  bool completeRead();
  // The accesses that reached the isolation port, at its addresses, as a
  // register block logs them (at most AccessLog::kCapacity are kept).
  std::vector<ChipAccess> remoteLog() const;
  void clearRemoteLog();

 private:
  struct Remote;
  RegisterBlock block_;
  std::shared_ptr<Remote> remote_;  // used only under the block's lock
};

}  // namespace sim
