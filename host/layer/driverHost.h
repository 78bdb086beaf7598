// The layer's side of loading a driver: it owns the driver record, calls the
// entry as a kernel would, and calls the registered callbacks back.
#pragma once

#include <cstdint>

#include "platform/kernelServices.h"

namespace sim {

using DriverEntry = int32_t (*)(nQVZOR200_tDriverRecord*);

// The bytes of the record that belong to the layer carry this pattern, so a
// test can see that the driver left them alone.
inline constexpr uint8_t kLayerRecordPattern = 0xA5;

class LoadedDriver {
 public:
  explicit LoadedDriver(DriverEntry entry);
  ~LoadedDriver();  // unloads when still loaded
  LoadedDriver(LoadedDriver const&) = delete;
  LoadedDriver& operator=(LoadedDriver const&) = delete;

  int32_t load();  // the entry's result
  void unload();   // through the registered unload callback
  bool loaded() const { return loaded_; }
  nQVZOR200_tDriverRecord& record() { return *record_; }

 private:
  DriverEntry entry_;
  nQVZOR200_tDriverRecord* record_;
  bool loaded_ = false;
};

// The record the driver registered and has not unregistered, or null.
nQVZOR200_tDriverRecord* registeredDriver();
uint64_t driverRegistrations();    // registerDriver calls that succeeded
uint64_t driverUnregistrations();  // unregisterDriver calls

}  // namespace sim
