#include "source/qvrm7_driver/interface/ioctlRecords.h"

#include "platform/statusCodes.h"
#include "platform/userBuffer.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

constexpr StatusSite kRecordSizeSite{"ioctl", 171};

u64 addressOf(void const* user) { return static_cast<u64>(reinterpret_cast<uintptr_t>(user)); }

}  // namespace

bool copyArgumentsIn(tIoctlRequest const& request, void* arguments, u64 argumentsSize,
                     u64 resultSize, tStatus& status) {
  if (status.isFatal()) return false;
  if (request.inputSize != argumentsSize || request.outputSize != resultSize) {
    setStatus(status, kStatusBadArgument, kRecordSizeSite);
    return false;
  }
  tUserBuffer(request.context, addressOf(request.input), argumentsSize)
      .read(0, arguments, argumentsSize, status);
  return status.isNotFatal();
}

u32 copyResultOut(tIoctlRequest const& request, void const* result, u32 resultSize,
                  tStatus& status) {
  tUserBuffer(request.context, addressOf(request.output), resultSize)
      .write(0, result, resultSize, status);
  return status.isFatal() ? 0 : resultSize;
}

}  // namespace qvrm7_driver
