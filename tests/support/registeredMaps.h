// Every register map a device registers, in registration order, with one
// register of each that a caller writes and where the simulated module
// keeps what reached it, and one register it reads.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "host/layer/rm7Module.h"

namespace testing_support {

struct RegisteredMap {
  char const* name;
  char const* version;
  uint32_t written;  // a whole-register ID
  std::function<uint32_t(sim::Rm7Module&)> landed;
  uint32_t read;
  std::string versioned() const { return std::string(name) + "_Ver" + version; }
};

inline RegisteredMap const kRegisteredMaps[] = {
    {"SwitchedVexusBimRegMap", "22.8.0f108", 0x80000698,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x698); }, 0x80000698},
    {"Vexus", "22.8.0f108", 0x8000005C,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x05C); }, 0xC0000000},
    {"VexusI2C", "22.8.0f108", 0x80000530,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x530); }, 0xC0000534},
    {"IsolationPortRegMap", "22.8.0f108", 0x80000004,
     [](sim::Rm7Module& m) { return m.vexus().isolationRegister(0x04); }, 0x80000004},
    {"VexusConfigPortWindow", "22.8.0f108", 0x800000E0,
     [](sim::Rm7Module& m) { return m.bridge().window(); }, 0x800000C0},
    {"VexusConfigPortSPI", "22.8.0f108", 0x80000004,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x584); }, 0x80000004},
    {"VexusConfigPortI2C", "22.8.0f108", 0x80000000,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x5A0); }, 0x80000000},
    {"DO", "200a13081315", 0x80000004,
     [](sim::Rm7Module& m) { return m.tmr9().registers().lastWritten(0x04); }, 0xC0000000},
    {"RM7BaseRegMap", "22.8.0f141", 0x8000000C,
     [](sim::Rm7Module& m) { return m.fpga().base().lastWritten(0x0C); }, 0x80000000},
    {"RM7ThreadRegisterMap", "22.8.0f141", 0x80000020,
     [](sim::Rm7Module& m) { return m.fpga().thread().lastWritten(0x20); }, 0x80000020},
    {"RM7SlotRegisterMap", "22.8.0f141", 0x80000030,
     [](sim::Rm7Module& m) { return m.fpga().slot().lastWritten(0x30); }, 0xC0000044},
    {"RM7SlotRamRegisterMap", "22.8.0f141", 0x80000000,
     [](sim::Rm7Module& m) { return m.fpga().slotRam().lastWritten(0x0); }, 0x80000000},
    {"HalcyonTmr9SourceStreams", "22.8.0f141", 0x80000000,
     [](sim::Rm7Module& m) { return m.fpga().sourceStreams().lastWritten(0x0); }, 0xC0000004},
};

}  // namespace testing_support
