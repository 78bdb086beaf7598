// The stand-in's device-interface and property registrations, user-space add
// events and deferred calls: recorded for tests to look at.
#include "host/layer/registration.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "host/layer/control.h"
#include "host/layer/lockedState.h"

namespace sim {

namespace {

struct State {
  std::mutex mutex;
  std::vector<InterfaceRegistration> interfaces;
  std::vector<PropertyRegistration> properties;
  std::vector<uint64_t> interfaceUnregistrations;
  std::vector<uint64_t> propertyUnregistrations;
  std::vector<uint64_t> addEvents;
  std::vector<DeferredCall> deferredCalls;
  // Interfaces and properties share the numbering, so a handle of the one
  // kind is never taken for the other.
  uint64_t nextHandle = 0x1000;
};

State& state() {
  static State* s = new State();  // never destroyed: imports may run at exit
  return *s;
}

[[noreturn]] void die(char const* what, uint64_t handle) {
  std::fprintf(stderr, "layer: %s (handle 0x%llx)\n", what,
               static_cast<unsigned long long>(handle));
  std::abort();
}

// Handles grow with every registration, so each list is in handle order.
template <class Registration>
Registration* find(std::vector<Registration>& registrations, uint64_t handle) {
  auto const found = std::lower_bound(
      registrations.begin(), registrations.end(), handle,
      [](Registration const& registration, uint64_t h) { return registration.handle < h; });
  return found != registrations.end() && found->handle == handle ? &*found : nullptr;
}

// Registrations that have ended are history: the oldest of them go once
// there are too many, the live ones stay.
template <class Registration>
void forgetOldUnregistered(std::vector<Registration>& registrations) {
  if (registrations.size() < 2 * kRecordLimit) return;
  size_t excess = registrations.size() - kRecordLimit;
  std::erase_if(registrations, [&](Registration const& r) {
    if (r.live || excess == 0) return false;
    --excess;
    return true;
  });
}

template <class Registration>
std::vector<uint64_t> live(std::vector<Registration> const& registrations) {
  std::vector<uint64_t> handles;
  for (Registration const& registration : registrations)
    if (registration.live) handles.push_back(registration.handle);
  return handles;
}

}  // namespace

std::vector<InterfaceRegistration> interfaceRegistrations() {
  return readLocked(state(), [&](State& s) { return s.interfaces; });
}

std::vector<PropertyRegistration> propertyRegistrations() {
  return readLocked(state(), [&](State& s) { return s.properties; });
}

std::vector<InterfaceRegistration> liveInterfaceRegistrations() {
  return readLocked(state(), [&](State& s) {
    std::vector<InterfaceRegistration> found;
    for (InterfaceRegistration const& registration : s.interfaces)
      if (registration.live) found.push_back(registration);
    return found;
  });
}

std::vector<uint64_t> liveInterfaces() {
  return readLocked(state(), [&](State& s) { return live(s.interfaces); });
}

std::vector<uint64_t> liveProperties() {
  return readLocked(state(), [&](State& s) { return live(s.properties); });
}

std::vector<PropertyRegistration> livePropertiesOf(uint32_t scope, uint64_t parent) {
  std::vector<PropertyRegistration> found;
  for (PropertyRegistration const& p : propertyRegistrations())
    if (p.live && p.scope == scope && p.parent == parent) found.push_back(p);
  return found;
}

std::vector<uint64_t> interfaceUnregistrations() {
  return readLocked(state(), [&](State& s) { return s.interfaceUnregistrations; });
}

std::vector<uint64_t> propertyUnregistrations() {
  return readLocked(state(), [&](State& s) { return s.propertyUnregistrations; });
}

std::vector<uint64_t> userspaceAddEvents() {
  return readLocked(state(), [&](State& s) { return s.addEvents; });
}

std::vector<DeferredCall> scheduledDeferredCalls() {
  return readLocked(state(), [&](State& s) { return s.deferredCalls; });
}

RegistrationRecordCounts registrationRecordCounts() {
  return readLocked(state(), [&](State& s) {
    return RegistrationRecordCounts{s.interfaces.size(),
                                    s.properties.size(),
                                    s.interfaceUnregistrations.size(),
                                    s.propertyUnregistrations.size(),
                                    s.addEvents.size(),
                                    s.deferredCalls.size()};
  });
}

void clearRegistrations() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.interfaces.clear();
  s.properties.clear();
  s.interfaceUnregistrations.clear();
  s.propertyUnregistrations.clear();
  s.addEvents.clear();
  s.deferredCalls.clear();
}

}  // namespace sim

extern "C" {

uint64_t nQVZOR240_registerDeviceInterface(nQVZOR200_tDriverRecord* record, uint64_t parent,
                                           char const* name, uint32_t index,
                                           void* interfaceObject) {
  if (sim::detail::enterImport("nQVZOR240_registerDeviceInterface")) return 0;
  if (name == nullptr) sim::die("registerDeviceInterface without a name", 0);
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  uint64_t const handle = s.nextHandle++;
  s.interfaces.push_back({handle, record, parent, name, index, interfaceObject, true});
  sim::forgetOldUnregistered(s.interfaces);
  return handle;
}

void nQVZOR200_unregisterDeviceInterface(uint64_t interfaceHandle) {
  sim::detail::enterImport("nQVZOR200_unregisterDeviceInterface");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::InterfaceRegistration* found = sim::find(s.interfaces, interfaceHandle);
  if (found == nullptr) sim::die("unregisterDeviceInterface of an unknown handle", interfaceHandle);
  if (!found->live)
    sim::die("unregisterDeviceInterface of a handle already unregistered", interfaceHandle);
  found->live = false;
  s.interfaceUnregistrations.push_back(interfaceHandle);
  sim::keepNewest(s.interfaceUnregistrations);
}

void nQVZOR240_notifyUserspaceAddEvent(uint64_t interfaceHandle) {
  sim::detail::enterImport("nQVZOR240_notifyUserspaceAddEvent");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::InterfaceRegistration* found = sim::find(s.interfaces, interfaceHandle);
  if (found == nullptr || !found->live)
    sim::die("notifyUserspaceAddEvent for an interface that is not registered", interfaceHandle);
  s.addEvents.push_back(interfaceHandle);
  sim::keepNewest(s.addEvents);
}

uint64_t nQVZOR200_registerProperty(uint32_t scope, uint64_t parent, char const* name,
                                    void const* value, uint64_t size) {
  if (sim::detail::enterImport("nQVZOR200_registerProperty")) return 0;
  if (name == nullptr) sim::die("registerProperty without a name", 0);
  sim::PropertyRegistration registration{0, scope, parent, name, value == nullptr, {}, true};
  if (value != nullptr) {
    auto const* bytes = static_cast<uint8_t const*>(value);
    registration.value.assign(bytes, bytes + size);
  }
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  registration.handle = s.nextHandle++;
  s.properties.push_back(std::move(registration));
  uint64_t const handle = s.properties.back().handle;
  sim::forgetOldUnregistered(s.properties);
  return handle;
}

void nQVZOR200_unregisterProperty(uint64_t propertyHandle) {
  sim::detail::enterImport("nQVZOR200_unregisterProperty");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  sim::PropertyRegistration* found = sim::find(s.properties, propertyHandle);
  if (found == nullptr) sim::die("unregisterProperty of an unknown handle", propertyHandle);
  if (!found->live) sim::die("unregisterProperty of a handle already unregistered", propertyHandle);
  found->live = false;
  s.propertyUnregistrations.push_back(propertyHandle);
  sim::keepNewest(s.propertyUnregistrations);
}

void nQVZOR100_scheduleDPC(uint64_t deferredCall, void* record) {
  sim::detail::enterImport("nQVZOR100_scheduleDPC");
  sim::State& s = sim::state();
  std::lock_guard lock(s.mutex);
  s.deferredCalls.push_back({deferredCall, record});
  sim::keepNewest(s.deferredCalls);
}

}  // extern "C"
