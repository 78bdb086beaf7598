#include "registers/version.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using qvregitools::Version;

constexpr char kFile[] = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/Version";

std::string textOf(Version const& version) {
  char buffer[Version::kTextSize] = {};
  tStatus status;
  version.toString(buffer, status);
  return buffer;
}

TEST(VersionText, ParsesBothFormsAndReportsTheFirstFaultWithItsLine) {
  struct Case {
    char const* text;
    i64 code;
    u64 line;
    uint32_t packed;
    uint32_t extended;
    char const* shown;  // the text form when the parse succeeds
  } const cases[] = {
      {"22.8.0f141", 0, 0, 0x1680C08D, 0, "22.8.0f141"},
      {"200a13081315", 0, 0, 0x02004000, 13081315, "2.0.0a13081315"},
      {"1.0.0d1", 0, 0, 0x01000001, 0, "1.0.0d1"},
      {"1.0.0d0", 0, 0, 0x01000000, 0, "1.0.0d0"},
      {"100d1", 0, 0, 0x01000001, 0, "1.0.0d1"},
      {"1.0.0f16383", 0, 0, 0x0100FFFF, 0, "1.0.0f16383"},
      {"1.0.0f16384", 0, 0, 0x0100C000, 16384, "1.0.0f16384"},
      {"255.15.15b4294967295", 0, 0, 0xFFFF8000, 4294967295u, "255.15.15b4294967295"},
      {"0.0.0d0", 0, 0, 0, 0, "0.0.0d0"},
      {"", 0, 0, 0, 0, "0.0.0d0"},
      {nullptr, 0, 0, 0, 0, "0.0.0d0"},
      {"256.0.0f1", kStatusVersionRange, 174, 0, 0, nullptr},
      {"1.16.0f1", kStatusVersionRange, 174, 0, 0, nullptr},
      {"1.0.16f1", kStatusVersionRange, 174, 0, 0, nullptr},
      // Numbers too large for 32 bits are out of range, not their low bits.
      {"4294967318.8.0f141", kStatusVersionRange, 174, 0, 0, nullptr},
      {"1.0.0f4294967296", kStatusVersionRange, 174, 0, 0, nullptr},
      {"1.0.0f99999999999999999999999", kStatusVersionRange, 174, 0, 0, nullptr},
      {"100a4294967296", kStatusVersionRange, 174, 0, 0, nullptr},
      {"1.0.0", kStatusVersionText, 201, 0, 0, nullptr},
      {"1.0.0D1", kStatusVersionText, 201, 0, 0, nullptr},
      {"100x1", kStatusVersionText, 201, 0, 0, nullptr},
      {"1.0.0f", kStatusVersionText, 247, 0, 0, nullptr},
      {".1.0f1", kStatusVersionText, 247, 0, 0, nullptr},
      {"1..0f1", kStatusVersionText, 247, 0, 0, nullptr},
      {"100d", kStatusVersionText, 75, 0, 0, nullptr},
      {"1234", kStatusVersionText, 75, 0, 0, nullptr},
      {"100dx", kStatusVersionText, 247, 0, 0, nullptr},
      {"1x0d1", kStatusVersionText, 228, 0, 0, nullptr},
      {"1.0f1", kStatusVersionText, 265, 0, 0, nullptr},
      {"1.0-0f1", kStatusVersionText, 265, 0, 0, nullptr},
      {"1.0.0f1x", kStatusVersionText, 287, 0, 0, nullptr},
      {"100d1 ", kStatusVersionText, 287, 0, 0, nullptr},
      {"B_Ver1.0.0d0", kStatusVersionText, 247, 0, 0, nullptr},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    tLongStatus status;
    Version const version(c.text, status);
    expectSite(status, c.code, c.code == 0 ? "" : kFile, c.line);
    EXPECT_EQ(version.packedWord(), c.packed);
    EXPECT_EQ(version.extendedBuild(), c.extended);
    if (c.shown != nullptr) {
      EXPECT_EQ(textOf(version), c.shown);
    }
  }
}

TEST(VersionText, AFailedStatusLeavesNoneAndAWarningDoesNotStopTheParse) {
  tLongStatus failed;
  failed.head.code = -1;
  EXPECT_EQ(Version("1.0.0d1", failed), qvregitools::noneVersion());
  EXPECT_EQ(Version(1, 0, 0, Version::kPhaseDevelopment, 1, failed), Version());
  char buffer[Version::kTextSize] = "untouched";
  Version(0x01000001).toString(buffer, failed);
  EXPECT_STREQ(buffer, "untouched");
  EXPECT_EQ(Version(0x01000001).toUInt32(failed), 0u);
  expectSite(failed, -1, "", 0);

  tLongStatus warned;
  warned.head.code = kStatusVersionNewer;
  EXPECT_EQ(Version("100d1", warned).packedWord(), 0x01000001u);
  EXPECT_EQ(warned.head.code, kStatusVersionNewer);
  Version const broken("1.0.0f1x", warned);
  expectSite(warned, kStatusVersionText, kFile, 287);
}

TEST(VersionWord, PacksInRangeAndRefusesEverythingElse) {
  struct Case {
    uint32_t major, minor, update;
    Version::Phase phase;
    uint32_t build;
    uint32_t packed, extended;
  } const cases[] = {
      {22, 8, 0, Version::kPhaseFinal, 141, 0x1680C08D, 0},
      {255, 15, 15, Version::kPhaseBeta, 16383, 0xFFFFBFFF, 0},
      {1, 0, 0, Version::kPhaseAlpha, 16384, 0x01004000, 16384},
      {256, 0, 0, Version::kPhaseFinal, 1, 0, 0},
      {0, 16, 0, Version::kPhaseFinal, 1, 0, 0},
      {0, 0, 16, Version::kPhaseFinal, 1, 0, 0},
      {1, 0, 0, static_cast<Version::Phase>(4), 1, 0, 0},
      // A negative phase would spread its sign over the other fields.
      {1, 0, 0, static_cast<Version::Phase>(-1), 1, 0, 0},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << "." << c.update << " phase "
                                    << static_cast<int>(c.phase) << " build " << c.build);
    tLongStatus status;
    Version const version(c.major, c.minor, c.update, c.phase, c.build, status);
    bool const packs = c.packed != 0;
    expectSite(status, packs ? 0 : i64{kStatusVersionRange}, packs ? "" : kFile, packs ? 0 : 174);
    EXPECT_EQ(version.packedWord(), c.packed);
    EXPECT_EQ(version.extendedBuild(), c.extended);
  }

  tLongStatus status;
  EXPECT_EQ(Version(0x1680C08D).toUInt32(status), 0x1680C08Du);
  EXPECT_EQ(Version("200a13081315", status).toUInt32(status), 0u);
  expectSite(status, kStatusBuildTooLarge, kFile, 119);
}

TEST(VersionOrder, ComparesThePackedWordFirstThenTheExtendedBuild) {
  tStatus status;
  char const* const ascending[] = {"0.0.0d0", "1.0.0d0", "1.0.0d16384", "1.0.0d20000", "1.0.0d1",
                                   "1.0.0a0", "1.0.0b0", "1.0.0f0",     "1.0.0f20000", "1.0.0f100",
                                   "1.0.1d0", "1.1.0d0", "2.0.0d0",     "255.0.0d0"};
  constexpr size_t n = sizeof ascending / sizeof ascending[0];
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) {
      SCOPED_TRACE(std::string(ascending[i]) + " vs " + ascending[j]);
      Version const a(ascending[i], status);
      Version const b(ascending[j], status);
      EXPECT_EQ(a < b, i < j);
      EXPECT_EQ(a > b, i > j);
      EXPECT_EQ(a == b, i == j);
      EXPECT_EQ(a != b, i != j);
    }
  }
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(Version("000d0", status), qvregitools::noneVersion());
}

}  // namespace
