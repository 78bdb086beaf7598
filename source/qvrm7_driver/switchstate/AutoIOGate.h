// The setup-level gate that every request of the switch device passes for
// its whole duration: the device's setup has reached the level the request
// needs, the device's IO gate has admitted it, and its session belongs to
// the device's current setup. A refusal is left in the status and reported
// in three debug lines.
#pragma once

#include "platform/eventDescriptor.h"
#include "platform/status.h"

namespace qvrm7_driver {
class RM7Device;
}

namespace sass {

using qvrm7_driver::u32;
using qvrm7_driver::nQVWEND000::tEventDescriptor;
using qvrm7_driver::nQVWEND000::tSession;
using qvrm7_driver::nQVWEND000::tStatus;

class AutoIOGate {
 public:
  // The level test comes first and the session test last: a session goes
  // stale only while the IO gate holds requests back, so a request that is
  // let through sees the reset count of the setup it will work with.
  AutoIOGate(qvrm7_driver::RM7Device& device, tEventDescriptor const& context, u32 requiredLevel,
             tStatus& status);
  // Leaves the IO gate when it was entered.
  ~AutoIOGate();
  AutoIOGate(AutoIOGate const&) = delete;
  AutoIOGate& operator=(AutoIOGate const&) = delete;

  bool passed() const { return passed_; }

 private:
  void reportRefusal(u32 requiredLevel, u32 reachedLevel, tStatus const& status) const;

  qvrm7_driver::RM7Device& device_;
  tSession* session_;
  bool entered_;
  bool passed_;
};

}  // namespace sass
