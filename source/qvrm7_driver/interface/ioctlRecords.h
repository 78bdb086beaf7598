// The transport of one decoded ioctl: the argument record in, the result
// record out, each exactly the size its code names.
#pragma once

#include "platform/eventDescriptor.h"
#include "platform/status.h"

namespace qvrm7_driver {

// Both sizes checked, the argument record copied in and a blank result
// record copied out; false, with the status set, when the request is
// refused. An operation runs only once its result can reach the caller: a
// caller whose output cannot be written learns of no change, and none is
// made.
bool copyArgumentsIn(nQVWEND000::tEventDescriptor const& context, void const* input, u64 inputSize,
                     void* output, u64 outputSize, void* arguments, u64 argumentsSize,
                     void* blankResult, u64 resultSize, nQVWEND000::tStatus& status);
// The bytes written to the caller: the whole record, or 0 when the copy
// failed.
u32 copyResultOut(nQVWEND000::tEventDescriptor const& context, void* output, void const* result,
                  u32 resultSize, nQVWEND000::tStatus& status);

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
