// A device whose IO gate passes, as a started device's does, for measuring
// the gate alone.
#pragma once

#include "platform/deviceCore.h"

namespace bench {

class GateDevice : public qvrm7_driver::nQVWEND000::tDevice {
 public:
  using tStatus = qvrm7_driver::nQVWEND000::tStatus;
  explicit GateDevice(tStatus& status) : tDevice(status) {
    setIOGateState(qvrm7_driver::nQVWEND000::kIOGatePass, false);
  }
  void initializeDevice(qvrm7_driver::nQVWEND000::tEventDescriptor const&, tStatus&) override {}
  void busHook() override {}
  void fillPCIProperties() override {}
  qvrm7_driver::nQVWEND000::tPropertyList getBusProperties() override { return nullptr; }
};

}  // namespace bench
