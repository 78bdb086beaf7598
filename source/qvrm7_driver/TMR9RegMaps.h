// The register maps of the bridge chip and of the timing chip's digital
// outputs, built over the register BAR and registered by name: the first
// objects of a device's setup, and the last to go.
#pragma once

#include "platform/memorySpaceAccessor.h"
#include "registers/generated/isolationPortRegMap.h"
#include "registers/generated/tmr9RegMaps.h"
#include "registers/generated/vexusRegMaps.h"
#include "source/qvrm7_driver/mapRegistrations.h"

namespace qvrm7_driver {

class TMR9RegMaps {
  using tAccessor = nQVWEND000::tPCIMemorySpaceAccessorDebug<false>;
  using tSwitchedPort = vexustools::tSwitchedVexusBimRegMapWithOffset<0u>;

 public:
  // The isolation port's remote accesses work on two registers of the
  // switched bridge port's map, which user space may reach by that map's
  // name at the same time: both go under that map's registration mutex,
  // taken inside the isolation port's own.
  class tSerialisedPortAccessor : public vexustools::TMR9PortAccessor {
   public:
    using TMR9PortAccessor::TMR9PortAccessor;
    void write(u32 address, u32 value, nQVWEND000::tStatus& status) override;
    u32 read(u32 address, nQVWEND000::tStatus& status) override;
    // Null until the switched bridge port is registered: until then nothing
    // else can reach it.
    void setSwitchedPortMutex(nQVWEND000::tMutex* mutex) { switchedPortMutex_ = mutex; }

   private:
    nQVWEND000::tMutex* switchedPortMutex_ = nullptr;
  };

  // Builds every map; then, only while the status is clean, reads the
  // configuration ports' selection, leaves the two digital-output shadows to
  // be written later, and registers the maps in order.
  TMR9RegMaps(u64 mappedBAR, armki::ARMDispatcher& dispatcher, nQVWEND000::tStatus& status);
  // Removes the registrations, last first; the maps end with the object.
  ~TMR9RegMaps();
  TMR9RegMaps(TMR9RegMaps const&) = delete;
  TMR9RegMaps& operator=(TMR9RegMaps const&) = delete;

  // The bridge chip's signature, which the setup checks before it goes on.
  vexustools::tVexusWithOffset<0u>::tSignature& vexusSignature() {
    return core_.recordFor<kSignatureId>();
  }

 private:
  static constexpr u32 kRegistrations = 8;
  static constexpr u32 kSignatureId = 0xC0000000;

  armki::ARMDispatcher& dispatcher_;
  tAccessor switchedPortAccessor_;
  tAccessor coreAccessor_;
  tAccessor i2cAccessor_;
  tAccessor windowAccessor_;
  tAccessor spiAccessor_;
  tAccessor configPortI2CAccessor_;
  tAccessor digitalOutputAccessor_;
  tSwitchedPort switchedPort_;
  tSerialisedPortAccessor isolationPortAccessor_;
  vexustools::tVexusWithOffset<0u> core_;
  vexustools::tVexusI2CWithOffset<0u> i2c_;
  vexustools::tIsolationPortRegMapWithOffset<0u> isolationPort_;
  vexustools::tVexusConfigPortWindowWithOffset<0u> window_;
  vexustools::tVexusConfigPortSPIWithOffset<0u> spi_;
  vexustools::tVexusConfigPortI2CWithOffset<0u> configPortI2C_;
  tmr9_regmaps::tDO digitalOutput_;
  tMapRegistration registrations_[kRegistrations];
};

}  // namespace qvrm7_driver
