// What a device may address by DMA, as its device core records it. The
// buffer operations belong with the DMA classes.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

struct tPCIDescription;

class tDMAConfiguration {
 public:
  enum tDMAType : u32 {
    kDMANotConfigured = 0,
    kDMA32Bit = 1,  // the device puts out 32-bit addresses only
    kDMA64Bit = 2,  // any other value: no restriction
  };

  tDMAConfiguration();
  virtual ~tDMAConfiguration();
  tDMAConfiguration(tDMAConfiguration const&) = delete;
  tDMAConfiguration& operator=(tDMAConfiguration const&) = delete;

  u32 type() const { return type_; }
  tPCIDescription const* description() const { return description_; }
  void configure(u32 type, tPCIDescription const* description) {
    type_ = type;
    description_ = description;
  }

 private:
  u32 type_;
  tPCIDescription const* description_;
};

}  // namespace qvrm7_driver::nQVWEND000
