// What a failure's long status must say: its code, the driver's component
// (cut to the field), and the file and line of the site that set it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/status.h"

namespace testing_support {

inline void expectSite(nQVWENDS100::tLongStatus const& status, int64_t code, char const* file,
                       uint64_t line) {
  EXPECT_EQ(status.head.code, code);
  EXPECT_STREQ(status.component, "qvrm7_dri");
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

}  // namespace testing_support
