// The serial flash's write protection, driven by digital lines of the timing
// chip: building the controller turns the lines of its mask into outputs in
// the DO block's direction register (written only when that changes the
// register or it was not yet written). The controller keeps nothing else.
#pragma once

#include "registers/generated/tmr9RegMaps.h"

namespace tmr9tools {

using qvrm7_driver::u32;
using tStatus = nQVWENDS100::tStatus;

class WriteProtectController {
 public:
  WriteProtectController(tmr9_regmaps::tDO& digitalOutput, u32 mask, tStatus& status);
};

}  // namespace tmr9tools
