#include "platform/status.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "host/layer/control.h"
#include "platform/statusCodes.h"

namespace {

using namespace qvrm7_driver::nQVWEND000;
using nQVWENDS100::tLongStatus;

std::string field(char const* bytes, size_t size) {
  return std::string(bytes, strnlen(bytes, size));
}

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override { sim::reset(); }
  void TearDown() override { sim::reset(); }
};

// ---- Precedence ----------------------------------------------------------

struct PrecedenceCase {
  int64_t current;
  int64_t incoming;
  int64_t expected;
  bool replaced;
};

TEST(StatusPrecedence, FollowsTheTable) {
  PrecedenceCase const cases[] = {
      {0, 0, 0, false},           {240000, 0, 240000, false},      {-52002, 0, -52002, false},
      {0, -52005, -52005, true},  {0, 240000, 240000, true},       {240000, -52002, -52002, true},
      {240000, 1, 240000, false}, {-52002, -52005, -52002, false}, {-52002, 240000, -52002, false},
      {-1, INT64_MIN, -1, false},
  };
  for (auto const& c : cases) {
    tStatus status;
    status.code = c.current;
    EXPECT_EQ(setStatusCode(status, c.incoming, kComponent, "f", 1), c.replaced)
        << c.current << " <- " << c.incoming;
    EXPECT_EQ(status.code, c.expected) << c.current << " <- " << c.incoming;
  }
}

TEST(StatusPrecedence, DriverCodesAreErrors) {
  tStatus status;
  EXPECT_TRUE(setStatus(status, driverCode(0xBFFA5012), "f", 1));
  EXPECT_TRUE(status.isFatal());
  EXPECT_FALSE(setStatus(status, kStatusBadArgument, "f", 2));
  EXPECT_EQ(status.code, driverCode(0xBFFA5012));
}

// ---- Long-form writes ----------------------------------------------------

TEST(StatusLongForm, WritesComponentFileLineAndResetsFirstExtra) {
  tLongStatus record;
  std::memset(record.component, 'Z', sizeof record.component);
  record.extra[0] = 11;
  record.extra[1] = 22;
  ASSERT_TRUE(setStatus(record, kStatusNotSupported, "tDeviceCore", 82));
  EXPECT_EQ(record.head.code, kStatusNotSupported);
  EXPECT_EQ(std::string(record.component), "qvrm7_dri");
  EXPECT_EQ(record.component[9], '\0');
  EXPECT_EQ(std::string(record.file), "tDeviceCore");
  for (size_t i = sizeof("tDeviceCore"); i < sizeof record.file; ++i)
    EXPECT_EQ(record.file[i], '\0');
  EXPECT_EQ(record.line, 82u);
  EXPECT_EQ(record.extra[0], 0u);
  EXPECT_EQ(record.extra[1], 22u);
}

TEST(StatusLongForm, ShortComponentIsZeroFilled) {
  tLongStatus record;
  std::memset(record.component, 'Z', sizeof record.component);
  setStatusCode(record, -1, "ab", "f", 1);
  EXPECT_EQ(0, std::memcmp(record.component, "ab\0\0\0\0\0\0\0\0", 10));
}

TEST(StatusLongForm, FileOfHundredIsWholeAndLongerIsShortened) {
  std::string const exact(100, 'e');
  tLongStatus whole;
  setStatus(whole, -1, exact.c_str(), 1);
  EXPECT_EQ(std::string(whole.file), exact);

  std::string longer;
  for (int i = 0; i < 101; ++i) longer += static_cast<char>('!' + i % 90);
  tLongStatus cut;
  setStatus(cut, -1, longer.c_str(), 1);
  EXPECT_EQ(std::string(cut.file), longer.substr(0, 49) + ".." + longer.substr(101 - 49));

  std::string const veryLong = std::string(300, 'h') + "tail";
  tLongStatus far;
  setStatus(far, -1, veryLong.c_str(), 1);
  EXPECT_EQ(field(far.file, sizeof far.file),
            std::string(49, 'h') + ".." + std::string(45, 'h') + "tail");
}

TEST(StatusLongForm, NullTextsCountAsEmpty) {
  tLongStatus record;
  std::memset(record.component, 'Z', sizeof record.component);
  std::memset(record.file, 'Z', sizeof record.file);
  EXPECT_TRUE(setStatusCode(record, -7, nullptr, nullptr, 9));
  EXPECT_EQ(field(record.component, sizeof record.component), "");
  EXPECT_EQ(field(record.file, sizeof record.file), "");
  EXPECT_EQ(record.line, 9u);
}

TEST(StatusLongForm, SizeAboveLongCountsAsLong) {
  tLongStatus record;
  record.head.size = 1000;
  setStatus(record, -1, "memory", 393);
  EXPECT_EQ(std::string(record.file), "memory");
}

TEST(StatusLongForm, UnreplacedCodeWritesNothing) {
  tLongStatus record;
  setStatus(record, kStatusNotSupported, "first", 1);
  record.extra[0] = 5;
  EXPECT_FALSE(setStatus(record, kStatusBadArgument, "second", 2));
  EXPECT_EQ(std::string(record.file), "first");
  EXPECT_EQ(record.line, 1u);
  EXPECT_EQ(record.extra[0], 5u);
}

TEST(StatusShortForm, TakesOnlyTheCode) {
  // A short record inside a larger buffer: nothing past its 16 bytes moves.
  alignas(tLongStatus) unsigned char bytes[sizeof(tLongStatus)];
  std::memset(bytes, 0xA5, sizeof bytes);
  auto* status = new (bytes) tStatus{};
  EXPECT_TRUE(setStatus(*status, -5, "memory", 393));
  EXPECT_EQ(status->code, -5);
  for (size_t i = sizeof(tStatus); i < sizeof bytes; ++i) ASSERT_EQ(bytes[i], 0xA5) << i;
}

// ---- Merge -----------------------------------------------------------------

TEST(StatusMerge, ShortSourceIntoLongGivesEmptyOrigin) {
  tLongStatus destination;
  std::memset(destination.file, 'Z', sizeof destination.file);
  destination.line = 77;
  tStatus source;
  source.code = -52005;
  EXPECT_TRUE(mergeStatus(destination, source));
  EXPECT_EQ(destination.head.code, -52005);
  EXPECT_EQ(field(destination.component, 10), "");
  EXPECT_EQ(field(destination.file, 101), "");
  EXPECT_EQ(destination.line, 0u);
}

TEST(StatusMerge, LongSourceCarriesOriginAndExtrasUpToFirstZero) {
  tLongStatus source;
  setStatus(source, -52007, "synchronization", 186);
  uint64_t const words[] = {5, 6, 0, 8};
  std::memcpy(source.extra, words, sizeof words);
  tLongStatus destination;
  for (auto& word : destination.extra) word = 99;
  EXPECT_TRUE(mergeStatus(destination, source));
  EXPECT_EQ(destination.head.code, -52007);
  EXPECT_EQ(std::string(destination.component), "qvrm7_dri");
  EXPECT_EQ(std::string(destination.file), "synchronization");
  EXPECT_EQ(destination.line, 186u);
  EXPECT_EQ(destination.extra[0], 5u);
  EXPECT_EQ(destination.extra[1], 6u);
  EXPECT_EQ(destination.extra[2], 0u);
  EXPECT_EQ(destination.extra[3], 99u);
}

TEST(StatusMerge, FirstExtraZeroCopiesOneWordAndTenAtMost) {
  tLongStatus source;
  source.head.code = -1;
  source.extra[0] = 0;
  source.extra[1] = 4;
  tLongStatus destination;
  for (auto& word : destination.extra) word = 99;
  mergeStatus(destination, source);
  EXPECT_EQ(destination.extra[0], 0u);
  EXPECT_EQ(destination.extra[1], 99u);

  for (uint64_t i = 0; i < 10; ++i) source.extra[i] = i + 1;
  tLongStatus full;
  mergeStatus(full, source);
  for (uint64_t i = 0; i < 10; ++i) EXPECT_EQ(full.extra[i], i + 1);
}

TEST(StatusMerge, NotReplacedReturnsFalseAndCopiesNoExtras) {
  tLongStatus destination;
  setStatus(destination, -52002, "mine", 3);
  destination.extra[0] = 1;
  tLongStatus source;
  setStatus(source, -52005, "theirs", 4);
  source.extra[0] = 2;
  EXPECT_FALSE(mergeStatus(destination, source));
  EXPECT_EQ(destination.head.code, -52002);
  EXPECT_EQ(std::string(destination.file), "mine");
  EXPECT_EQ(destination.extra[0], 1u);

  tStatus clean;
  EXPECT_FALSE(mergeStatus(destination, clean));
}

TEST(StatusMerge, LongSourceIntoShortTakesTheCode) {
  tLongStatus source;
  setStatus(source, 240000, "x", 1);
  tStatus destination;
  EXPECT_TRUE(mergeStatus(destination, source));
  EXPECT_EQ(destination.code, 240000);
}

TEST(StatusMerge, SourceTextsWithoutNulAreReadWithinTheirFields) {
  tLongStatus source;
  // Every byte after the head is text-like, padding included, so an
  // unbounded read would run on past the file field.
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

TEST_F(StatusTest, HeapStatusIsSixteenBytesWithoutHeader) {
  uint64_t const blocks = sim::liveAllocations();
  uint64_t const bytes = sim::liveAllocationBytes();
  tStatus* status = newHeapStatus();
  ASSERT_NE(status, nullptr);
  EXPECT_EQ(status->size, 16u);
  EXPECT_EQ(status->code, 0);
  EXPECT_EQ(sim::liveAllocations(), blocks + 1);
  EXPECT_EQ(sim::liveAllocationBytes(), bytes + 16);
  deleteHeapStatus(status);
  EXPECT_EQ(sim::liveAllocations(), blocks);
}

TEST_F(StatusTest, HeapStatusWithoutMemoryIsNull) {
  uint64_t const blocks = sim::liveAllocations();
  sim::failNthCall("nQVZOR100_malloc", 1);
  EXPECT_EQ(newHeapStatus(), nullptr);
  EXPECT_EQ(sim::liveAllocations(), blocks);
}

TEST_F(StatusTest, DeletingNullHeapStatusCallsNothing) {
  sim::enableCallLog(true);
  deleteHeapStatus(nullptr);
  EXPECT_EQ(sim::callCount("nQVZOR100_free"), 0u);
}

// ---- Translation tables ------------------------------------------------------

struct CodePair {
  int32_t layer;
  int64_t platform;
};

constexpr CodePair kInboundTable[] = {
    {-51352, -52000}, {-51353, -52001}, {-51256, -52002}, {-51150, -52003}, {-51009, -52005},
    {-51101, -52006}, {-51400, -52007}, {-51104, -52010}, {-51000, -52013}, {-51152, -52018},
    {-51409, -52019}, {-51300, -52020}, {-51405, -52023}, {-51401, -52024}, {-51106, -52031},
};

constexpr CodePair kOutboundTable[] = {
    {-51352, -52000}, {-51353, -52001}, {-51256, -52002}, {-51150, -52003},
    {-51009, -52005}, {-51101, -52006}, {-51550, -52007}, {-51202, -52008},
    {-51104, -52010}, {-51000, -52013}, {-51152, -52018}, {-51409, -52019},
    {-51300, -52020}, {-51405, -52023}, {-51401, -52024}, {-51106, -52031},
};

TEST(StatusTables, InboundKnownResults) {
  EXPECT_EQ(fromKernelLayerStatus(0), 0);
  for (auto const& pair : kInboundTable)
    EXPECT_EQ(fromKernelLayerStatus(pair.layer), pair.platform) << pair.layer;
}

TEST(StatusTables, InboundEveryOtherResultIsLayerFailure) {
  for (int32_t result = -51600; result <= 51600; ++result) {
    if (result == 0) continue;
    bool known = false;
    for (auto const& pair : kInboundTable) known = known || pair.layer == result;
    if (known) continue;
    ASSERT_EQ(fromKernelLayerStatus(result), -52008) << result;
  }
  EXPECT_EQ(fromKernelLayerStatus(INT32_MIN), -52008);
  EXPECT_EQ(fromKernelLayerStatus(INT32_MAX), -52008);
}

TEST(StatusTables, OutboundKnownCodes) {
  EXPECT_EQ(toKernelLayerStatus(0), 0);
  for (auto const& pair : kOutboundTable)
    EXPECT_EQ(toKernelLayerStatus(pair.platform), pair.layer) << pair.platform;
}

TEST(StatusTables, OutboundEveryOtherCodeIsUnknownFailure) {
  for (int64_t code = -52100; code <= 100; ++code) {
    if (code == 0) continue;
    bool known = false;
    for (auto const& pair : kOutboundTable) known = known || pair.platform == code;
    if (known) continue;
    ASSERT_EQ(toKernelLayerStatus(code), -51001) << code;
  }
  int64_t const others[] = {240000,
                            -240023,
                            driverCode(0xBFFA5012),
                            INT64_MIN,
                            INT64_MAX,
                            -51352,
                            int64_t{-52000} - (int64_t{1} << 32)};
  for (int64_t code : others) EXPECT_EQ(toKernelLayerStatus(code), -51001) << code;
}

TEST(StatusTables, AreNotInverses) {
  EXPECT_EQ(toKernelLayerStatus(fromKernelLayerStatus(-51400)), -51550);
  EXPECT_EQ(fromKernelLayerStatus(-51550), -52008);
  EXPECT_EQ(toKernelLayerStatus(-52008), -51202);
  EXPECT_EQ(toKernelLayerStatus(kStatusDeviceNotStarted), -51001);
  EXPECT_EQ(toKernelLayerStatus(kStatusInterrupted), -51001);
}

TEST(StatusTables, TranslateSetsWithDriverComponentAndSite) {
  tLongStatus record;
  translateZORStatusToWENDStatusWithErrorDetails(0, record, "pciconfig", 378);
  EXPECT_EQ(record.head.code, 0);
  EXPECT_EQ(field(record.file, 101), "");

  translateZORStatusToWENDStatusWithErrorDetails(-51400, record, "pciconfig", 378);
  EXPECT_EQ(record.head.code, -52007);
  EXPECT_EQ(std::string(record.component), "qvrm7_dri");
  EXPECT_EQ(std::string(record.file), "pciconfig");
  EXPECT_EQ(record.line, 378u);

  translateZORStatusToWENDStatusWithErrorDetails(7, record, "other", 1);
  EXPECT_EQ(record.head.code, -52007);

  tStatus warned;
  warned.code = 240000;
  translateZORStatusToWENDStatusWithErrorDetails(42, warned, "f", 1);
  EXPECT_EQ(warned.code, -52008);
}

}  // namespace
