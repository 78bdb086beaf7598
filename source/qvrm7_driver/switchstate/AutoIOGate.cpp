#include "source/qvrm7_driver/switchstate/AutoIOGate.h"

#include "platform/debugPrint.h"
#include "platform/statusCodes.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/driverCodes.h"
#include "source/qvrm7_driver/startup/RM7DeviceSetupLevel.h"
#include "source/qvrm7_driver/switchstate/KernelSession.h"

namespace sass {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;

namespace {

constexpr char kGateFile[] = "sass/AutoIOGate";
constexpr StatusSite kSetupLevelTooLowSite{kGateFile, 86};
constexpr StatusSite kStaleSessionSite{kGateFile, 104};

// Above the default threshold: a refused request is always worth a look.
constexpr i32 kRefusalDebugLevel = 0x4000;
constexpr tLineContext kRefusalLines{kGateFile, 121, "\n"};

}  // namespace

AutoIOGate::AutoIOGate(RM7Device& device, tEventDescriptor const& context, u32 requiredLevel,
                       tStatus& status)
    : device_(device), session_(context.session), entered_(false), passed_(false) {
  if (status.isFatal()) return;
  u32 const reached = device.setupLevel();
  if (reached < requiredLevel) {
    setStatus(status, kStatusDeviceNotStarted, kSetupLevelTooLowSite);
  } else {
    entered_ = device.acquireIOGate(session_, status, kWaitForever);
  }
  // The reset count moves only while no request is inside the IO gate: every
  // path that ends a setup closes or holds the gate and drains first. A
  // request inside reads it without the device mutex.
  if (entered_ && session_ != nullptr &&
      !static_cast<KernelSession*>(session_)->isValid(device.resetCount())) {
    setStatus(status, kStatusStaleSession, kStaleSessionSite);
  }
  passed_ = entered_ && status.isNotFatal();
  if (!passed_) reportRefusal(requiredLevel, reached, status);
}

AutoIOGate::~AutoIOGate() {
  if (entered_) device_.releaseIOGate(session_);
}

void AutoIOGate::reportRefusal(u32 requiredLevel, u32 reachedLevel, tStatus const& status) const {
  debugLinePrintfLevel(kRefusalDebugLevel, &kRefusalLines, "request of session %p refused",
                       static_cast<void*>(session_));
  debugLinePrintfLevel(kRefusalDebugLevel, &kRefusalLines, "  setup level %s needed, %s reached",
                       setupLevelName(requiredLevel), setupLevelName(reachedLevel));
  debugLinePrintfLevel(kRefusalDebugLevel, &kRefusalLines, "  status %lld",
                       static_cast<long long>(status.code));
}

}  // namespace sass
