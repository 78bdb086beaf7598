// The base map's virtual table and slot code live in the driver object.
#include "registers/generated/RM7BaseRegMap.h"

namespace qvrm7_driver {

tRM7BaseRegMap::~tRM7BaseRegMap() = default;

}  // namespace qvrm7_driver
