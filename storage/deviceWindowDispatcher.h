// The registry of a device's flash windows. A window reports no version, so
// every window registers unversioned and is found by its bare name (or with
// the suffix of version 0.0.0d0).
#pragma once

#include "registers/dispatcher.h"

namespace devicewindow {

// A window onto a flash device; its operations come with the flash
// services.
class DeviceWindow {
 public:
  virtual ~DeviceWindow() = default;
};

class DeviceWindowDispatcher final
    : public qvregitools::Dispatcher<DeviceWindow, qvregitools::WrapperDispatcher> {
 public:
  DeviceWindowDispatcher() = default;
  ~DeviceWindowDispatcher() override = default;
};

}  // namespace devicewindow
