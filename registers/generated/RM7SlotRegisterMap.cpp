// The slot map's virtual table and slot code live in the driver object.
#include "registers/generated/RM7SlotRegisterMap.h"

namespace qvrm7_driver {

tRM7SlotRegisterMap::~tRM7SlotRegisterMap() = default;

}  // namespace qvrm7_driver
