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
