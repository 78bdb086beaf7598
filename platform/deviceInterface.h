// A device interface: the name user space opens, published by the
// add-device callback, and the decoder of the ioctls that come through it.
// A sub-object of its device.
#pragma once

#include "platform/deviceProperty.h"
#include "platform/eventDescriptor.h"
#include "platform/status.h"
#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tDeviceCore;

class tDeviceInterface {
 public:
  tDeviceInterface(tDeviceCore* device, char const* name, tPropertyList properties = nullptr);
  virtual ~tDeviceInterface();
  tDeviceInterface(tDeviceInterface const&) = delete;
  tDeviceInterface& operator=(tDeviceInterface const&) = delete;

  // Slot 2: the bytes written to the output buffer. The base hands the
  // request to the device's deviceIOControl; a device's interface decodes
  // its own codes and leaves the rest to the base.
  virtual u32 decodeIOControl(tEventDescriptor const& context, u32 code, void const* input,
                              u64 inputSize, void* output, u64 outputSize, tStatus& status);

  static void operator delete(void* object);

  tDeviceCore* device() const { return device_; }
  tPropertyList properties() const { return properties_; }
  char const* name() const { return name_; }
  // 0 while not registered with the layer.
  u64 kernelHandle() const { return kernelHandle_; }
  void setKernelHandle(u64 handle) { kernelHandle_ = handle; }

 private:
  tDeviceCore* device_;
  tPropertyList properties_;
  char const* name_;
  u64 kernelHandle_;
};

}  // namespace qvrm7_driver::nQVWEND000
