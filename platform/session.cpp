#include "platform/session.h"

#include "platform/deviceInterface.h"
#include "platform/memory.h"

namespace qvrm7_driver::nQVWEND000 {

tSession::tSession(tDeviceInterface* deviceInterface, tStatus& status)
    : pendingRequests_{&pendingRequests_, &pendingRequests_},
      interface_(deviceInterface),
      inFlight_(0),
      closing_(0) {
  event_.initialize(1, 1);
  if (status.isNotFatal()) (void)event_.createLock(status);
}

tSession::~tSession() { event_.destroyLock(); }

void tSession::operator delete(void* object) { operatorDelete(object); }

tDeviceCore* tSession::device() const {
  return interface_ != nullptr ? interface_->device() : nullptr;
}

}  // namespace qvrm7_driver::nQVWEND000
