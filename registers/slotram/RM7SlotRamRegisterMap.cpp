#include "registers/slotram/RM7SlotRamRegisterMap.h"

namespace qvrm7_driver {

tRM7SlotRamRegisterMap::~tRM7SlotRamRegisterMap() = default;

}  // namespace qvrm7_driver
