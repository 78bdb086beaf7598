#include "source/qvrm7_driver/RM7RegMaps.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

// Offsets in the register BAR and sizes of the blocks.
constexpr u64 kBaseOffset = 0x22000;
constexpr u64 kBaseSize = 0xF0;
constexpr u64 kThreadOffset = 0x24000;
constexpr u64 kThreadSize = 0x2C;
constexpr u64 kSlotOffset = 0x26000;
constexpr u64 kSlotSize = 0x104;
constexpr u64 kSlotRamOffset = 0x27000;
constexpr u64 kSlotRamSize = 0x2000;
constexpr u64 kSourceStreamsOffset = 0x22100;
constexpr u64 kSourceStreamsSize = 8;

constexpr u32 kWholeWindow = 0xFFFFFFFFu;

}  // namespace

RM7RegMaps::RM7RegMaps(u64 mappedBAR, armki::ARMDispatcher& dispatcher, tStatus& status)
    : dispatcher_(dispatcher),
      baseAccessor_{mappedBAR + kBaseOffset, kBaseSize},
      threadAccessor_{mappedBAR + kThreadOffset, kThreadSize},
      slotAccessor_{mappedBAR + kSlotOffset, kSlotSize},
      slotRamAccessor_{mappedBAR + kSlotRamOffset, kSlotRamSize},
      sourceStreamsAccessor_{mappedBAR + kSourceStreamsOffset, kSourceStreamsSize},
      base_(&baseAccessor_, 0, 0, kWholeWindow),
      thread_(&threadAccessor_, 0, 0, kWholeWindow),
      slot_(&slotAccessor_, 0, 0, kWholeWindow),
      slotRam_(&slotRamAccessor_, 0, 0, kWholeWindow),
      sourceStreams_(&sourceStreamsAccessor_, 0, 0, kWholeWindow),
      registrations_{{"RM7BaseRegMap", &base_},
                     {"RM7ThreadRegisterMap", &thread_},
                     {"RM7SlotRegisterMap", &slot_},
                     {"RM7SlotRamRegisterMap", &slotRam_},
                     {"HalcyonTmr9SourceStreams", &sourceStreams_}} {
  registerMaps(dispatcher_, registrations_, status);
}

RM7RegMaps::~RM7RegMaps() { removeRegistrations(dispatcher_, registrations_); }

}  // namespace qvrm7_driver
