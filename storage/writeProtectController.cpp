#include "storage/writeProtectController.h"

namespace tmr9tools {

WriteProtectController::WriteProtectController(tmr9_regmaps::tDO& digitalOutput, u32 mask,
                                               tStatus& status) {
  constexpr u32 kDirectionId = 0x80000008;
  tmr9_regmaps::tDO::tDIO_Direction_Register& direction = digitalOutput.recordFor<kDirectionId>();
  direction.writeRegister(direction.get() | mask, status, false);
}

}  // namespace tmr9tools
