// The one check of a status's code and site that every test uses.
#pragma once

#include <gtest/gtest.h>

#include "platform/status.h"

// A long status carries the code and the site; a short one only the code.
inline void expectSite(nQVWENDS100::tStatus const& status, int64_t code, char const* file,
                       uint64_t line) {
  EXPECT_EQ(status.code, code);
  if (!status.isLongForm()) return;
  nQVWENDS100::tLongStatus const& full = nQVWENDS100::asLong(status);
  EXPECT_STREQ(full.file, file);
  EXPECT_EQ(full.line, line);
}
