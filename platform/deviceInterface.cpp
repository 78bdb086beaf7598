#include "platform/deviceInterface.h"

#include "platform/deviceCore.h"
#include "platform/memory.h"
#include "platform/userBuffer.h"

namespace qvrm7_driver::nQVWEND000 {

tDeviceInterface::tDeviceInterface(tDeviceCore* device, char const* name, tPropertyList properties)
    : device_(device), properties_(properties), name_(name), kernelHandle_(0) {}

tDeviceInterface::~tDeviceInterface() = default;

void tDeviceInterface::operator delete(void* object) { operatorDelete(object); }

u32 tDeviceInterface::decodeIOControl(tEventDescriptor const& context, u32 code, void const* input,
                                      u64 inputSize, void* output, u64 outputSize,
                                      tStatus& status) {
  tUserBuffer in(context, reinterpret_cast<uintptr_t>(input), inputSize);
  tUserBuffer out(context, reinterpret_cast<uintptr_t>(output), outputSize);
  return device_->deviceIOControl(context, code, in, out, status);
}

}  // namespace qvrm7_driver::nQVWEND000
