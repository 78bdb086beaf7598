// How far a device's setup has come. Every request names the level it needs
// and the setup-level gate refuses it below that level. The order is the
// order of the setup sequence; MustResetDevice sits just above None, so that
// a device left in an undefined state by a failed operation still admits
// what can set it up again, and nothing else.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver {

enum RM7DeviceSetupLevel : u32 {
  kSetupLevelNone = 0,
  kSetupLevelMustResetDevice = 1,
  kSetupLevelBARMapped = 2,
  kSetupLevelTMR9ObjectsBuilt = 3,
  kSetupLevelVexusSignatureChecked = 4,
  kSetupLevelFPGALoaded = 5,
  kSetupLevelRM7RegMapsBuilt = 6,
  kSetupLevelRM7ObjectsBuilt = 7,
  kSetupLevelCapabilitiesFound = 8,
  kSetupLevelModelControllersBuilt = 9,
  kSetupLevelComplete = 10,
};

// "None", "MustResetDevice", ..., "Complete"; "invalid" for any other value.
char const* setupLevelName(u32 level);

}  // namespace qvrm7_driver
