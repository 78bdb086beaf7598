// The allocating containers: growth rules, inserts at the edges, ranges and
// texts taken from the container itself, and failures that must leave the
// container exactly as it was, with nothing leaked.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/containers/basicString.h"
#include "platform/containers/tBasicString.h"
#include "platform/containers/vector.h"

using nQVWENDS100::tLongStatus;
using nQVWENDS100::tStatus;
using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::u8;

namespace {

using String = qvhtl::String;
using SlotPath = qvrm7_driver::nQVWEND000::tBasicString<char>;

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

void expectStatus(tLongStatus const& status, int64_t code, char const* file, uint64_t line) {
  EXPECT_EQ(status.head.code, code);
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

// Out of line: inlined, the compiler takes the never-allocated case's empty
// text as the source and warns about reading past it.
[[gnu::noinline]] char const* ownText(SlotPath const& s) { return s.c_str(); }

// ---- Library string ----------------------------------------------------------

using LibraryString = Containers;

TEST_F(LibraryString, GrowsToAtLeast127ThenByHalf) {
  tStatus status;
  String s;
  uint64_t const bytes = sim::liveAllocationBytes();
  s.reserve(10, status);
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_EQ(sim::liveAllocationBytes() - bytes, 128u);  // and the terminator, no header
  s.reserve(200, status);
  EXPECT_EQ(s.capacity(), 200u);
  s.reserve(201, status);
  EXPECT_EQ(s.capacity(), 300u);
  EXPECT_EQ(live(), 1u);
}

TEST_F(LibraryString, NeverAllocatedStringAllocatesEvenForNothing) {
  tStatus status;
  String t;
  char const* none = "";
  t.append(none, none, status);
  EXPECT_EQ(t.capacity(), 127u);
  EXPECT_EQ(t.size(), 0u);
  EXPECT_EQ(t.data()[0], '\0');
  EXPECT_EQ(live(), 1u);

  String n(static_cast<char const*>(nullptr), status);  // null is the empty text
  EXPECT_STREQ(n.c_str(), "");
  EXPECT_EQ(status.code, 0);
}

TEST_F(LibraryString, AssignCases) {
  tStatus status;
  String s;
  s.assign("", 0, status);  // nothing to empty: no block
  EXPECT_EQ(live(), 0u);
  s.assign("0123456789", 10, status);
  EXPECT_EQ(s.capacity(), 127u);
  char const* block = s.data();
  s.assign(s.data() + 2, 6, status);  // its own text, overlapping
  EXPECT_EQ(text(s), "234567");
  EXPECT_EQ(s.data(), block);
  s.assign("zz", 0, status);
  EXPECT_EQ(s.size(), 0u);
  EXPECT_EQ(s.data()[0], '\0');
  std::string const big = letters(300);
  s.assign(big.c_str(), big.size(), status);
  EXPECT_EQ(s.capacity(), 300u);
  EXPECT_EQ(text(s), big);
  EXPECT_EQ(live(), 1u);
  EXPECT_EQ(status.code, 0);
}

TEST_F(LibraryString, AppendsItsOwnMiddleAcrossAReallocation) {
  tStatus status;
  std::string const start = letters(127);
  String s(start.c_str(), status);
  char const* old = s.data();
  s.append(s.data() + 50, s.data() + 80, status);
  EXPECT_NE(s.data(), old);
  EXPECT_EQ(s.capacity(), 190u);
  EXPECT_EQ(text(s), start + start.substr(50, 30));
  EXPECT_EQ(s.data()[157], '\0');
  s.append(s.data(), s.data() + 3, status);  // in place
  EXPECT_EQ(text(s), start + start.substr(50, 30) + "abc");
}

TEST_F(LibraryString, FailedGrowthLeavesTheStringAsItWas) {
  tStatus plain;
  std::string const start = letters(127);
  String s(start.c_str(), plain);
  String source("copied", plain);

  tLongStatus append;
  sim::failNthCall(kMalloc, 1);
  s.append("xyz", append);
  expectStatus(append, -52000, "memory", 520);

  tLongStatus assign;
  sim::failNthCall(kMalloc, 1);
  std::string const big = letters(200);
  s.assign(big.c_str(), big.size(), assign);
  expectStatus(assign, -52000, "memory", 520);
  EXPECT_EQ(text(s), start);
  EXPECT_EQ(s.capacity(), 127u);

  tLongStatus copy;
  sim::failNthCall(kMalloc, 1);
  String copied(source, copy);
  expectStatus(copy, -52000, "memory", 520);
  EXPECT_EQ(copied.capacity(), 0u);
  EXPECT_STREQ(copied.c_str(), "");

  tLongStatus huge;  // no room for the terminator: refused before the layer
  uint64_t const blocks = sim::totalAllocations();
  s.reserve(UINT64_MAX, huge);
  expectStatus(huge, -52000, "Allocator", 32);
  EXPECT_EQ(sim::totalAllocations(), blocks);
  EXPECT_EQ(live(), 2u);

  tStatus error{16, -52005};  // an error already held: nothing is built
  String nothing("name", error);
  EXPECT_EQ(nothing.capacity(), 0u);
}

TEST_F(LibraryString, ComparesByCharactersThenLength) {
  tStatus status;
  String s("abc", status);
  String empty;
  EXPECT_EQ(s.compare("abc"), 0);
  EXPECT_LT(s.compare("abd"), 0);
  EXPECT_LT(s.compare("abcd"), 0);
  EXPECT_GT(s.compare("ab"), 0);
  EXPECT_NE(s.compare("abc", 2), 0);
  EXPECT_EQ(empty.compare(""), 0);
  String copy(s, status);
  EXPECT_EQ(copy.compare(s), 0);
  EXPECT_NE(copy.data(), s.data());
}

// ---- Platform string ---------------------------------------------------------

using PlatformString = Containers;

TEST_F(PlatformString, GrowsToExactlyWhatIsAsked) {
  SlotPath s;
  s.assign("", 0);
  EXPECT_EQ(live(), 0u);
  s.assign("0000:00", 7);
  EXPECT_EQ(s.capacity(), 7u);
  s.append(":E0", 3);
  EXPECT_EQ(s.capacity(), 10u);
  s.append(":00", 3);
  EXPECT_STREQ(s.c_str(), "0000:00:E0:00");
  s.append(ownText(s) + 5, 2);  // its own text, across a reallocation
  EXPECT_STREQ(s.c_str(), "0000:00:E0:0000");
  s.assign("x", 1);
  EXPECT_EQ(s.capacity(), 15u);
  EXPECT_EQ(live(), 1u);
  EXPECT_FALSE(s.allocationFailed());
}

TEST_F(PlatformString, FailuresOnlyFlagAndAGrowingAssignClearsTheFlag) {
  SlotPath s;
  s.assign("0000:00", 7);
  sim::failNthCall(kMalloc, 1);
  s.append(":E0", 3);
  EXPECT_TRUE(s.allocationFailed());
  EXPECT_STREQ(s.c_str(), "0000:00");
  volatile uint64_t const huge = UINT64_MAX;  // opaque: the copy is never reached
  s.append("c", huge);
  s.reserve(UINT64_MAX);
  EXPECT_STREQ(s.c_str(), "0000:00");
  s.assign("ab", 2);  // fits: the flag stays
  EXPECT_TRUE(s.allocationFailed());
  s.assign("0001:02:03", 10);
  EXPECT_FALSE(s.allocationFailed());
  EXPECT_STREQ(s.c_str(), "0001:02:03");
  EXPECT_EQ(live(), 1u);
}

// ---- Vector ------------------------------------------------------------------------

template <class T>
std::vector<T> contents(qvhtl::Vector<T> const& v) {
  return std::vector<T>(v.begin(), v.end());
}

template <class T>
void append(qvhtl::Vector<T>& v, std::vector<T> const& values) {
  tStatus status;
  v.insert_(v.size(), values.data(), values.data() + values.size(), status);
  ASSERT_EQ(status.code, 0);
}

// Only counts: a range of any length without memory, in the pointer-like
// shape of the flash code's own iterator.
template <class T>
struct Counting {
  u64 value;
  T operator*() const { return static_cast<T>(value); }
  Counting& operator++() {
    ++value;
    return *this;
  }
  int64_t operator-(Counting const& other) const {
    return static_cast<int64_t>(value - other.value);
  }
};

using Vector = Containers;

TEST_F(Vector, GrowsToEightThenByHalfKeepingTheOrder) {
  qvhtl::Vector<u32> v;
  tStatus status;
  append<u32>(v, {1, 2, 3});
  EXPECT_EQ(v.capacity(), 8u);
  u32 const front[] = {0};
  u32 const middle[] = {10, 11};
  v.insert_(0, front, front + 1, status);
  v.insert_(2, middle, middle + 2, status);
  append<u32>(v, {8, 9});
  EXPECT_EQ(v.capacity(), 8u);
  append<u32>(v, {99});
  EXPECT_EQ(v.capacity(), 12u);
  EXPECT_EQ(contents(v), (std::vector<u32>{0, 1, 10, 11, 2, 3, 8, 9, 99}));
  append<u32>(v, std::vector<u32>(20, 7));  // more than half again: just what is needed
  EXPECT_EQ(v.capacity(), 29u);
  EXPECT_EQ(live(), 1u);

  qvhtl::Vector<u8> bytes;
  u8 const constant[] = {0xB0};
  bytes.insert_(0, Counting<u8>{1}, Counting<u8>{4}, status);
  bytes.insert_(1, constant, constant + 1, status);
  EXPECT_EQ(contents(bytes), (std::vector<u8>{1, 0xB0, 2, 3}));
  EXPECT_EQ(status.code, 0);
}

TEST_F(Vector, InsertsARangeOfItsOwn) {
  // Before, across and after the position, in place; the last reallocates.
  struct Case {
    u64 position, from, count;
  };
  for (Case const c :
       {Case{3, 0, 2}, Case{2, 1, 3}, Case{1, 2, 2}, Case{0, 0, 3}, Case{5, 2, 3}, Case{1, 0, 5}}) {
    qvhtl::Vector<u32> v;
    append<u32>(v, {1, 2, 3, 4, 5});
    std::vector<u32> want = contents(v);
    std::vector<u32> const range(want.begin() + c.from, want.begin() + c.from + c.count);
    want.insert(want.begin() + c.position, range.begin(), range.end());
    tStatus status;
    v.insert_(c.position, v.data() + c.from, v.data() + c.from + c.count, status);
    EXPECT_EQ(contents(v), want) << "position " << c.position << " from " << c.from;
  }
}

TEST_F(Vector, FailuresLeaveTheVectorAsItWas) {
  qvhtl::Vector<u32> v;
  append<u32>(v, {1, 2, 3, 4, 5, 6, 7, 8});
  u32 const* before = v.data();
  u32 const more[] = {9};

  tLongStatus memory;
  sim::failNthCall(kMalloc, 1);
  v.insert_(4, more, more + 1, memory);
  expectStatus(memory, -52000, "memory", 520);

  tLongStatus sum;
  v.insert_(0, Counting<u32>{0}, Counting<u32>{UINT64_MAX}, sum);
  expectStatus(sum, -52000, "Allocator", 32);

  tLongStatus bound;                        // 2^62 words have no size in 64 bits
  volatile u64 const words = u64(1) << 62;  // opaque: the copy is never reached
  uint64_t const blocks = sim::totalAllocations();
  v.insert_(0, Counting<u32>{0}, Counting<u32>{words}, bound);
  expectStatus(bound, -52000, "Allocator", 32);
  EXPECT_EQ(sim::totalAllocations(), blocks);

  tLongStatus position;
  v.insert_(9, more, more + 1, position);
  expectStatus(position, -52005, "Vector", 0);

  EXPECT_EQ(v.data(), before);
  EXPECT_EQ(v.capacity(), 8u);
  EXPECT_EQ(contents(v), (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(live(), 1u);
}

// ---- Pair vector ---------------------------------------------------------------

struct Registration {};
using Entry = qvhtl::Pair_sct_pod<String, Registration*, tStatus>;
using Entries = qvhtl::Vector_sct<Entry>;

Registration gRegistrations[12];

// What the registry does to add: open a slot, swap the entry in, count it.
void add(Entries& entries, u64 position, std::string const& name, Registration* registration) {
  tStatus status;
  Entry entry;
  entry.first.assign(name.c_str(), name.size(), status);
  entry.second = registration;
  entries.insert_(position, 1, status);
  ASSERT_EQ(status.code, 0);
  entries[position].swap(entry);
  entries.incrementSize(1);
}

void fill(Entries& entries, int count) {
  for (int i = 0; i < count; ++i)
    add(entries, entries.size(), "map" + std::to_string(i), &gRegistrations[i]);
}

std::vector<std::string> names(Entries const& entries) {
  std::vector<std::string> out;
  for (Entry const& e : entries) out.emplace_back(e.first.c_str());
  return out;
}

using PairVector = Containers;

TEST_F(PairVector, OpensASlotWithoutCountingIt) {
  Entries entries;
  fill(entries, 2);
  tStatus status;
  entries.insert_(0, 1, status);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].first.empty());
  EXPECT_EQ(entries[0].second, nullptr);
  EXPECT_STREQ(entries[1].first.c_str(), "map0");
  entries.incrementSize(1);
  EXPECT_EQ(names(entries), (std::vector<std::string>{"", "map0", "map1"}));
  EXPECT_EQ(entries[2].second, &gRegistrations[1]);
}

TEST_F(PairVector, GrowsByCopyingTheNamesAndErasesInOrder) {
  Entries entries;
  fill(entries, 8);
  EXPECT_EQ(live(), 9u);
  add(entries, 3, "inserted", &gRegistrations[8]);
  EXPECT_EQ(entries.capacity(), 12u);
  EXPECT_EQ(live(), 10u);  // the old names went with the old block
  EXPECT_EQ(entries[4].second, &gRegistrations[3]);
  entries.erase(0);
  entries.erase(7);
  EXPECT_EQ(names(entries),
            (std::vector<std::string>{"map1", "map2", "inserted", "map3", "map4", "map5", "map6"}));
  EXPECT_EQ(live(), 8u);
}

TEST_F(PairVector, FailedGrowthLeavesTheVectorExactlyAsItWas) {
  // The new block first, then one block per name copied: fail each in turn.
  for (uint64_t failing = 1; failing <= 9; ++failing) {
    Entries entries;
    fill(entries, 8);
    Entry const* before = &entries[0];
    uint64_t const blocks = live();
    tLongStatus status;
    sim::failNthCall(kMalloc, failing);
    entries.insert_(4, 1, status);
    sim::clearFaults();
    expectStatus(status, -52000, "memory", 520);
    EXPECT_EQ(live(), blocks) << "failing call " << failing;
    EXPECT_EQ(&entries[0], before);
    EXPECT_EQ(entries.capacity(), 8u);
    EXPECT_EQ(names(entries), (std::vector<std::string>{"map0", "map1", "map2", "map3", "map4",
                                                        "map5", "map6", "map7"}));
    EXPECT_EQ(entries[7].second, &gRegistrations[7]);
  }
  Entries entries;
  tLongStatus bound;
  entries.insert_(0, u64(1) << 59, bound);
  expectStatus(bound, -52000, "Allocator", 32);
  tLongStatus position;
  entries.insert_(1, 1, position);
  expectStatus(position, -52005, "Vector", 0);
}

}  // namespace
