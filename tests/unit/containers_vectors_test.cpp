// The library vectors: growth, inserts at the edges and inside, failures
// that must leave the vector as it was, and the registry's pair vector with
// its opened, uncounted slots.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/containers/basicString.h"
#include "platform/containers/vector.h"

using nQVWENDS100::tLongStatus;
using nQVWENDS100::tStatus;
using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::u8;

namespace {

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
  EXPECT_STREQ(status.file, file);
  EXPECT_EQ(status.line, line);
}

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

// An iterator that only counts: a range of any length without memory, and
// the pointer-like shape the flash code's own iterator has.
struct Counting {
  u64 value;
  u8 operator*() const { return static_cast<u8>(value); }
  Counting& operator++() {
    ++value;
    return *this;
  }
  int64_t operator-(Counting const& other) const { return static_cast<int64_t>(value - other.value); }
};

// ---- Vector: growth and order ------------------------------------------------

using Vector = Containers;

TEST_F(Vector, GrowsToEightThenByHalf) {
  qvhtl::Vector<u32> v;
  append<u32>(v, {1, 2, 3});
  EXPECT_EQ(v.capacity(), 8u);
  append<u32>(v, {4, 5, 6, 7, 8});
  EXPECT_EQ(v.capacity(), 8u);
  append<u32>(v, {9});
  EXPECT_EQ(v.capacity(), 12u);
  append<u32>(v, std::vector<u32>(20, 0));  // more than half again: exactly what is needed
  EXPECT_EQ(v.capacity(), 29u);
  EXPECT_EQ(live(), 1u);
}

TEST_F(Vector, InsertsAtTheFrontInsideAndAtTheEnd) {
  qvhtl::Vector<u32> v;
  tStatus status;
  u32 const middle[] = {10, 11};
  u32 const front[] = {0};
  u32 const back[] = {99};
  append<u32>(v, {1, 2, 3});
  v.insert_(1, middle, middle + 2, status);  // in place
  v.insert_(0, front, front + 1, status);
  v.insert_(v.size(), back, back + 1, status);
  EXPECT_EQ(contents(v), (std::vector<u32>{0, 1, 10, 11, 2, 3, 99}));
  append<u32>(v, {7});  // the eighth element: still in place
  v.insert_(2, front, front + 1, status);  // across a reallocation
  EXPECT_EQ(contents(v), (std::vector<u32>{0, 1, 0, 10, 11, 2, 3, 99, 7}));
  EXPECT_EQ(status.code, 0);
}

TEST_F(Vector, EmptyRangeChangesNothing) {
  qvhtl::Vector<u8> v;
  tStatus status;
  u8 none[1] = {};
  v.insert_(0, none, none, status);
  EXPECT_EQ(v.capacity(), 0u);
  EXPECT_EQ(live(), 0u);
}

TEST_F(Vector, TakesAnyPointerLikeRange) {
  qvhtl::Vector<u8> v;
  tStatus status;
  u8 bytes[] = {0xA0, 0xA1};
  u8 const constant[] = {0xB0};
  v.insert_(0, Counting{1}, Counting{4}, status);
  v.insert_(1, bytes, bytes + 2, status);
  v.insert_(0, constant, constant + 1, status);
  EXPECT_EQ(contents(v), (std::vector<u8>{0xB0, 1, 0xA0, 0xA1, 2, 3}));
}

// ---- Vector: ranges from the vector itself ----------------------------------

TEST_F(Vector, InsertsARangeOfItsOwnInPlace) {
  // Ranges before, across and after the insert position; none reallocates.
  struct Case {
    u64 position, from, count;
  };
  for (Case const c : {Case{3, 0, 2}, Case{2, 1, 3}, Case{1, 3, 2}, Case{0, 0, 4}, Case{4, 2, 2}}) {
    qvhtl::Vector<u32> v;
    append<u32>(v, {1, 2, 3, 4});
    ASSERT_EQ(v.capacity(), 8u);
    std::vector<u32> want = contents(v);
    std::vector<u32> const range(want.begin() + c.from, want.begin() + c.from + c.count);
    want.insert(want.begin() + c.position, range.begin(), range.end());
    tStatus status;
    v.insert_(c.position, v.data() + c.from, v.data() + c.from + c.count, status);
    EXPECT_EQ(v.capacity(), 8u);
    EXPECT_EQ(contents(v), want) << "position " << c.position << " from " << c.from;
  }
}

TEST_F(Vector, InsertsARangeOfItsOwnAcrossAReallocation) {
  qvhtl::Vector<u32> v;
  append<u32>(v, {1, 2, 3, 4, 5, 6, 7, 8});
  tStatus status;
  v.insert_(1, v.data() + 4, v.data() + 8, status);
  EXPECT_EQ(contents(v), (std::vector<u32>{1, 5, 6, 7, 8, 2, 3, 4, 5, 6, 7, 8}));
}

// ---- Vector: failures ---------------------------------------------------------

TEST_F(Vector, FailedGrowthLeavesTheVectorAsItWas) {
  qvhtl::Vector<u32> v;
  append<u32>(v, {1, 2, 3, 4, 5, 6, 7, 8});
  u32 const* before = v.data();
  u32 const more[] = {9, 10};
  tLongStatus status;
  sim::failNthCall(kMalloc, 1);
  v.insert_(4, more, more + 2, status);
  expectStatus(status, -52000, "memory", 520);
  EXPECT_EQ(v.data(), before);
  EXPECT_EQ(v.capacity(), 8u);
  EXPECT_EQ(contents(v), (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(live(), 1u);

  tStatus again;  // the next insert works
  v.insert_(4, more, more + 2, again);
  EXPECT_EQ(contents(v), (std::vector<u32>{1, 2, 3, 4, 9, 10, 5, 6, 7, 8}));
}

TEST_F(Vector, WordVectorRefusesACapacityBeyondItsBound) {
  // 2^62 words have no size in 64 bits: refused before the layer is asked.
  struct Words {
    u64 value;
    u32 operator*() const { return 0; }
    Words& operator++() { return *this; }
    int64_t operator-(Words const& other) const { return static_cast<int64_t>(value - other.value); }
  };
  qvhtl::Vector<u32> v;
  uint64_t const blocks = sim::totalAllocations();
  tLongStatus status;
  v.insert_(0, Words{0}, Words{u64(1) << 62}, status);
  expectStatus(status, -52000, "Allocator", 32);
  EXPECT_EQ(sim::totalAllocations(), blocks);
  EXPECT_EQ(v.size(), 0u);
}

TEST_F(Vector, SizeSumOverflowIsRefused) {
  qvhtl::Vector<u8> v;
  u8 const one[] = {1};
  tStatus plain;
  v.insert_(0, one, one + 1, plain);
  tLongStatus status;
  v.insert_(0, Counting{0}, Counting{UINT64_MAX}, status);
  expectStatus(status, -52000, "Allocator", 32);
  EXPECT_EQ(contents(v), std::vector<u8>{1});
}

TEST_F(Vector, PositionPastTheEndIsABadArgument) {
  qvhtl::Vector<u32> v;
  append<u32>(v, {1, 2});
  u32 const more[] = {3};
  tLongStatus status;
  v.insert_(3, more, more + 1, status);
  expectStatus(status, -52005, "Vector", 0);
  EXPECT_EQ(contents(v), (std::vector<u32>{1, 2}));
}

TEST_F(Vector, StatusHoldingAnErrorInsertsNothing) {
  qvhtl::Vector<u32> v;
  u32 const more[] = {3};
  tStatus status{16, -52002};
  v.insert_(0, more, more + 1, status);
  EXPECT_EQ(v.size(), 0u);
  EXPECT_EQ(live(), 0u);
  EXPECT_EQ(status.code, -52002);
}

// ---- Pair vector --------------------------------------------------------------

struct Registration {
  int id;
};
using Entry = qvhtl::Pair_sct_pod<qvhtl::String, Registration*, tStatus>;
using Entries = qvhtl::Vector_sct<Entry>;

// What the registry does to add an entry: open a slot, swap the entry in,
// count it.
void add(Entries& entries, u64 position, char const* name, Registration* registration, tStatus& status) {
  Entry entry;
  entry.first.assign(name, std::char_traits<char>::length(name), status);
  entry.second = registration;
  entries.insert_(position, 1, status);
  if (status.isFatal()) return;
  entries[position].swap(entry);
  entries.incrementSize(1);
}

std::vector<std::string> names(Entries const& entries) {
  std::vector<std::string> out;
  for (Entry const& e : entries) out.emplace_back(e.first.c_str());
  return out;
}

Registration gRegistrations[12];

Entries& fill(Entries& entries, int count) {
  tStatus status;
  for (int i = 0; i < count; ++i) {
    std::string const name = "map" + std::to_string(i);
    add(entries, entries.size(), name.c_str(), &gRegistrations[i], status);
  }
  EXPECT_EQ(status.code, 0);
  return entries;
}

using PairVector = Containers;

TEST_F(PairVector, OpensASlotWithoutCountingIt) {
  Entries entries;
  fill(entries, 2);
  tStatus status;
  entries.insert_(0, 1, status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].first.empty());
  EXPECT_EQ(entries[0].second, nullptr);
  EXPECT_STREQ(entries[1].first.c_str(), "map0");
  EXPECT_EQ(entries[1].second, &gRegistrations[0]);
  entries.incrementSize(1);
  EXPECT_EQ(names(entries), (std::vector<std::string>{"", "map0", "map1"}));
  EXPECT_EQ(entries[2].second, &gRegistrations[1]);
}

TEST_F(PairVector, GrowsByCopyingTheNames) {
  Entries entries;
  fill(entries, 8);
  EXPECT_EQ(entries.capacity(), 8u);
  EXPECT_EQ(live(), 9u);
  tStatus status;
  add(entries, 3, "inserted", &gRegistrations[8], status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(entries.capacity(), 12u);
  EXPECT_EQ(names(entries), (std::vector<std::string>{"map0", "map1", "map2", "inserted", "map3", "map4",
                                                      "map5", "map6", "map7"}));
  EXPECT_EQ(entries[4].second, &gRegistrations[3]);
  EXPECT_EQ(live(), 10u);  // the old names went with the old block
}

TEST_F(PairVector, FailedNameCopyLeavesTheVectorExactlyAsItWas) {
  // The new block, then a copy per name: fail the new block and each copy.
  for (uint64_t failing = 1; failing <= 9; ++failing) {
    Entries entries;
    fill(entries, 8);
    Entry const* before = &entries[0];
    uint64_t const blocks = live();
    tLongStatus status;
    sim::failNthCall(kMalloc, failing);
    entries.insert_(8, 1, status);
    sim::clearFaults();
    expectStatus(status, -52000, "memory", 520);
    EXPECT_EQ(live(), blocks) << "failing call " << failing;
    EXPECT_EQ(&entries[0], before);
    EXPECT_EQ(entries.size(), 8u);
    EXPECT_EQ(entries.capacity(), 8u);
    EXPECT_EQ(names(entries), (std::vector<std::string>{"map0", "map1", "map2", "map3", "map4", "map5",
                                                        "map6", "map7"}));
    EXPECT_EQ(entries[7].second, &gRegistrations[7]);
  }
}

TEST_F(PairVector, RefusesACapacityBeyondItsBound) {
  Entries entries;
  tLongStatus status;
  entries.insert_(0, u64(1) << 59, status);
  expectStatus(status, -52000, "Allocator", 32);
  tLongStatus overflow;
  fill(entries, 1);
  entries.insert_(1, UINT64_MAX, overflow);
  expectStatus(overflow, -52000, "Allocator", 32);
  EXPECT_EQ(names(entries), std::vector<std::string>{"map0"});
}

TEST_F(PairVector, EraseKeepsTheOrderAndFreesTheName) {
  Entries entries;
  fill(entries, 3);
  uint64_t const blocks = live();
  entries.erase(1);
  EXPECT_EQ(names(entries), (std::vector<std::string>{"map0", "map2"}));
  EXPECT_EQ(entries[1].second, &gRegistrations[2]);
  EXPECT_EQ(live(), blocks - 1);
  entries.erase(5);  // nothing there
  EXPECT_EQ(entries.size(), 2u);
}

TEST_F(PairVector, PositionPastTheEndIsABadArgument) {
  Entries entries;
  fill(entries, 1);
  tLongStatus status;
  entries.insert_(2, 1, status);
  expectStatus(status, -52005, "Vector", 0);
  EXPECT_EQ(entries.size(), 1u);
}

}  // namespace
