// Test controls of the layer's device-interface and property registrations,
// user-space add events and deferred calls. Unregistering anything that is
// not registered (unknown, or already unregistered) is a driver bug: the
// layer says so on stderr and aborts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/kernelServices.h"

namespace sim {

struct InterfaceRegistration {
  uint64_t handle;
  nQVZOR200_tDriverRecord* driver;
  uint64_t parent;
  std::string name;
  uint32_t index;
  void* object;
  bool live;
};

struct PropertyRegistration {
  uint64_t handle;
  uint32_t scope;
  uint64_t parent;
  std::string name;
  bool nullValue;              // registered with a null value address
  std::vector<uint8_t> value;  // the value bytes as they were at registration
  bool live;
};

// Every registration that succeeded, in order: the live ones and the newest
// of those that ended (see kRecordLimit).
std::vector<InterfaceRegistration> interfaceRegistrations();
std::vector<PropertyRegistration> propertyRegistrations();
// The interface registrations still live, in order.
std::vector<InterfaceRegistration> liveInterfaceRegistrations();
// The handles still registered, in order of registration.
std::vector<uint64_t> liveInterfaces();
std::vector<uint64_t> liveProperties();
// The live property registrations of one scope under one parent, in order.
std::vector<PropertyRegistration> livePropertiesOf(uint32_t scope, uint64_t parent);
// Handles in the order they were unregistered.
std::vector<uint64_t> interfaceUnregistrations();
std::vector<uint64_t> propertyUnregistrations();

// Interface handles, in the order their add events came.
std::vector<uint64_t> userspaceAddEvents();

struct DeferredCall {
  uint64_t handle;
  void* record;
};
std::vector<DeferredCall> scheduledDeferredCalls();  // recorded, never run

// How many entries each record list holds now, without copying them.
struct RegistrationRecordCounts {
  size_t interfaces, properties, interfaceUnregistrations, propertyUnregistrations, addEvents,
      deferredCalls;
};
RegistrationRecordCounts registrationRecordCounts();

// Forgets every record, live registrations included; handles are not reused.
void clearRegistrations();

}  // namespace sim
