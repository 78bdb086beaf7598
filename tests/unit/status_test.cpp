#include "platform/status.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

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
  testing_support::expectSite(record, kStatusNotSupported, "tDeviceCore", 82);
  std::string const file(record.file, sizeof record.file);
  EXPECT_EQ(file, "tDeviceCore" + std::string(sizeof record.file - 11, '\0'));
  EXPECT_EQ(record.extra[0], 0u);
  EXPECT_EQ(record.extra[1], 22u);

  // Any size from the long one up counts as long; a null text counts as empty.
  for (char const* text : {"ab", static_cast<char const*>(nullptr)}) {
    tLongStatus other = dirtyRecord();
    other.head.size = 1000;
    EXPECT_TRUE(setStatusCode(other, -7, text, text, 9));
    std::string const shown = text != nullptr ? text : "";
    EXPECT_EQ(std::string(other.component, 10), shown + std::string(10 - shown.size(), '\0'));
    EXPECT_EQ(field(other.file, sizeof other.file), shown);
    EXPECT_EQ(other.line, 9u);
  }
}

std::string fileFieldAfterWriting(std::string const& file) {
  tLongStatus record;
  setStatus(record, -1, {file.c_str(), 1});
  return field(record.file, sizeof record.file);
}

TEST(StatusLongForm, FileOfHundredIsWholeAndLongerKeepsHeadAndTail) {
  std::string const exact(100, 'e');
  EXPECT_EQ(fileFieldAfterWriting(exact), exact);
  std::string longer;
  for (int i = 0; i < 101; ++i) longer += static_cast<char>('!' + i % 90);
  EXPECT_EQ(fileFieldAfterWriting(longer), longer.substr(0, 49) + ".." + longer.substr(101 - 49));
  EXPECT_EQ(fileFieldAfterWriting(std::string(300, 'h') + "tail"),
            std::string(49, 'h') + ".." + std::string(45, 'h') + "tail");
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
  testing_support::expectSite(record, kStatusNotSupported, "first", 1);
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
  testing_support::expectSite(fromLong, -52007, "synchronization", 186);
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

// ---- Heap status -------------------------------------------------------------

TEST(StatusHeap, SixteenBytesWithoutHeaderOrNullWithoutMemory) {
  sim::reset();
  uint64_t const bytes = sim::liveAllocationBytes();
  tStatus* status = newHeapStatus();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->size, 16u);
  EXPECT_EQ(sim::liveAllocationBytes(), bytes + 16);
  deleteHeapStatus(status);
  EXPECT_EQ(sim::liveAllocationBytes(), bytes);
  sim::enableCallLog(true);
  deleteHeapStatus(nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR100_free"), 0u);
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(newHeapStatus(), nullptr);
  EXPECT_EQ(sim::liveAllocationBytes(), bytes);
}

// ---- Translation tables ------------------------------------------------------

struct CodePair {
  int32_t layer;
  int64_t platform;
};

// Pairs that translate alike both ways. The tables are not inverses
// otherwise: -51400 comes in as a timeout, a timeout leaves as -51550, and a
// bare layer failure leaves as -51202.
constexpr CodePair kBothWays[] = {
    {-51352, -52000}, {-51353, -52001}, {-51256, -52002}, {-51150, -52003}, {-51009, -52005},
    {-51101, -52006}, {-51104, -52010}, {-51000, -52013}, {-51152, -52018}, {-51409, -52019},
    {-51300, -52020}, {-51405, -52023}, {-51401, -52024}, {-51106, -52031},
};

TEST(StatusTables, BothTablesAndTheFailureForEveryOtherResultOrCode) {
  for (int32_t result = -51600; result <= 51600; ++result) {
    int64_t expected = result == 0 ? 0 : result == -51400 ? -52007 : -52008;
    for (auto const& pair : kBothWays) expected = pair.layer == result ? pair.platform : expected;
    ASSERT_EQ(fromKernelLayerStatus(result), expected) << result;
  }
  for (int64_t code = -52100; code <= 100; ++code) {
    int64_t expected = code == 0 ? 0 : code == -52007 ? -51550 : code == -52008 ? -51202 : -51001;
    for (auto const& pair : kBothWays) expected = pair.platform == code ? pair.layer : expected;
    ASSERT_EQ(toKernelLayerStatus(code), expected) << code;
  }
  EXPECT_EQ(fromKernelLayerStatus(INT32_MIN), -52008);
  EXPECT_EQ(fromKernelLayerStatus(INT32_MAX), -52008);
  for (int64_t code : {int64_t{240000}, int64_t{-240023}, driverCode(0xBFFA5012), INT64_MIN,
                       INT64_MAX, int64_t{-51352}, int64_t{-52000} - (int64_t{1} << 32)})
    EXPECT_EQ(toKernelLayerStatus(code), -51001) << code;
}

}  // namespace
