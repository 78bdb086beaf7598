// The removal of a module under a request, as in the system tests, here
// under ThreadSanitizer too.
#include "support/switchDeviceScenario.h"

namespace {

TEST(SwitchDeviceRemoval, WaitsForTheRequestInsideWithoutDeadlockAndLeavesNothing) {
  testing_support::removeWhileARequestIsInside();
}

}  // namespace
