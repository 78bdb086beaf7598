// The context of one call from user space, handed by const reference to every
// device operation.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

class tSession;

struct tEventDescriptor {
  tSession* session;  // null for calls that come from no session
};

}  // namespace qvrm7_driver::nQVWEND000
