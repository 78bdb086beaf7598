// Status codes of the platform and of the driver. The driver's own codes are
// 32-bit error patterns with the top bit set; they are kept sign-extended so
// that the precedence rule sees them as errors, not warnings.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

constexpr i64 driverCode(u32 pattern) { return static_cast<i64>(static_cast<i32>(pattern)); }

enum : i64 {
  kStatusSuccess = 0,
  kStatusMemoryFull = -52000,
  kStatusLayerNoResources = -52001,
  kStatusNotSupported = -52002,
  kStatusNoMatch = -52003,
  kStatusBadArgument = -52005,
  kStatusNotAvailable = -52006,
  kStatusTimeout = -52007,
  kStatusLayerFailure = -52008,
  kStatusSessionClosing = -52009,
  kStatusLayer51104 = -52010,
  kStatusLayer51000 = -52013,
  kStatusSGLFailure = -52017,
  kStatusUnsupportedAccess = -52018,
  kStatusBufferTooSmall = -52019,
  kStatusLayer51300 = -52020,
  kStatusDeviceNotStarted = -52022,
  kStatusLayer51405 = -52023,
  kStatusLayer51401 = -52024,
  kStatusInterrupted = -52025,
  kStatusLayer51106 = -52031,
};

// Registrations, versions and storage maps.
enum : i64 {
  kStatusVersionTooOld = -240000,
  kStatusVersionNewer = 240000,  // a warning: the lookup succeeds
  kStatusVersionText = -240008,
  kStatusNotVersioned = -240022,
  kStatusVersionRequired = -240023,
  kStatusRegistrationNotFound = -240024,
  kStatusVersionRange = -240026,
  kStatusNullName = -240031,
  kStatusBuildTooLarge = -240046,
};

}  // namespace qvrm7_driver::nQVWEND000
