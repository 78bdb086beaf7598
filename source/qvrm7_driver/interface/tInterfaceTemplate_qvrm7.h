// The switch device's ioctl interface, "qvrm7_driver_qvrm7": the generated
// decoder of the device's operation codes. A code it does not decode goes to
// the platform's decoder, which ends in the device's deviceIOControl.
#pragma once

#include "platform/deviceInterface.h"

namespace qvrm7_driver {

inline constexpr char kSwitchInterfaceName[] = "qvrm7_driver_qvrm7";

template <class tDeviceClass, class tSessionClass>
class tInterfaceTemplate_qvrm7 : public nQVWEND000::tDeviceInterface {
 public:
  explicit tInterfaceTemplate_qvrm7(tDeviceClass* device)
      : tDeviceInterface(device, kSwitchInterfaceName) {}

  // Slot 2. No operation of the device is decoded yet.
  u32 decodeIOControl(nQVWEND000::tEventDescriptor const& context, u32 code, void const* input,
                      u64 inputSize, void* output, u64 outputSize,
                      nQVWEND000::tStatus& status) override {
    return tDeviceInterface::decodeIOControl(context, code, input, inputSize, output, outputSize,
                                             status);
  }
};

}  // namespace qvrm7_driver
