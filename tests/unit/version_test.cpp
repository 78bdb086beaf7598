#include "registers/version.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string>

#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using qvregitools::Version;
using testing_support::expectSite;

constexpr char kFile[] = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/Version";

TEST(VersionText, ParsesBothFormsAndReportsTheFirstFaultWithItsLine) {
  struct Case {
    char const* text;
    i64 code;
    u64 line;
    u32 packed = 0, extended = 0;
    char const* shown = nullptr;
  } const cases[] = {
      {"22.8.0f141", 0, 0, 0x1680C08D, 0, "22.8.0f141"},
      {"200a13081315", 0, 0, 0x02004000, 13081315, "2.0.0a13081315"},
      {"100d1", 0, 0, 0x01000001, 0, "1.0.0d1"},
      {"1.0.0f16383", 0, 0, 0x0100FFFF, 0, "1.0.0f16383"},
      {"1.0.0f16384", 0, 0, 0x0100C000, 16384, "1.0.0f16384"},
      {"255.15.15b4294967295", 0, 0, 0xFFFF8000, 4294967295u, "255.15.15b4294967295"},
      {"", 0, 0, 0, 0, "0.0.0d0"},
      {nullptr, 0, 0, 0, 0, "0.0.0d0"},
      {"256.0.0f1", kStatusVersionRange, 174},
      {"1.16.0f1", kStatusVersionRange, 174},
      // Numbers too large for 32 bits are out of range, not their low bits.
      {"4294967318.8.0f141", kStatusVersionRange, 174},
      {"1.0.0f4294967296", kStatusVersionRange, 174},
      {"100a99999999999999999999", kStatusVersionRange, 174},
      {"1.0.0", kStatusVersionText, 201},
      {"1.0.0D1", kStatusVersionText, 201},
      {"1.0.0f", kStatusVersionText, 247},
      {"1..0f1", kStatusVersionText, 247},
      {"1234", kStatusVersionText, 75},
      {"100dx", kStatusVersionText, 247},
      {"1x0d1", kStatusVersionText, 228},
      {"1.0f1", kStatusVersionText, 265},
      {"1.0.0f1x", kStatusVersionText, 287},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    tLongStatus status;
    Version const version(c.text, status);
    if (c.code == 0) {
      EXPECT_EQ(status.head.code, 0);
    } else {
      expectSite(status, c.code, kFile, c.line);
    }
    EXPECT_EQ(version.packedWord(), c.packed);
    EXPECT_EQ(version.extendedBuild(), c.extended);
    char text[Version::kTextSize] = {};
    version.toString(text, status);
    EXPECT_STREQ(text, c.shown != nullptr ? c.shown : "");
  }

  tLongStatus status;
  EXPECT_EQ(Version("200a13081315", status).toUInt32(status), 0u);
  expectSite(status, kStatusBuildTooLarge, kFile, 119);
  // A negative phase would spread its sign over major, minor and update.
  tLongStatus negative;
  EXPECT_EQ(Version(1, 0, 0, static_cast<Version::Phase>(-1), 1, negative), Version());
  expectSite(negative, kStatusVersionRange, kFile, 174);
}

TEST(VersionOrder, ComparesThePackedWordFirstThenTheExtendedBuild) {
  char const* const ascending[] = {"0.0.0d0", "1.0.0d16384", "1.0.0d1",   "1.0.0a0",
                                   "1.0.0b0", "1.0.0f20000", "1.0.0f100", "1.1.0d0"};
  tStatus status;
  for (size_t i = 0; i < std::size(ascending); ++i) {
    for (size_t j = 0; j < std::size(ascending); ++j) {
      SCOPED_TRACE(std::string(ascending[i]) + " vs " + ascending[j]);
      Version const a(ascending[i], status);
      Version const b(ascending[j], status);
      EXPECT_EQ(a < b, i < j);
      EXPECT_EQ(a > b, i > j);
      EXPECT_EQ(a == b, i == j);
    }
  }
  EXPECT_EQ(status.code, 0);
}

}  // namespace
