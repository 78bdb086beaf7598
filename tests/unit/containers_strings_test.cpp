// The two strings: the library string's growth rule and its failures, which
// must leave the string as it was, and the platform string's exact growth
// and allocation-failed flag.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "host/layer/control.h"
#include "platform/containers/basicString.h"
#include "platform/containers/tBasicString.h"

using nQVWENDS100::asLong;
using nQVWENDS100::tLongStatus;
using nQVWENDS100::tStatus;
using qvrm7_driver::nQVWEND000::tBasicString;

namespace {

using String = qvhtl::String;
using SlotPath = tBasicString<char>;

constexpr char kMalloc[] = "nQVZOR100_malloc";

class Containers : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    baseline_ = sim::liveAllocations();
  }
  void TearDown() override {
    sim::reset();
    EXPECT_EQ(sim::liveAllocations(), baseline_) << "a container leaked a block";
  }
  uint64_t live() const { return sim::liveAllocations() - baseline_; }

  uint64_t baseline_ = 0;
};

void expectFailure(tLongStatus& status, char const* file, uint64_t line) {
  EXPECT_EQ(status.head.code, -52000);
  EXPECT_STREQ(status.component, "qvrm7_dri");
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

std::string text(String const& s) { return std::string(s.data(), s.size()); }

std::string letters(size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += static_cast<char>('a' + i % 26);
  return out;
}

// ---- Library string: growth ------------------------------------------------

using LibraryString = Containers;

TEST_F(LibraryString, GrowsToAtLeast127ThenByHalf) {
  tStatus status;
  String s;
  uint64_t const bytes = sim::liveAllocationBytes();
  s.reserve(10, status);
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_EQ(sim::liveAllocationBytes() - bytes, 128u);  // the terminator's byte too
  s.reserve(200, status);
  EXPECT_EQ(s.capacity(), 200u);
  s.reserve(201, status);
  EXPECT_EQ(s.capacity(), 300u);
  s.reserve(300, status);  // fits: no new block
  EXPECT_EQ(s.capacity(), 300u);
  EXPECT_EQ(live(), 1u);
  EXPECT_EQ(status.code, 0);
}

TEST_F(LibraryString, NeverAllocatedStringAllocatesEvenForNothing) {
  tStatus status;
  String s;
  s.reserve(0, status);
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_EQ(live(), 1u);

  String t;
  char const* none = "";
  t.append(none, none, status);
  EXPECT_EQ(t.capacity(), 127u);
  EXPECT_EQ(t.size(), 0u);
  EXPECT_EQ(t.data()[0], '\0');
  EXPECT_EQ(live(), 2u);
}

TEST_F(LibraryString, GrowthKeepsTheTextAndItsTerminator) {
  tStatus status;
  std::string const want = letters(127);
  String s(want.c_str(), status);
  s.reserve(128, status);
  EXPECT_EQ(s.capacity(), 190u);
  EXPECT_EQ(text(s), want);
  EXPECT_EQ(s.data()[127], '\0');
}

// ---- Library string: construction ------------------------------------------

TEST_F(LibraryString, ConstructsFromTextCountOrAnotherString) {
  tStatus status;
  String a("registry", status);
  String b("registry_Ver1", 8, status);
  String c(a, status);
  EXPECT_EQ(text(a), "registry");
  EXPECT_EQ(text(b), "registry");
  EXPECT_EQ(text(c), "registry");
  EXPECT_EQ(c.data()[c.size()], '\0');
  EXPECT_NE(c.data(), a.data());
  EXPECT_EQ(status.code, 0);
}

TEST_F(LibraryString, NullTextIsTheEmptyText) {
  tStatus status;
  String s(static_cast<char const*>(nullptr), status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_STREQ(s.c_str(), "");
}

TEST_F(LibraryString, FailedCopyLeavesTheNewStringEmpty) {
  tStatus plain;
  String source("name", plain);
  tLongStatus status;
  sim::failNthCall(kMalloc, 1);
  String copy(source, status);
  expectFailure(status, "memory", 520);
  EXPECT_EQ(copy.size(), 0u);
  EXPECT_EQ(copy.capacity(), 0u);
  EXPECT_STREQ(copy.c_str(), "");
  EXPECT_EQ(live(), 1u);
}

TEST_F(LibraryString, StatusHoldingAnErrorBuildsNothing) {
  tStatus status{16, -52005};
  String s("name", status);
  s.append("x", status);
  s.assign("abc", 3, status);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(live(), 0u);
  EXPECT_EQ(status.code, -52005);
}

// ---- Library string: assign --------------------------------------------------

TEST_F(LibraryString, AssignOfNothingToAnEmptyStringWritesNothing) {
  tStatus status;
  String s;
  s.assign("", 0, status);
  EXPECT_EQ(s.capacity(), 0u);
  EXPECT_EQ(live(), 0u);
  EXPECT_STREQ(s.c_str(), "");
}

TEST_F(LibraryString, AssignOfNothingEmptiesButKeepsTheBuffer) {
  tStatus status;
  String s("abc", status);
  s.assign("zzz", 0, status);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_EQ(s.data()[0], '\0');
}

TEST_F(LibraryString, AssignWithinCapacityReusesTheBuffer) {
  tStatus status;
  String s("a longer text", status);
  char const* before = s.data();
  s.assign("short", 5, status);
  EXPECT_EQ(s.data(), before);
  EXPECT_EQ(text(s), "short");
  EXPECT_EQ(s.data()[5], '\0');
}

TEST_F(LibraryString, AssignBeyondCapacityReplacesTheBuffer) {
  tStatus status;
  String s("abc", status);
  std::string const big = letters(300);
  s.assign(big.c_str(), big.size(), status);
  EXPECT_EQ(s.capacity(), 300u);  // the temporary's rule: max(count, 127)
  EXPECT_EQ(text(s), big);
  EXPECT_EQ(live(), 1u);
}

TEST_F(LibraryString, AssignFromItsOwnTextOverlapping) {
  tStatus status;
  String s("0123456789", status);
  s.assign(s.data() + 2, 6, status);
  EXPECT_EQ(text(s), "234567");
}

TEST_F(LibraryString, FailedAssignKeepsTheOldText) {
  tStatus plain;
  String s("keep", plain);
  std::string const big = letters(200);
  tLongStatus status;
  sim::failNthCall(kMalloc, 1);
  s.assign(big.c_str(), big.size(), status);
  expectFailure(status, "memory", 520);
  EXPECT_EQ(text(s), "keep");
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_EQ(live(), 1u);
}

// ---- Library string: append --------------------------------------------------

TEST_F(LibraryString, AppendsAndGrowsByTheReserveRule) {
  tStatus status;
  String s("ab", status);
  std::string const more = letters(198);
  s.append(more.c_str(), more.c_str() + more.size(), status);
  EXPECT_EQ(s.size(), 200u);
  EXPECT_EQ(s.capacity(), 200u);
  EXPECT_EQ(text(s), "ab" + more);
  s.append("!", status);
  EXPECT_EQ(s.capacity(), 300u);
  EXPECT_EQ(text(s), "ab" + more + "!");
}

TEST_F(LibraryString, AppendsItsOwnMiddleAcrossAReallocation) {
  tStatus status;
  std::string const start = letters(127);
  String s(start.c_str(), status);
  ASSERT_EQ(s.capacity(), 127u);
  char const* old = s.data();
  s.append(s.data() + 50, s.data() + 80, status);  // 157 characters: the buffer moves
  EXPECT_NE(s.data(), old);
  EXPECT_EQ(text(s), start + start.substr(50, 30));
  EXPECT_EQ(s.data()[157], '\0');
}

TEST_F(LibraryString, AppendsItsWholeSelfInPlace) {
  tStatus status;
  String s("abc", status);
  s.append(s.data(), s.data() + s.size(), status);
  EXPECT_EQ(text(s), "abcabc");
}

TEST_F(LibraryString, FailedAppendLeavesTheStringUnchanged) {
  tStatus plain;
  std::string const start = letters(127);
  String s(start.c_str(), plain);
  tLongStatus status;
  sim::failNthCall(kMalloc, 1);
  s.append("xyz", status);
  expectFailure(status, "memory", 520);
  EXPECT_EQ(text(s), start);
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_EQ(live(), 1u);
}

TEST_F(LibraryString, ReserveOfTheLargestCountFailsWithoutAllocating) {
  tLongStatus status;
  String s;
  uint64_t const blocks = sim::totalAllocations();
  s.reserve(UINT64_MAX, status);
  expectFailure(status, "Allocator", 32);
  EXPECT_EQ(sim::totalAllocations(), blocks);
  EXPECT_EQ(s.capacity(), 0u);
}

// ---- Library string: compare -------------------------------------------------

TEST_F(LibraryString, ComparesByCharactersThenLength) {
  tStatus status;
  String s("abc", status);
  String empty;
  EXPECT_EQ(s.compare("abc"), 0);
  EXPECT_LT(s.compare("abd"), 0);
  EXPECT_GT(s.compare("abb"), 0);
  EXPECT_LT(s.compare("abcd"), 0);  // a prefix orders first
  EXPECT_GT(s.compare("ab"), 0);
  EXPECT_NE(s.compare("abc", 2), 0);  // same bytes, other length
  EXPECT_EQ(empty.compare(""), 0);
  EXPECT_LT(empty.compare(s), 0);
  String copy(s, status);
  EXPECT_EQ(copy.compare(s), 0);
}

// ---- Platform string ---------------------------------------------------------

using PlatformString = Containers;

TEST_F(PlatformString, GrowsToExactlyWhatIsAsked) {
  SlotPath s;
  s.reserve(5);
  EXPECT_EQ(s.capacity(), 5u);
  s.reserve(3);  // smaller: nothing
  s.reserve(0);
  EXPECT_EQ(s.capacity(), 5u);
  EXPECT_EQ(live(), 1u);
  s.assign("0000:00", 7);
  EXPECT_EQ(s.capacity(), 7u);
  s.append(":E0", 3);
  EXPECT_EQ(s.capacity(), 10u);
  s.append(":00", 3);
  EXPECT_STREQ(s.c_str(), "0000:00:E0:00");
  EXPECT_EQ(s.size(), 13u);
  EXPECT_EQ(live(), 1u);
  EXPECT_FALSE(s.allocationFailed());
}

TEST_F(PlatformString, AssignCases) {
  SlotPath s;
  s.assign("", 0);  // nothing to write
  EXPECT_EQ(live(), 0u);
  EXPECT_STREQ(s.c_str(), "");
  s.assign("abcdef", 6);
  s.assign("xy", 2);
  EXPECT_STREQ(s.c_str(), "xy");
  EXPECT_EQ(s.capacity(), 6u);
  s.assign("q", 0);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_STREQ(s.c_str(), "");
}

TEST_F(PlatformString, FailedGrowthOnlyFlagsAndASuccessfulAssignClearsTheFlag) {
  SlotPath s;
  s.assign("0000:00", 7);
  sim::failNthCall(kMalloc, 1);
  s.append(":E0", 3);
  EXPECT_TRUE(s.allocationFailed());
  EXPECT_STREQ(s.c_str(), "0000:00");
  EXPECT_EQ(s.capacity(), 7u);

  sim::failNthCall(kMalloc, 1);
  s.assign("0001:02:03", 10);
  EXPECT_TRUE(s.allocationFailed());
  EXPECT_STREQ(s.c_str(), "0000:00");

  s.assign("ab", 2);  // fits: the flag stays
  EXPECT_TRUE(s.allocationFailed());
  s.assign("0001:02:03", 10);  // grows: all four fields come from the new string
  EXPECT_FALSE(s.allocationFailed());
  EXPECT_STREQ(s.c_str(), "0001:02:03");
  EXPECT_EQ(live(), 1u);
}

TEST_F(PlatformString, SizeOverflowOnlyFlags) {
  SlotPath s;
  s.reserve(UINT64_MAX);
  EXPECT_TRUE(s.allocationFailed());
  EXPECT_EQ(live(), 0u);

  SlotPath t;
  t.assign("ab", 2);
  t.append("c", UINT64_MAX);
  EXPECT_TRUE(t.allocationFailed());
  EXPECT_STREQ(t.c_str(), "ab");
}

TEST_F(PlatformString, AppendsItsOwnTextAcrossAReallocation) {
  SlotPath s;
  s.assign("0123456789", 10);
  s.append(s.c_str() + 3, 4);
  EXPECT_STREQ(s.c_str(), "01234567893456");
}

}  // namespace
