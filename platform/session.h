// One open of a device interface: created by the device's openSession,
// handed to every request the caller makes through that open, and deleted
// by destroySession once the last of its requests has left the IO gate.
#pragma once

#include "platform/atomicInteger.h"
#include "platform/ioCount.h"
#include "platform/status.h"
#include "platform/synchronization.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tDeviceCore;
class tDeviceInterface;

class tSession {
 public:
  // The event's lock is made while the status is clean; a refusal sets
  // -52000.
  tSession(tDeviceInterface* deviceInterface, tStatus& status);
  virtual ~tSession();
  tSession(tSession const&) = delete;
  tSession& operator=(tSession const&) = delete;

  static void operator delete(void* object);

  tDeviceInterface* deviceInterface() const { return interface_; }
  tDeviceCore* device() const;

  // Requests of this session inside the device's IO gate, and the close
  // waiting for them.
  qvatomicop::Integer<unsigned int>& inFlight() { return inFlight_; }
  u32 inFlightCount() const { return inFlight_.getValue() & kIOCountMask; }
  // Signalled when the in-flight count drops to 0.
  tWaitableRecord& event() { return event_; }

  // Both under the device's asynchronous-IO lock.
  bool closingLocked() const { return closing_ != 0; }
  void setClosingLocked() { closing_ = 1; }
  tListLinks& pendingRequestsLocked() { return pendingRequests_; }

 private:
  tListLinks pendingRequests_;
  tDeviceInterface* interface_;
  qvatomicop::Integer<unsigned int> inFlight_;
  tWaitableRecord event_;
  u8 closing_;
};

}  // namespace qvrm7_driver::nQVWEND000
