// The bridge chip's directly decoded registers and its switched bridge port.
#include "host/layer/chips/vexusChip.h"

#include <map>

namespace sim {

namespace {

constexpr uint32_t kWriteBit = 1u << 0;
constexpr uint32_t kReadBit = 1u << 1;
constexpr uint32_t kDoneBit = 1u << 2;
constexpr uint32_t kIsolationMode = 3;
constexpr uint32_t kIsolationPort = 0;

std::vector<ChipRegister> vexusRegisters() {
  auto r = [](uint32_t offset, uint32_t reset = 0) {
    return ChipRegister{offset, 4, 0, false, reset};
  };
  auto w = [](uint32_t offset) { return ChipRegister{offset, 0, 4, false}; };
  auto rw = [](uint32_t offset) { return ChipRegister{offset, 4, 4, true}; };
  return {// Core block; 0xC0 and 0xE0 are the window model's.
          r(VexusChip::kSignatureRegister, VexusChip::kSignature),
          r(0x00C),
          r(0x01C),
          rw(0x058),
          rw(0x05C),
          rw(0x0A4),
          w(0x440),
          rw(0x444),
          r(0x448),
          rw(0x450),
          rw(0x458),
          {VexusChip::kLoadingData, 0, 1, false, 0, true},
          rw(VexusChip::kActivePort),
          rw(VexusChip::kPortsMode),
          // I2C master.
          w(0x530),
          r(0x534),
          // Configuration port: SPI, then I2C.
          rw(0x580),
          rw(0x584),
          rw(0x588),
          rw(0x58C),
          rw(0x5A0),
          // Switched bridge port.
          r(0x600),
          rw(0x604),
          rw(0x644),
          w(0x680),
          rw(VexusChip::kConfigControl),
          rw(VexusChip::kRemoteData),
          r(0x694),
          rw(0x698),
          rw(0x6A4),
          r(0x700)};
}

}  // namespace

// The control register's bit 2 is kept in its read value, so that what a
// test sets there is what reads give.
struct VexusChip::Remote {
  std::map<uint8_t, uint32_t> isolation{{0x00, 0},
                                        {kIsolationControlStatus, kIsolationControlStatusReset},
                                        {kIsolationReadOnly, 0},
                                        {kIsolationTxPhaseControl, 0}};
  std::optional<unsigned> completionReads = 0;
  bool readPending = false;
  uint8_t address = 0;
  unsigned readsLeft = 0;
  AccessLog log;

  void note(bool write, uint32_t value) { log.note({write, address, 4, value}, false); }

  static void setDone(RegisterFile& file, bool done) {
    uint32_t const control = file.readValue(kConfigControl) & ~kDoneBit;
    file.setReadValue(kConfigControl, control | (done ? kDoneBit : 0));
  }

  void completeRead(RegisterFile& file) {
    file.setReadValue(kRemoteData, isolation[address]);
    readPending = false;
    setDone(file, true);
    note(false, isolation[address]);
  }

  void start(RegisterFile& file, uint32_t control) {
    readPending = false;
    setDone(file, false);
    bool const reachesIsolation =
        ((control >> 8) & 7) == kIsolationMode && ((control >> 20) & 0xF) == kIsolationPort;
    address = static_cast<uint8_t>(control >> 24);
    if (!reachesIsolation) return;
    if ((control & kWriteBit) != 0 && (control & kReadBit) == 0) {
      uint32_t const value = file.readValue(kRemoteData);
      if (address == kIsolationTxPhaseControl)
        isolation[address] = value & ~3u;
      else if (address != kIsolationReadOnly)
        isolation[address] = value;
      note(true, value);
      setDone(file, true);
    } else if ((control & kReadBit) != 0 && (control & kWriteBit) == 0) {
      readPending = true;
      readsLeft = completionReads.value_or(0);
    }
  }

  uint32_t readControl(RegisterFile& file) {
    if (readPending && completionReads) {
      if (readsLeft == 0)
        completeRead(file);
      else
        --readsLeft;
    }
    return file.readValue(kConfigControl);
  }
};

VexusChip::VexusChip(std::shared_ptr<Bar> bar0)
    : block_(std::move(bar0), 0, vexusRegisters()), remote_(std::make_shared<Remote>()) {
  std::shared_ptr<Remote> remote = remote_;
  block_.onWrite(kConfigControl, [remote](RegisterFile& file, uint32_t, uint32_t value) {
    remote->start(file, value);
  });
  block_.onRead(kConfigControl,
                [remote](RegisterFile& file, uint32_t) { return remote->readControl(file); });
}

uint32_t VexusChip::isolationRegister(uint8_t address) const {
  return block_.locked([&](RegisterFile&) {
    auto found = remote_->isolation.find(address);
    return found == remote_->isolation.end() ? 0u : found->second;
  });
}

void VexusChip::setIsolationRegister(uint8_t address, uint32_t value) {
  block_.locked([&](RegisterFile&) { remote_->isolation[address] = value; });
}

void VexusChip::setReadCompletion(std::optional<unsigned> pendingReads) {
  block_.locked([&](RegisterFile&) { remote_->completionReads = pendingReads; });
}

bool VexusChip::completeRead() {
  return block_.locked([&](RegisterFile& file) {
    if (!remote_->readPending) return false;
    remote_->completeRead(file);
    return true;
  });
}

std::vector<ChipAccess> VexusChip::remoteLog() const {
  return block_.locked([&](RegisterFile&) { return remote_->log.log(); });
}

void VexusChip::clearRemoteLog() {
  block_.locked([&](RegisterFile&) { remote_->log.clear(); });
}

}  // namespace sim
