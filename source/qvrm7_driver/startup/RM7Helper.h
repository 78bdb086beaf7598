// The switch device's setup: everything the device builds over its register
// BAR lives in one helper, made by start and resume and ended by stop and
// suspend, so that a re-setup is one destruction and one construction.
#pragma once

#include "platform/status.h"
#include "source/qvrm7_driver/startup/RM7DeviceSetupLevel.h"

namespace armki {
class ARMDispatcher;
}

namespace qvrm7_driver {

class CommandFIFOController;
class RM7Device;
class RM7RegMaps;
class TemperatureMeasurementController;
class TMR9RegMaps;

class RM7Helper {
 public:
  // The BAR that holds every register block, mapped uncached.
  static constexpr u8 kRegisterBAR = 0;
  static constexpr u32 kRegisterBARMode = 0;

  // Runs the setup sequence: each step only while the status is clean, and
  // each level reached recorded in the device: the BAR, the register
  // dispatcher, the bridge and timing chips' maps, the bridge chip's
  // signature, the FPGA's maps, the FPGA's signature, the controllers.
  RM7Helper(RM7Device& device, nQVWEND000::tStatus& status);
  // Ends what the setup built, last first.
  ~RM7Helper();
  RM7Helper(RM7Helper const&) = delete;
  RM7Helper& operator=(RM7Helper const&) = delete;

  // Exists from the level TMR9ObjectsBuilt on.
  armki::ARMDispatcher& registerDispatcher() const { return *dispatcher_; }
  // Exists from the level RM7ObjectsBuilt on.
  CommandFIFOController& commandFIFO() const { return *commandFIFO_; }

 private:
  void reach(RM7DeviceSetupLevel level);
  void buildControllers(nQVWEND000::tStatus& status);

  RM7Device& device_;
  u64 registerBAR_;
  armki::ARMDispatcher* dispatcher_;
  TMR9RegMaps* tmr9RegMaps_;
  RM7RegMaps* rm7RegMaps_;
  CommandFIFOController* commandFIFO_;
  TemperatureMeasurementController* temperature_;
};

}  // namespace qvrm7_driver
