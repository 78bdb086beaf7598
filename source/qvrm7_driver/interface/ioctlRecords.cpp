#include "source/qvrm7_driver/interface/ioctlRecords.h"

#include "platform/statusCodes.h"
#include "platform/userBuffer.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

constexpr StatusSite kRecordSizeSite{"ioctl", 171};

u64 addressOf(void const* user) { return static_cast<u64>(reinterpret_cast<uintptr_t>(user)); }

}  // namespace

bool copyArgumentsIn(tEventDescriptor const& context, void const* input, u64 inputSize,
                     void* output, u64 outputSize, void* arguments, u64 argumentsSize,
                     void* blankResult, u64 resultSize, tStatus& status) {
  if (status.isFatal()) return false;
  if (inputSize != argumentsSize || outputSize != resultSize) {
    setStatus(status, kStatusBadArgument, kRecordSizeSite);
    return false;
  }
  tUserBuffer(context, addressOf(input), inputSize).read(0, arguments, argumentsSize, status);
  tUserBuffer(context, addressOf(output), outputSize).write(0, blankResult, resultSize, status);
  return status.isNotFatal();
}

u32 copyResultOut(tEventDescriptor const& context, void* output, void const* result, u32 resultSize,
                  tStatus& status) {
  tUserBuffer(context, addressOf(output), resultSize).write(0, result, resultSize, status);
  return status.isFatal() ? 0 : resultSize;
}

}  // namespace qvrm7_driver
