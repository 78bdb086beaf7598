#include "registers/version.h"

#include <gtest/gtest.h>

#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using qvregitools::Version;
using testing_support::expectSite;

constexpr char kFile[] = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/Version";

TEST(Version, ParsesBothFormsReportsTheFirstFaultWithItsLineAndOrders) {
  struct Case {
    char const* text;
    i64 code;
    u64 line;
    u32 packed = 0, extended = 0;
    char const* shown = nullptr;
  } const cases[] = {
      {"22.8.0f141", 0, 0, 0x1680C08D, 0, "22.8.0f141"},
      {"200a13081315", 0, 0, 0x02004000, 13081315, "2.0.0a13081315"},
      {"1.0.0f16384", 0, 0, 0x0100C000, 16384, "1.0.0f16384"},
      {"", 0, 0, 0, 0, "0.0.0d0"},
      {"256.0.0f1", kStatusVersionRange, 174},
      // Numbers too large for 32 bits are out of range, not their low bits.
      {"4294967318.8.0f141", kStatusVersionRange, 174},
      {"100a99999999999999999999", kStatusVersionRange, 174},
      {"1.0.0", kStatusVersionText, 201},
      {"1.0.0f", kStatusVersionText, 247},
      {"1234", kStatusVersionText, 75},
      {"1x0d1", kStatusVersionText, 228},
      {"1.0f1", kStatusVersionText, 265},
      {"1.0.0f1x", kStatusVersionText, 287},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.text);
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

  // The packed word decides first: a build held in the extended word counts
  // for less than one in the packed word; d < a < b < f.
  tStatus ok;
  EXPECT_GT(Version("1.0.0f100", ok), Version("1.0.0f20000", ok));
  EXPECT_LT(Version("1.0.0f20000", ok), Version("1.0.0f20001", ok));
  EXPECT_LT(Version("2.0.0d9", ok), Version("2.0.0a0", ok));
  EXPECT_LT(Version("2.0.0b9", ok), Version("2.0.0f0", ok));
  EXPECT_EQ(ok.code, 0);
}

}  // namespace
