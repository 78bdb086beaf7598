#include "source/qvrm7_driver/switchstate/KernelSession.h"

namespace sass {

KernelSession::KernelSession(tDeviceInterface* deviceInterface, u32 resetCount, tStatus& status)
    : tSession(deviceInterface, status), resetCount_(resetCount) {}

KernelSession::~KernelSession() = default;

}  // namespace sass
