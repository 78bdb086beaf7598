// Remote accesses through the switched bridge port.
#include "storage/tmr9PortAccessor.h"

#include "platform/statusCodes.h"
#include "registers/pollTargets.h"

namespace vexustools {

namespace {

using qvrm7_driver::nQVWEND000::driverCode;
using tSwitchedPort = TMR9PortAccessor::tSwitchedPort;
using tControl = tSwitchedPort::tConfigControlReg;

constexpr u32 kControlId = 0x80000688;  // the configuration control register
constexpr u32 kDataId = 0x8000068C;
constexpr u32 kDoneBit = 1u << 2;
constexpr unsigned long kReadTimeoutMicroseconds = 100000;

using tPortPoller = atut::tRegisterPoller<tControl>;
constexpr tPortPoller kReadPoller{10, 100, static_cast<i32>(driverCode(0xBFFA807D)), nullptr};

}  // namespace

// The data register is written every time, even with the value it was last
// given: after a read whose wait timed out, the hardware may still have put
// that read's result there, and skipping an "unchanged" value would send the
// late result instead of the caller's.
void TMR9PortAccessor::write(u32 address, u32 value, tStatus& status) {
  if (status.isFatal()) return;
  switchedPort_->recordFor<kDataId>().writeRegister(value, status, true);
  start(true, address, status);
}

u32 TMR9PortAccessor::read(u32 address, tStatus& status) {
  if (status.isFatal()) return 0xFFFFFFFFu;
  start(false, address, status);
  if (status.isFatal()) return 0xFFFFFFFFu;
  kReadPoller.poll(switchedPort_->recordFor<kControlId>(), &tControl::readRegister, 0, kDoneBit,
                   kReadTimeoutMicroseconds, true, atut::kPollAnyBitSet, status);
  return switchedPort_->recordFor<kDataId>().readRegister(status);
}

// The command is built from a cleared shadow, so it is always written: a
// command equal to what the last wait read back must still start an access.
void TMR9PortAccessor::start(bool write, u32 address, tStatus& status) {
  tControl& control = switchedPort_->recordFor<kControlId>();
  control.set(0);
  control.setField<0>(write);
  control.setField<1>(!write);
  control.setField<8>(static_cast<u8>(mode_));
  control.setField<20>(static_cast<u8>(portNumber_));
  control.setField<24>(static_cast<u8>(address));
  control.flush(status, false);
}

}  // namespace vexustools
