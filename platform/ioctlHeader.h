// The request header of an ioctl: a 32-byte little-endian record in the
// caller's memory that names the input and output buffers and receives the
// count of bytes written.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

struct tIOControlHeader {
  u64 input;   // user address
  u64 output;  // user address
  u32 inputSize;
  u32 outputSize;
  u32 bytesReturned;  // the only field the driver writes back
  u32 unused;
};
static_assert(sizeof(tIOControlHeader) == 32);
static_assert(offsetof(tIOControlHeader, output) == 8);
static_assert(offsetof(tIOControlHeader, inputSize) == 16);
static_assert(offsetof(tIOControlHeader, outputSize) == 20);
static_assert(offsetof(tIOControlHeader, bytesReturned) == 24);

}  // namespace qvrm7_driver::nQVWEND000
