// Remote register access through the switched bridge port: a register of the
// port's far side (the isolation port, for the map built over this accessor)
// is written by loading the data register and starting a write in the
// configuration control register, and read by starting a read there, waiting
// until the access is done and taking the data register.
//
// The accessor works on the switched bridge port map's own records while its
// caller holds only the lock of the map built over the accessor; a register
// request on the switched bridge port map itself can interleave with a remote
// access, as any raw register access can disturb the hardware.
#pragma once

#include "registers/generated/vexusRegMaps.h"

namespace vexustools {

using qvrm7_driver::i32;
using tStatus = nQVWENDS100::tStatus;

class TMR9PortAccessor {
 public:
  using tSwitchedPort = tSwitchedVexusBimRegMapWithOffset<0u>;

  // The port of the far side and the access mode written with every access.
  TMR9PortAccessor(tSwitchedPort& switchedPort, i32 portNumber, u32 mode)
      : switchedPort_(&switchedPort), portNumber_(portNumber), mode_(mode) {}
  virtual ~TMR9PortAccessor() = default;
  TMR9PortAccessor(TMR9PortAccessor const&) = delete;
  TMR9PortAccessor& operator=(TMR9PortAccessor const&) = delete;

  virtual void write(u32 address, u32 value, tStatus& status);
  // The register's value; after a wait that timed out or a failed read, the
  // data register's last value, and 0xFFFFFFFF when the access could not
  // even be started.
  virtual u32 read(u32 address, tStatus& status);

 private:
  void start(bool write, u32 address, tStatus& status);

  tSwitchedPort* switchedPort_;
  i32 portNumber_;
  u32 mode_;
};

}  // namespace vexustools
