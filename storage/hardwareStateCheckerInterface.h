// A check of the hardware's state that the device's setup runs; a failed
// check is reported in the status.
#pragma once

#include "platform/status.h"

namespace kdut {

class HardwareStateCheckerInterface {
 public:
  virtual ~HardwareStateCheckerInterface() = default;
  virtual void checkHardwareState(nQVWENDS100::tStatus& status) = 0;
};

}  // namespace kdut
