// The registers the driver waits on, each with the one time policy its waits
// use: the FPGA's status registers are spun on against the nanosecond counter,
// except the sub-card flash control, which is slept on; the bridge chip's
// registers are slept on, its I2C status against the nanosecond counter and
// the others against the kernel tick. A wait takes its register's poller from
// here, so it cannot spin where the register is to be slept on or measure on
// the other clock, and every pairing is built once, in the poller's source.
// Kept apart from the poller itself, which the bridge port's remote access
// (and so the isolation port's map below) is built on.
#pragma once

#include "platform/timing.h"
#include "registers/generated/HalcyonTmr9SourceStreams.h"
#include "registers/generated/RM7BaseRegMap.h"
#include "registers/generated/RM7SlotRegisterMap.h"
#include "registers/generated/RM7ThreadRegisterMap.h"
#include "registers/generated/isolationPortRegMap.h"
#include "registers/generated/vexusRegMaps.h"
#include "registers/poller.h"

// Each row: a register polled through its own readRegister, the waiter and
// the time base of its polls.
#define QVRM7_POLLED_REGISTERS(ROW)                                                                \
  ROW(qvrm7_driver::tRM7BaseRegMap::tImmediateErrorStatusReg, tTimeWasterSpin, tTimebasePrecise)   \
  ROW(qvrm7_driver::tRM7BaseRegMap::tSelfTestStatusReg, tTimeWasterSpin, tTimebasePrecise)         \
  ROW(qvrm7_driver::tHalcyonTmr9SourceStreams::tCommandFifoStatus, tTimeWasterSpin,                \
      tTimebasePrecise)                                                                            \
  ROW(qvrm7_driver::tRM7ThreadRegisterMap::tCommandThreadConfigStatusReg, tTimeWasterSpin,         \
      tTimebasePrecise)                                                                            \
  ROW(qvrm7_driver::tRM7BaseRegMap::tFlashSwResultsReg, tTimeWasterSpin, tTimebasePrecise)         \
  ROW(qvrm7_driver::tRM7BaseRegMap::tSubCardFlashControlReg, tTimeWasterSleep, tTimebasePrecise)   \
  ROW(qvrm7_driver::tRM7BaseRegMap::tRelayCountConfigStatusReg, tTimeWasterSpin, tTimebasePrecise) \
  ROW(qvrm7_driver::tRM7SlotRegisterMap::tSlotConfigStatusReg, tTimeWasterSpin, tTimebasePrecise)  \
  ROW(vexustools::tVexusWithOffset<0u>::tFPGALoadStatusRegister, tTimeWasterSleep,                 \
      tTimebaseEfficient)                                                                          \
  ROW(vexustools::tVexusI2CWithOffset<0u>::tI2CReadDataStatusRegister, tTimeWasterSleep,           \
      tTimebasePrecise)                                                                            \
  ROW(vexustools::tIsolationPortRegMapWithOffset<0u>::tIsolationPortControlStatusRegister,         \
      tTimeWasterSleep, tTimebaseEfficient)                                                        \
  ROW(vexustools::tSwitchedVexusBimRegMapWithOffset<0u>::tConfigControlReg, tTimeWasterSleep,      \
      tTimebaseEfficient)

namespace atut {

// Only the registers of the table have one.
template <class Register>
struct RegisterTimePolicy;

#define QVRM7_REGISTER_TIME_POLICY(Register, Waiter, Timebase)                           \
  template <>                                                                            \
  struct RegisterTimePolicy<Register> {                                                  \
    using type = qvrm7_driver::nQVWEND000::tTimeout<qvrm7_driver::nQVWEND000::Waiter,    \
                                                    qvrm7_driver::nQVWEND000::Timebase>; \
  };
QVRM7_POLLED_REGISTERS(QVRM7_REGISTER_TIME_POLICY)
#undef QVRM7_REGISTER_TIME_POLICY

template <class Register>
using tRegisterTimeout = typename RegisterTimePolicy<Register>::type;
// The poller of a register's waits, read through the register's readRegister.
template <class Register>
using tRegisterPoller = Poller<tRegisterTimeout<Register>>;
template <class Register>
using tRegisterReader = unsigned int (Register::*)(tStatus&);

// The poll of one register of the table; poller.cpp defines each one.
#define QVRM7_REGISTER_POLL(Register, Waiter, Timebase)                                          \
  template void tRegisterPoller<Register>::poll(Register&, tRegisterReader<Register>,            \
                                                unsigned int, unsigned int, unsigned long, bool, \
                                                PollCondition, tStatus&) const;
#define QVRM7_EXTERN_REGISTER_POLL(Register, Waiter, Timebase) \
  extern QVRM7_REGISTER_POLL(Register, Waiter, Timebase)
QVRM7_POLLED_REGISTERS(QVRM7_EXTERN_REGISTER_POLL)
#undef QVRM7_EXTERN_REGISTER_POLL

}  // namespace atut
