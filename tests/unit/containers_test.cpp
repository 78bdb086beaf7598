// The allocating containers: growth rules, ranges and texts taken from the
// container itself, and failures that must leave the container exactly as it
// was, with nothing leaked. The fixed-size array's halts are in the
// debug-print tests, with the assertion lines.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/containers/basicString.h"
#include "platform/containers/iterator.h"
#include "platform/containers/tBasicString.h"
#include "platform/containers/vector.h"
#include "support/expectSite.h"
#include "support/layerTest.h"

using nQVWENDS100::tLongStatus;
using nQVWENDS100::tStatus;
using qvrm7_driver::u32;
using qvrm7_driver::u64;
using qvrm7_driver::u8;
using qvrm7_driver::nQVWEND000::tBasicString;
using testing_support::expectSite;

namespace {

using String = qvhtl::String;
constexpr char kMalloc[] = "nQVZOR100_malloc";

using Containers = testing_support::LayerTest;

std::string text(String const& s) { return std::string(s.data(), s.size()); }

std::string letters(size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += static_cast<char>('a' + i % 26);
  return out;
}

// Out of line: inlined, the compiler takes the never-allocated case's empty
// text as the source and warns about reading past it.
[[gnu::noinline]] char const* ownText(tBasicString<char> const& s) { return s.c_str(); }

// ---- Strings -------------------------------------------------------------------

TEST_F(Containers, LibraryStringGrowsByHalfAndTakesItsOwnTextAcrossAReallocation) {
  tStatus status;
  String none(static_cast<char const*>(nullptr), status);
  EXPECT_STREQ(none.c_str(), "");
  EXPECT_EQ(none.capacity(), 127u);  // the smallest block
  std::string const start = letters(127);
  String s(start.c_str(), status);
  s.append(s.data() + 50, s.data() + 80, status);
  EXPECT_EQ(s.capacity(), 190u);
  EXPECT_EQ(text(s), start + start.substr(50, 30));
  s.assign(s.data() + 2, 6, status);  // overlapping, in place
  EXPECT_EQ(text(s), "cdefgh");
  EXPECT_EQ(status.code, 0);
  EXPECT_LT(s.compare("cdefgi"), 0);  // by characters, then the shorter first
  EXPECT_LT(s.compare("cdefghi"), 0);
}

TEST_F(Containers, LibraryStringFailuresLeaveItAsItWas) {
  tStatus plain;
  std::string const start = letters(127);
  String s(start.c_str(), plain);
  tLongStatus append, assign, copy, huge;
  sim::failNthCall(kMalloc, 1);
  s.append("xyz", append);
  sim::failNthCall(kMalloc, 1);
  s.assign(letters(200).c_str(), 200, assign);
  sim::failNthCall(kMalloc, 1);
  String copied(s, copy);
  for (tLongStatus const* status : {&append, &assign, &copy})
    expectSite(*status, -52000, "memory", 520);
  EXPECT_EQ(text(s), start);
  EXPECT_EQ(s.capacity(), 127u);
  EXPECT_STREQ(copied.c_str(), "");

  s.reserve(UINT64_MAX, huge);  // no room for the terminator
  expectSite(huge, -52000, "Allocator", 32);
  tStatus error{16, -52005};  // an error already held: nothing is built
  String nothing("name", error);
  EXPECT_EQ(live(), 1u);
}

TEST_F(Containers, PlatformStringGrowsExactlyAndOnlyFlagsFailures) {
  tBasicString<char> s;
  s.assign("0000:00", 7);
  sim::failNthCall(kMalloc, 1);
  s.append(":E0", 3);
  volatile uint64_t const huge = UINT64_MAX;  // opaque: the copy is never reached
  s.append("c", huge);
  EXPECT_STREQ(s.c_str(), "0000:00");
  s.assign("ab", 2);  // fits: the flag stays
  EXPECT_TRUE(s.allocationFailed());
  s.assign("0000:00:E0:00", 13);
  EXPECT_FALSE(s.allocationFailed());
  s.append(ownText(s) + 5, 2);  // its own text, across a reallocation
  EXPECT_STREQ(s.c_str(), "0000:00:E0:0000");
}

// ---- Vectors -------------------------------------------------------------------

std::vector<u32> contents(qvhtl::Vector<u32> const& v) { return {v.begin(), v.end()}; }

void append(qvhtl::Vector<u32>& v, std::vector<u32> const& values) {
  tStatus status;
  v.insert_(v.size(), values.data(), values.data() + values.size(), status);
  ASSERT_EQ(status.code, 0);
}

// Only counts: a range of any length without memory, in the pointer-like
// shape of the flash code's own iterator.
struct Counting {
  u64 value;
  u32 operator*() const { return static_cast<u32>(value); }
  Counting& operator++() { return ++value, *this; }
  int64_t operator-(Counting const& other) const { return int64_t(value - other.value); }
};

TEST_F(Containers, VectorGrowsToEightThenByHalfAndInsertsARangeOfItsOwn) {
  qvhtl::Vector<u32> v;
  tStatus status;
  v.insert_(0, Counting{1}, Counting{4}, status);
  EXPECT_EQ(v.capacity(), 8u);
  append(v, {4, 5, 6, 7, 8, 9});
  EXPECT_EQ(v.capacity(), 12u);
  append(v, std::vector<u32>(20, 7));  // more than half again: just what is needed
  EXPECT_EQ(v.capacity(), 29u);

  // Before, across and after the position, in place; the last reallocates.
  // Words come by pointer, bytes by the library's iterator.
  struct Case {
    u64 position, from, count;
  };
  for (Case const c : {Case{3, 0, 2}, Case{2, 1, 3}, Case{1, 2, 2}, Case{5, 2, 3}, Case{1, 0, 5}}) {
    qvhtl::Vector<u32> own;
    append(own, {1, 2, 3, 4, 5});
    std::vector<u32> want = contents(own);
    std::vector<u32> const range(want.begin() + c.from, want.begin() + c.from + c.count);
    want.insert(want.begin() + c.position, range.begin(), range.end());
    own.insert_(c.position, own.data() + c.from, own.data() + c.from + c.count, status);
    EXPECT_EQ(contents(own), want) << "position " << c.position << " from " << c.from;

    using Bytes = qvhtl::QVIteratorT<unsigned char>;
    qvhtl::Vector<u8> bytes;
    u8 initial[] = {1, 2, 3, 4, 5};
    bytes.insert_(0, Bytes(initial), Bytes(initial + 5), status);
    bytes.insert_(c.position, Bytes(bytes.data() + c.from), Bytes(bytes.data() + c.from + c.count),
                  status);
    EXPECT_EQ(std::vector<u32>(bytes.begin(), bytes.end()), want) << "bytes from " << c.from;
  }
  EXPECT_EQ(status.code, 0);
}

TEST_F(Containers, VectorFailuresLeaveItAsItWas) {
  qvhtl::Vector<u32> v;
  append(v, {1, 2, 3, 4, 5, 6, 7, 8});
  u32 const* before = v.data();
  tLongStatus memory, sum, bound, position;
  sim::failNthCall(kMalloc, 1);
  v.insert_(4, before, before + 1, memory);
  expectSite(memory, -52000, "memory", 520);
  v.insert_(0, Counting{0}, Counting{UINT64_MAX}, sum);
  expectSite(sum, -52000, "Allocator", 32);
  volatile u64 const words = u64(1) << 62;  // no size in 64 bits; opaque, never copied
  v.insert_(0, Counting{0}, Counting{words}, bound);
  expectSite(bound, -52000, "Allocator", 32);
  v.insert_(9, before, before + 1, position);
  expectSite(position, -52005, "Vector", 0);
  EXPECT_EQ(v.data(), before);
  EXPECT_EQ(contents(v), (std::vector<u32>{1, 2, 3, 4, 5, 6, 7, 8}));

  // Bytes have no bound beyond the size sum: the same count goes to the
  // layer, which is made to refuse it here rather than try.
  struct CountingBytes {
    u64 value;
    u8 operator*() const { return static_cast<u8>(value); }
    CountingBytes& operator++() { return ++value, *this; }
    int64_t operator-(CountingBytes const& other) const { return int64_t(value - other.value); }
  };
  qvhtl::Vector<u8> bytes;
  tLongStatus layer;
  sim::failNthCall(kMalloc, 1);
  bytes.insert_(0, CountingBytes{0}, CountingBytes{words}, layer);
  expectSite(layer, -52000, "memory", 520);
  EXPECT_EQ(bytes.size(), 0u);
}

// The registry's entries: a name whose copy can fail, and a registration.
struct Registration {};
using Entry = qvhtl::Pair_sct_pod<String, Registration*, tStatus>;
using Entries = qvhtl::Vector_sct<Entry>;
Registration gRegistrations[8];

// What the registry does to add: open a slot, swap the entry in, count it.
void fill(Entries& entries, int count) {
  for (int i = 0; i < count; ++i) {
    tStatus status;
    Entry entry;
    std::string const name = "map" + std::to_string(i);
    entry.first.assign(name.c_str(), name.size(), status);
    entry.second = &gRegistrations[i];
    entries.insert_(entries.size(), 1, status);
    entries[entries.size()].swap(entry);
    entries.incrementSize(1);
  }
}

std::string names(Entries const& entries) {
  std::string out;
  for (Entry const& e : entries) out += std::string(e.first.c_str()) + ",";
  return out;
}

TEST_F(Containers, PairVectorFailedGrowthLeavesItExactlyAsItWas) {
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
    expectSite(status, -52000, "memory", 520);
    EXPECT_EQ(live(), blocks) << "failing call " << failing;
    EXPECT_EQ(&entries[0], before);
    EXPECT_EQ(names(entries), "map0,map1,map2,map3,map4,map5,map6,map7,");
    EXPECT_EQ(entries[7].second, &gRegistrations[7]);
  }
  Entries entries;
  tLongStatus bound, position;
  entries.insert_(0, u64(1) << 59, bound);
  expectSite(bound, -52000, "Allocator", 32);
  entries.insert_(1, 1, position);
  expectSite(position, -52005, "Vector", 0);
}

}  // namespace
