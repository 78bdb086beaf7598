// The registry of a device's register maps, as the register ioctls reach it.
#pragma once

#include "registers/dispatcher.h"
#include "registers/dynamicAccessInterface.h"

namespace armki {

using arm::tDynamicAccessInterface;
using nQVWENDS100::tStatus;
using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::nQVWEND000::tEventDescriptor;

// The most fields a register has, and the room the format arrays offer.
inline constexpr u32 kLargestFieldCount = 64;

// Deletes the registrations it still holds when destroyed, never the maps.
class ARMDispatcher
    : public qvregitools::Dispatcher<tDynamicAccessInterface, qvregitools::WrapperDispatcher> {
 public:
  ARMDispatcher() = default;
  ~ARMDispatcher() override = default;

  // The format of one register of the named map, under the map's mutex:
  // count fields, their types one byte each to userTypes and their masks
  // eight bytes each to userMasks. Nothing is copied when the map fails.
  void getRegisterFormat(tEventDescriptor const& context, void* userName, unsigned long nameSize,
                         u32 registerId, u32& count, void* userTypes, void* userMasks,
                         tStatus& status);
};

}  // namespace armki
