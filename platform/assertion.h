// A broken internal consistency is no status: it prints the assertion
// sequence and halts through the kernel services layer.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

// "[qvrm7_driver|<file>|<line>] !!ASSERT!!", the expression as a prefixed
// line, a blank prefixed line, then the halt hook with the expression.
[[noreturn]] void assertionFailed(char const* file, i32 line, char const* expression);

}  // namespace qvrm7_driver::nQVWEND000
