// The switch device's own status codes, kept sign-extended (see driverCode)
// so that the precedence rule sees them as errors.
#pragma once

#include "platform/statusCodes.h"

namespace qvrm7_driver {

using nQVWEND000::driverCode;

enum : i64 {
  // A switch-state buffer mapped before it was allocated.
  kStatusSwitchStateBufferMissing = driverCode(0xBFFA5012),
  // A map larger than the switch-state buffer.
  kStatusSwitchStateMapTooLarge = driverCode(0xBFFA5013),
  // A map that does not ask for the switch-state buffer.
  kStatusSwitchStateMapSelector = driverCode(0xBFFA5014),
  // A session opened before the device's last re-setup.
  kStatusStaleSession = driverCode(0xBFFA9179),
};

}  // namespace qvrm7_driver
