#include "platform/status.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/control.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

std::string field(char const* bytes, size_t size) {
  return std::string(bytes, strnlen(bytes, size));
}

// A long record whose text fields hold garbage, so a field left unwritten shows.
tLongStatus dirtyRecord() {
  tLongStatus record;
  std::memset(record.component, 'Z', sizeof record.component);
  std::memset(record.file, 'Z', sizeof record.file);
  return record;
}

// ---- Precedence ----------------------------------------------------------

TEST(StatusPrecedence, FollowsTheTableAndDriverCodesAreErrors) {
  int64_t const driver = driverCode(0xBFFA5012);
  // The driver's own codes are errors: a warning yields to them, an error does not.
  struct {
    int64_t current, incoming, expected;
    bool replaced;
  } const cases[] = {
      {0, 0, 0, false},           {240000, 0, 240000, false},      {-52002, 0, -52002, false},
      {0, -52005, -52005, true},  {0, 240000, 240000, true},       {240000, -52002, -52002, true},
      {240000, 1, 240000, false}, {-52002, -52005, -52002, false}, {-52002, 240000, -52002, false},
      {-1, INT64_MIN, -1, false}, {240000, driver, driver, true},  {driver, -52005, driver, false},
  };
  for (auto const& c : cases) {
    tStatus status;
    status.code = c.current;
    EXPECT_EQ(setStatusCode(status, c.incoming, kComponent, "f", 1), c.replaced)
        << c.current << " <- " << c.incoming;
    EXPECT_EQ(status.code, c.expected) << c.current << " <- " << c.incoming;
  }
}

// ---- Long-form writes ----------------------------------------------------

TEST(StatusLongForm, WritesComponentFileLineAndResetsFirstExtra) {
  tLongStatus record = dirtyRecord();
  record.extra[0] = 11;
  record.extra[1] = 22;
  ASSERT_TRUE(setStatus(record, kStatusNotSupported, {"tDeviceCore", 82}));
  expectSite(record, kStatusNotSupported, "tDeviceCore", 82);
  EXPECT_EQ(std::pair(record.extra[0], record.extra[1]), std::pair(uint64_t{0}, uint64_t{22}));

  // Any size from the long one up counts as long; a null text counts as empty.
  tLongStatus other = dirtyRecord();
  other.head.size = 1000;
  EXPECT_TRUE(setStatusCode(other, -7, nullptr, nullptr, 9));
  EXPECT_EQ(field(other.component, 10) + field(other.file, sizeof other.file), "");
  EXPECT_EQ(other.line, 9u);
}

TEST(StatusLongForm, FileOfHundredIsWholeAndLongerKeepsHeadAndTail) {
  std::string const exact(100, 'e'), longer = std::string(300, 'h') + "tail";
  for (auto [file, shown] :
       {std::pair{exact, exact}, {longer, longer.substr(0, 49) + ".." + longer.substr(304 - 49)}}) {
    tLongStatus record;
    setStatus(record, -1, {file.c_str(), 1});
    EXPECT_EQ(field(record.file, sizeof record.file), shown);
  }
}

TEST(StatusLongForm, UnreplacedCodeWritesNothingBySetOrByMerge) {
  tLongStatus record;
  setStatus(record, kStatusNotSupported, {"first", 1});
  record.extra[0] = 5;
  EXPECT_FALSE(setStatus(record, kStatusBadArgument, {"second", 2}));
  tLongStatus source;
  setStatus(source, kStatusBadArgument, {"theirs", 4});
  source.extra[0] = 2;
  EXPECT_FALSE(mergeStatus(record, source));
  EXPECT_FALSE(mergeStatus(record, tStatus{}));
  expectSite(record, kStatusNotSupported, "first", 1);
  EXPECT_EQ(record.extra[0], 5u);
}

TEST(StatusShortForm, WritesNothingPastItsSixteenBytes) {
  alignas(tLongStatus) unsigned char bytes[sizeof(tLongStatus)];
  std::memset(bytes, 0xA5, sizeof bytes);
  auto* status = new (bytes) tStatus{};
  EXPECT_TRUE(setStatus(*status, -5, {"memory", 393}));
  EXPECT_EQ(status->code, -5);
  for (size_t i = sizeof(tStatus); i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xA5) << i;
}

// ---- Merge -----------------------------------------------------------------

TEST(StatusMerge, OriginComesOnlyFromALongSource) {
  tLongStatus fromShort = dirtyRecord();
  fromShort.line = 77;
  EXPECT_TRUE(mergeStatus(fromShort, tStatus{16, -52005}));
  EXPECT_EQ(fromShort.head.code, -52005);
  EXPECT_EQ(field(fromShort.component, 10) + field(fromShort.file, 101), "");
  EXPECT_EQ(fromShort.line, 0u);

  tLongStatus source;
  setStatus(source, -52007, {"synchronization", 186});
  tLongStatus fromLong;
  EXPECT_TRUE(mergeStatus(fromLong, source));
  expectSite(fromLong, -52007, "synchronization", 186);
  tStatus warned{16, 240000};
  EXPECT_TRUE(mergeStatus(warned, source));
  EXPECT_EQ(warned.code, -52007);
}

TEST(StatusMerge, ExtrasAreCopiedUpToAndIncludingTheFirstZeroTenAtMost) {
  struct {
    std::vector<uint64_t> extras;
    size_t copied;
  } const cases[] = {{{5, 6, 0, 8}, 3}, {{0, 4}, 1}, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10}};
  for (auto const& c : cases) {
    tLongStatus source;
    source.head.code = -1;
    std::memcpy(source.extra, c.extras.data(), c.extras.size() * sizeof(uint64_t));
    tLongStatus destination;
    for (auto& word : destination.extra) word = 99;
    ASSERT_TRUE(mergeStatus(destination, source));
    for (size_t i = 0; i < 10; ++i)
      EXPECT_EQ(destination.extra[i], i < c.copied ? source.extra[i] : 99u) << c.copied << "@" << i;
  }
}

TEST(StatusMerge, SourceTextsWithoutNulAreReadWithinTheirFields) {
  tLongStatus source;
  // Padding too is text-like, so an unbounded read would run on past the file field.
  std::memset(reinterpret_cast<char*>(&source) + sizeof(tStatus), 'P',
              sizeof source - sizeof(tStatus));
  source.head.code = -3;
  std::memset(source.component, 'c', sizeof source.component);
  for (size_t i = 0; i < sizeof source.file; ++i) source.file[i] = static_cast<char>('A' + i % 26);
  tLongStatus destination;
  ASSERT_TRUE(mergeStatus(destination, source));
  EXPECT_EQ(std::string(destination.component), "ccccccccc");
  std::string const file(source.file, sizeof source.file);
  EXPECT_EQ(std::string(destination.file), file.substr(0, 49) + ".." + file.substr(101 - 49));
}

// ---- Translation tables ------------------------------------------------------

// The listed pairs are the tables' own data; what is checked is the rest:
// the pairs that differ by direction, and anything unlisted, which must not
// be cut to 32 bits on its way out.
TEST(StatusTables, AsymmetricPairsAndTheFailureForEveryUnlistedResultOrCode) {
  for (auto [result, code] : {std::pair<int32_t, int64_t>{0, 0}, {-51400, -52007}})
    EXPECT_EQ(fromKernelLayerStatus(result), code);
  for (auto [code, result] :
       {std::pair<int64_t, int32_t>{0, 0}, {-52007, -51550}, {-52008, -51202}})
    EXPECT_EQ(toKernelLayerStatus(code), result);
  for (int32_t result : {-51399, 1, INT32_MIN, INT32_MAX})
    EXPECT_EQ(fromKernelLayerStatus(result), -52008) << result;
  for (int64_t code : {int64_t{240000}, int64_t{-240023}, driverCode(0xBFFA5012), INT64_MIN,
                       INT64_MAX, int64_t{-51352}, int64_t{-52000} - (int64_t{1} << 32)})
    EXPECT_EQ(toKernelLayerStatus(code), -51001) << code;
}

// A caller names the file and line itself or hands in a site; either way the
// record says who set the code and where. A result of 0 writes nothing.
TEST(StatusTables, InboundTranslationRecordsTheDriverAndTheCallersFileAndLine) {
  tLongStatus byLine = dirtyRecord(), bySite = dirtyRecord(), success = dirtyRecord();
  translateZORStatusToWENDStatusWithErrorDetails(-51150, byLine, "safeCast", 25ul);
  expectSite(byLine, -52003, "safeCast", 25);
  translateZORStatusToWENDStatusWithErrorDetails(-51150, bySite, StatusSite{"safeCast", 25});
  expectSite(bySite, -52003, "safeCast", 25);
  translateZORStatusToWENDStatusWithErrorDetails(0, success, "safeCast", 25ul);
  EXPECT_EQ(std::pair(success.head.code, success.line), std::pair(int64_t{0}, uint64_t{0}));
  EXPECT_EQ(success.component[0], 'Z');
}

}  // namespace
