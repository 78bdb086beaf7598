// The transport of one decoded ioctl: the argument record in, the result
// record out, each exactly the size its code names.
#pragma once

#include "platform/eventDescriptor.h"
#include "platform/status.h"

namespace qvrm7_driver {

// One request as the decoder receives it.
struct tIoctlRequest {
  nQVWEND000::tEventDescriptor const& context;
  void const* input;
  u64 inputSize;
  void* output;
  u64 outputSize;
};

// Both sizes checked and the argument record copied in; false, with the
// status set, when the request is refused.
bool copyArgumentsIn(tIoctlRequest const& request, void* arguments, u64 argumentsSize,
                     u64 resultSize, nQVWEND000::tStatus& status);
// The bytes written to the caller: the whole record, or 0 when the copy
// failed.
u32 copyResultOut(tIoctlRequest const& request, void const* result, u32 resultSize,
                  nQVWEND000::tStatus& status);

// The caller's 32-bit status as the operation starts from it, and back.
inline nQVWEND000::tStatus callerStatus(i32 code) {
  return nQVWEND000::tStatus{nQVWEND000::tStatus::kShortSize, code};
}
// Every code the driver sets fits: its own codes are 32-bit patterns kept
// sign-extended, the others are small.
inline i32 callerStatusCode(nQVWEND000::tStatus const& status) {
  return static_cast<i32>(status.code);
}

}  // namespace qvrm7_driver
