#include "source/qvrm7_driver/TMR9RegMaps.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

// Block offsets in the register BAR and sizes.
constexpr u64 kSwitchedPortSize = 0x704;
constexpr u64 kCoreSize = 0x518;
constexpr u64 kI2CSize = 0x538;
constexpr u64 kWindowSize = 0xE4;
constexpr u64 kSPIOffset = 0x580;
constexpr u64 kSPISize = 0x10;
constexpr u64 kConfigPortI2COffset = 0x5A0;
constexpr u64 kConfigPortI2CSize = 0x4;
constexpr u64 kDigitalOutputOffset = 0x204AC;
constexpr u64 kDigitalOutputSize = 0x32;

// The isolation port as the switched bridge port reaches it.
constexpr i32 kIsolationPortNumber = 0;
constexpr u32 kIsolationPortMode = 3;

constexpr u32 kWholeWindow = 0xFFFFFFFFu;

// What the digital outputs are to be once they are first written.
constexpr u32 kDirectionAtStart = 0xBF;
constexpr u32 kStaticOutputAtStart = 0x16;

constexpr u32 kPortsModeId = 0x80000514;
constexpr u32 kActivePortId = 0x80000510;
constexpr u32 kDirectionId = 0x80000008;
constexpr u32 kStaticOutputId = 0x80000004;

template <class Record>
void leaveDirty(Record& record, u32 value) {
  record.shadow = value;
  record.dirty = true;
}

}  // namespace

void TMR9RegMaps::tSerialisedPortAccessor::write(u32 address, u32 value, tStatus& status) {
  if (switchedPortMutex_ == nullptr) return TMR9PortAccessor::write(address, value, status);
  tMutexGuard guard(*switchedPortMutex_);
  TMR9PortAccessor::write(address, value, status);
}

u32 TMR9RegMaps::tSerialisedPortAccessor::read(u32 address, tStatus& status) {
  if (switchedPortMutex_ == nullptr) return TMR9PortAccessor::read(address, status);
  tMutexGuard guard(*switchedPortMutex_);
  return TMR9PortAccessor::read(address, status);
}

TMR9RegMaps::TMR9RegMaps(u64 mappedBAR, armki::ARMDispatcher& dispatcher, tStatus& status)
    : dispatcher_(dispatcher),
      switchedPortAccessor_{mappedBAR, kSwitchedPortSize},
      coreAccessor_{mappedBAR, kCoreSize},
      i2cAccessor_{mappedBAR, kI2CSize},
      windowAccessor_{mappedBAR, kWindowSize},
      spiAccessor_{mappedBAR + kSPIOffset, kSPISize},
      configPortI2CAccessor_{mappedBAR + kConfigPortI2COffset, kConfigPortI2CSize},
      digitalOutputAccessor_{mappedBAR + kDigitalOutputOffset, kDigitalOutputSize},
      switchedPort_(&switchedPortAccessor_),
      isolationPortAccessor_(switchedPort_, kIsolationPortNumber, kIsolationPortMode),
      core_(&coreAccessor_),
      i2c_(&i2cAccessor_),
      isolationPort_(&isolationPortAccessor_),
      window_(&windowAccessor_),
      spi_(&spiAccessor_),
      configPortI2C_(&configPortI2CAccessor_),
      digitalOutput_(&digitalOutputAccessor_, 0, 0, kWholeWindow),
      registrations_{{"SwitchedVexusBimRegMap", &switchedPort_},
                     {"Vexus", &core_},
                     {"VexusI2C", &i2c_},
                     {"IsolationPortRegMap", &isolationPort_},
                     {"VexusConfigPortWindow", &window_},
                     {"VexusConfigPortSPI", &spi_},
                     {"VexusConfigPortI2C", &configPortI2C_},
                     {"DO", &digitalOutput_}} {
  if (status.isFatal()) return;
  core_.recordFor<kPortsModeId>().refresh(status);
  core_.recordFor<kActivePortId>().refresh(status);
  leaveDirty(digitalOutput_.recordFor<kDirectionId>(), kDirectionAtStart);
  leaveDirty(digitalOutput_.recordFor<kStaticOutputId>(), kStaticOutputAtStart);
  registerMaps(dispatcher_, registrations_, status);
  isolationPortAccessor_.setSwitchedPortMutex(
      registrationMutex(dispatcher_, registrations_[0], status));
}

TMR9RegMaps::~TMR9RegMaps() { removeRegistrations(dispatcher_, registrations_); }

}  // namespace qvrm7_driver
