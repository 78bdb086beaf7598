// The source-stream map's virtual table and slot code live in the driver object.
#include "registers/generated/HalcyonTmr9SourceStreams.h"

namespace qvrm7_driver {

tHalcyonTmr9SourceStreams::~tHalcyonTmr9SourceStreams() = default;

}  // namespace qvrm7_driver
