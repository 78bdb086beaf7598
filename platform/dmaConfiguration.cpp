#include "platform/dmaConfiguration.h"

namespace qvrm7_driver::nQVWEND000 {

tDMAConfiguration::tDMAConfiguration() : type_(kDMANotConfigured), description_(nullptr) {}

tDMAConfiguration::~tDMAConfiguration() = default;

}  // namespace qvrm7_driver::nQVWEND000
