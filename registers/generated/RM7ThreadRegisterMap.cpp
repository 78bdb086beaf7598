// The command-thread map's virtual table and slot code live in the driver object.
#include "registers/generated/RM7ThreadRegisterMap.h"

namespace qvrm7_driver {

tRM7ThreadRegisterMap::~tRM7ThreadRegisterMap() = default;

}  // namespace qvrm7_driver
