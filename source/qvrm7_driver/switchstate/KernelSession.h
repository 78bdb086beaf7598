// One open of the switch device's interface. A session belongs to the setup
// that was in force when it was opened: once the device is set up again its
// reset count moves on and the session is stale until user space reopens.
#pragma once

#include "platform/session.h"
#include "source/qvrm7_driver/switchstate/SwitchStateBuffer.h"

namespace sass {

using qvrm7_driver::nQVWEND000::tDeviceInterface;
using qvrm7_driver::nQVWEND000::tSession;

class KernelSession : public tSession {
 public:
  KernelSession(tDeviceInterface* deviceInterface, u32 resetCount, tStatus& status);
  ~KernelSession() override;

  bool isValid(u32 deviceResetCount) const { return resetCount_ == deviceResetCount; }
  SwitchStateBuffer& switchStateBuffer() { return switchStateBuffer_; }

 private:
  u32 resetCount_;
  SwitchStateBuffer switchStateBuffer_;
};

}  // namespace sass
