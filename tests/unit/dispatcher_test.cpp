// The registries' version words, then registries over stand-in maps and the
// layer's user memory, and the storage-map and device-window registries.
// Every registry test ends with its registries gone and must leave no block
// and no mutex behind.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "platform/statusCodes.h"
#include "registers/armDispatcher.h"
#include "registers/version.h"
#include "source/qvrm7_driver/mapRegistrations.h"
#include "storage/deviceWindowDispatcher.h"
#include "storage/storageMapDispatcher.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using arm::tDynamicAccessInterface;
using armki::ARMDispatcher;
using nQVWENDS100::tLongStatus;
using qvregitools::Version;
using testing_support::expectSite;

#define LIBRARY "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/"
constexpr char kRegistration[] = LIBRARY "Registration";
constexpr char kBase[] = LIBRARY "DispatcherBase";
constexpr char kVersion[] = LIBRARY "Version";
constexpr char kDispatcher[] = LIBRARY "Dispatcher";

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
      // The largest build the packed word holds, and the first it does not.
      {"1.0.0f16383", 0, 0, 0x0100FFFF, 0, "1.0.0f16383"},
      {"100f16383", 0, 0, 0x0100FFFF, 0, "1.0.0f16383"},
      {"1.0.0f16384", 0, 0, 0x0100C000, 16384, "1.0.0f16384"},
      {"100f16384", 0, 0, 0x0100C000, 16384, "1.0.0f16384"},
      {"1.0.0f4294967295", 0, 0, 0x0100C000, 4294967295, "1.0.0f4294967295"},
      {"", 0, 0, 0, 0, "0.0.0d0"},
      {"256.0.0f1", kStatusVersionRange, 174},
      // Numbers too large for 32 bits are out of range, not their low bits,
      // also those whose low 64 bits would read as a fine version.
      {"4294967318.8.0f141", kStatusVersionRange, 174},
      {"1.0.0f4294967296", kStatusVersionRange, 174},
      {"100a99999999999999999999", kStatusVersionRange, 174},
      {"18446744073709551617.0.0f1", kStatusVersionRange, 174},
      {"1.18446744073709551616.0f1", kStatusVersionRange, 174},
      {"1.0.36893488147419103233f1", kStatusVersionRange, 174},
      {"1.0.0f18446744073709551617", kStatusVersionRange, 174},
      {"100d18446744073709551616", kStatusVersionRange, 174},
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
    EXPECT_EQ(status.head.code, c.code);
    if (c.code != 0) expectSite(status, c.code, kVersion, c.line);
    EXPECT_EQ(version.packedWord(), c.packed);
    EXPECT_EQ(version.extendedBuild(), c.extended);
    char text[Version::kTextSize] = {};
    version.toString(text, status);
    EXPECT_STREQ(text, c.shown != nullptr ? c.shown : "");
    // The packed word alone stands for the version only while the build
    // fits in it.
    tLongStatus word;
    EXPECT_EQ(version.toUInt32(word), c.extended == 0 ? c.packed : 0u);
    if (c.extended != 0) {
      expectSite(word, kStatusBuildTooLarge, kVersion, 119);
    } else {
      EXPECT_EQ(word.head.code, 0);
    }
  }
  for (u32 build : {16383u, 16384u}) {
    tStatus ok;
    std::string const text = "1.0.0f" + std::to_string(build);
    EXPECT_EQ(Version(1, 0, 0, Version::kPhaseFinal, build, ok), Version(text.c_str(), ok));
    EXPECT_EQ(ok.code, 0);
  }

  tLongStatus status;
  EXPECT_EQ(Version("200a13081315", status).toUInt32(status), 0u);
  expectSite(status, kStatusBuildTooLarge, kVersion, 119);
  // A negative phase would spread its sign over major, minor and update.
  tLongStatus negative;
  EXPECT_EQ(Version(1, 0, 0, static_cast<Version::Phase>(-1), 1, negative), Version());
  expectSite(negative, kStatusVersionRange, kVersion, 174);

  // In order: the packed word decides first, so a build held in the
  // extended word counts for less than one in the packed word; d < a < b < f.
  char const* const ascending[] = {"1.0.0f20000", "1.0.0f20001", "1.0.0f100", "2.0.0d9",
                                   "2.0.0a0",     "2.0.0b9",     "2.0.0f0"};
  tStatus ok;
  for (size_t i = 0; i + 1 < std::size(ascending); ++i)
    EXPECT_LT(Version(ascending[i], ok), Version(ascending[i + 1], ok)) << ascending[i];
  EXPECT_EQ(ok.code, 0);
}

// Knows one register, at offset 0x10, of three fields; notes how deep its
// registration's mutex was held while it answered.
class FakeMap final : public tDynamicAccessInterface {
 public:
  FakeMap(char const* v, char const* o) : version(v), oldest(o) {}
  void get(u32, u64&, tStatus&, u32) override {}
  void set(u32, u64, tStatus&, u32) override {}
  void read(u32, u64&, tStatus&, u32) override {}
  void write(u32, u64, bool, tStatus&, u32) override {}
  void flush(u32, bool, tStatus&, u32) override {}
  void refresh(u32, tStatus&, u32) override {}
  void getRegisterFormat(u32 id, u32& count, arm::FieldType* types, u64* masks,
                         tStatus& status) const override {
    depthSeen = held != nullptr ? held->depth() : 0;
    count = (id & 0xFFFFFF) == 0x10 ? 3 : 0;
    if (count == 0) setStatus(status, kStatusNotSupported, StatusSite{"fake", 1});
    std::memcpy(types, kTypes, sizeof kTypes);
    std::memcpy(masks, kMasks, sizeof kMasks);
  }
  void flushRegMap(bool, tStatus&) override {}
  void refreshRegMap(tStatus&) override {}
  void markDirtyRegMap() override {}
  char const* getVersion() const override { return version; }
  char const* getOldestCompatibleVersion() const override { return oldest; }

  static constexpr arm::FieldType kTypes[3] = {arm::kFieldBool, arm::kFieldU8, arm::kFieldU32};
  static constexpr u64 kMasks[3] = {0x1, 0x1E, 0xFFFF0000};
  tMutex* held = nullptr;
  mutable u32 depthSeen = 0;
  char const* version;
  char const* oldest;
};

// Declared first, so it looks last, once the registries are gone.
struct NothingLeft {
  ~NothingLeft() {
    EXPECT_EQ(sim::liveAllocations(), allocations);
    EXPECT_EQ(sim::liveMutexes(), mutexes);
  }
  u64 allocations = sim::liveAllocations();
  u64 mutexes = sim::liveMutexes();
};

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    tStatus status;
    dispatcher.add("RM7SlotRegisterMap", slot, status);
    dispatcher.add("Ranged", ranged, status);
    dispatcher.add("Plain", plain, status);
    EXPECT_EQ(status.code, 0);
  }
  // A name in user memory, not terminated.
  void* inUser(std::string const& text) {
    std::memset(user.data() + 4096, 0, 4096);
    std::memcpy(user.data() + 4096, text.data(), text.size());
    user[4096 + text.size()] = 'Z';
    return user.data() + 4096;
  }

  NothingLeft left;
  FakeMap slot{"22.8.0f141", "22.8.0f141"};
  FakeMap ranged{"2.0.0f5", "100d1"};
  FakeMap plain{"", ""};
  ARMDispatcher dispatcher;
  tEventDescriptor const context{nullptr};
  std::array<char, 8192> user{};
  sim::UserRange range{user.data(), user.size()};
};

// A name from user space that is some registration's own versioned name is
// recognised whole; every name must still get what its text gets from the
// general lookup, site included, also once the first of two entries of a
// name has gone.
TEST_F(Registry, UserNamesFindTheirObjectsOnlyWithAVersionTheyAnswerTo) {
  FakeMap first{"1.0.0f1", "1.0.0f1"}, second{"2.0.0f1", "2.0.0f1"}, marked{"1.0.0f1", "1.0.0f1"},
      zero{"0.0.0d0", "0.0.0d0"}, inverted{"1.0.0f1", "2.0.0f1"}, dotless{"100d1", "100d1"},
      almost{"", ""};
  std::string const longName(60, 'L');
  // Copied from user space to a block of its own, of the name's size and a
  // terminator: a look past the terminator is a look past the block.
  std::string const onHeap(70, 'H');
  tStatus added;
  std::pair<char const*, FakeMap*> const maps[] = {
      {"Twice", &first},          {"Twice", &second},
      {"A_VerB", &marked},        {"Zero", &zero},
      {"Inverted", &inverted},    {"Dotless", &dotless},
      {longName.c_str(), &first}, {"Odd_Ve", &almost},
      {"Odd_VeR", &first}};
  for (auto [name, map] : maps) dispatcher.add(name, *map, added);
  ASSERT_EQ(added.code, 0);
  constexpr u64 kLargest = qvregitools::kLargestUserNameSize;
  char outside[64] = {};
  struct Case {
    std::string name;
    FakeMap* found;
    i64 code = 0;
    char const* file = nullptr;
    u64 line = 0;
    u64 size = 0;        // 0: the name's length, and the text lookup must agree
    void* at = nullptr;  // null: in user memory
  };
  auto const check = [&](Case const& c) {
    SCOPED_TRACE(testing::Message() << c.name.c_str() << " of " << c.size);
    tLongStatus status, fromText;
    tDynamicAccessInterface *found = &slot, *textFound = nullptr;
    tMutex *mutex = nullptr, *textMutex = nullptr;
    u64 const allocations = sim::totalAllocations();
    u64 const size = c.size != 0 ? c.size : c.name.size();
    void* const name = c.at != nullptr ? c.at : inUser(c.name);
    dispatcher.getRegistration(context, name, size, &found, status, &mutex);
    if (c.file != nullptr) expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(std::tie(found, status.head.code), std::tie(c.found, c.code));
    EXPECT_EQ(mutex != nullptr, c.found != nullptr);
    // Only a name longer than any registered one is copied to the heap, and
    // none that is refused for its size.
    EXPECT_EQ(sim::totalAllocations() != allocations,
              size > qvregitools::kNameSlotSize && c.line != 58);
    if (c.size != 0) return;
    dispatcher.getRegistration(c.name.c_str(), &textFound, fromText, &textMutex);
    EXPECT_EQ(std::tie(found, mutex, status.head.code, status.line),
              std::tie(textFound, textMutex, fromText.head.code, fromText.line));
    EXPECT_STREQ(status.file, fromText.file);
  };
  Case const cases[] = {
      {"RM7SlotRegisterMap", nullptr, kStatusVersionRequired, kRegistration, 82},
      {"RM7SlotRegisterMap_Ver22.8.0f141", &slot},
      {"Ranged_Ver100d1", &ranged},
      {"Ranged_Ver2.0.0f6", &ranged, kStatusVersionNewer, kRegistration, 121},
      {"Ranged_Ver1.0.0d0", nullptr, kStatusVersionTooOld, kRegistration, 114},
      {"Plain", &plain},
      {"Plain_Ver1.0.0d0", nullptr, kStatusNotVersioned, kRegistration, 96},
      {"A_VerB_Ver1.0.0f1", nullptr, kStatusVersionText, kVersion, 247},
      {"Ranged_Ver4294967298.0.0d1", nullptr, kStatusVersionRange, kVersion, 174},
      {"Twice_Ver1.0.0f1", &first},
      {"Twice_Ver2.0.0f1", &first, kStatusVersionNewer},
      {"Zero_Ver0.0.0d0", nullptr, kStatusVersionRequired},
      {"Inverted_Ver1.0.0f1", nullptr, kStatusVersionTooOld},
      {"Dotless_Ver100d1", &dotless},
      {"Dotless_Ver1.0.0d1", &dotless},
      {longName + "_Ver1.0.0f1", &first},
      // Only the four characters "_Ver" split a name.
      {"Odd_Ve", &almost},
      {"Odd_Ve_Ver", &almost},
      {"Odd_Ve_Ver1.0.0f1", nullptr, kStatusNotVersioned, kRegistration, 96},
      {"Odd_VeR", nullptr, kStatusVersionRequired, kRegistration, 82},
      {"Odd_VeR_Ver1.0.0f1", &first},
      {"Odd_Vex1.0.0f1", nullptr, kStatusRegistrationNotFound, kBase, 151},
      {onHeap + "_Ve", nullptr, kStatusRegistrationNotFound, kBase, 151},
      {onHeap + "_V", nullptr, kStatusRegistrationNotFound, kBase, 151},
      {onHeap + "_", nullptr, kStatusRegistrationNotFound, kBase, 151},
      {"Ranged_Ver18446744073709551618.0.0d1", nullptr, kStatusVersionRange, kVersion, 174},
      {std::string("Ranged_Ver2.0.0f5\0x", 19), &ranged},
      {"Plain", nullptr, kStatusRegistrationNotFound, kBase, 151, kLargest},  // "PlainZ"
      {"Plain", nullptr, kStatusBadArgument, kDispatcher, 58, kLargest + 1},
      {"Plain", nullptr, kStatusBadArgument, kDispatcher, 58, ~u64{0}},  // size + 1 wraps
      {"Plain", nullptr, kStatusBadArgument, "tUserBuffer", 44, 5, outside},
  };
  for (Case const& c : cases) check(c);
  dispatcher.remove("Twice", added);
  check({"Twice_Ver1.0.0f1", nullptr, kStatusVersionTooOld});
  check({"Twice_Ver2.0.0f1", &second});
}

TEST_F(Registry, ListingsAndFormatsGoToUserSpaceOnlyWhereTheyFit) {
  char outside[64] = {};
  // An empty registry's list is empty; it has no names to give.
  tLongStatus status;
  ARMDispatcher empty;
  sim::clearUserCopies();
  empty.getRegistrationList(context, user.data(), status);
  EXPECT_EQ(status.head.code, 0);
  empty.getRegistrationNames(context, user.data(), status);
  expectSite(status, kStatusNullName, kBase, 179);
  EXPECT_TRUE(sim::userCopies().empty());

  // A name gets at most its 64-byte slot: one of 63 characters ends in the
  // slot's last byte, a longer one fills the slot without a terminator.
  // Nothing past the slots is written, nor a slot's bytes after its
  // terminator (user space gets them zeroed).
  constexpr u64 kSlot = qvregitools::kNameSlotSize;
  for (u64 length : {62, 63, 64, 65}) {
    SCOPED_TRACE(length);
    std::string const name(length, 'n');
    ARMDispatcher two;
    tStatus added;
    for (char const* each : {"a", name.c_str()}) two.add(each, plain, added);
    ASSERT_EQ(added.code, 0);
    std::string const kept = name.substr(0, kSlot);
    for (bool toUser : {false, true}) {
      char const gap = toUser ? '\0' : '#';
      std::string expected = "a" + std::string(1, '\0') + std::string(kSlot - 2, gap) + kept;
      if (kept.size() < kSlot) expected += '\0' + std::string(kSlot - kept.size() - 1, gap);
      expected += std::string(kSlot, '#');
      std::memset(user.data(), '#', 3 * kSlot);
      tLongStatus listed;
      if (toUser) {
        two.getRegistrationNames(context, user.data(), listed);
      } else {
        two.getRegistrationNames(user.data(), listed);
      }
      EXPECT_EQ(listed.head.code, 0);
      EXPECT_EQ(std::string(user.data(), 3 * kSlot), expected) << "to user space: " << toUser;
    }
  }

  // Formats go out under the map's mutex, which is always given back.
  tMutex* mutex = nullptr;
  tDynamicAccessInterface* found = nullptr;
  tStatus lookup;
  dispatcher.getRegistration("Ranged_Ver2.0.0f5", &found, lookup, &mutex);
  ASSERT_NE(mutex, nullptr);
  ranged.held = mutex;
  struct Format {
    u32 id;
    void* types;
    i64 code;
    u32 count;
  } const formats[] = {{0x22000010, user.data(), 0, 3},
                       {0x80000014, user.data(), kStatusNotSupported, 0},
                       {0xC0000010, outside, kStatusBadArgument, 3}};
  for (Format const& f : formats) {
    SCOPED_TRACE(f.id);
    std::memset(user.data(), '#', 128);
    tStatus formatStatus;
    u32 count = 99;
    dispatcher.getRegisterFormat(context, inUser("Ranged_Ver2.0.0f5"), 17, f.id, count, f.types,
                                 user.data() + 64, formatStatus);
    EXPECT_EQ(formatStatus.code, f.code);
    EXPECT_EQ(count, f.count);
    EXPECT_EQ(ranged.depthSeen, 1u);
    EXPECT_EQ(sim::mutexReleaseCount(mutex->kernelHandle()),
              sim::mutexAcquireCount(mutex->kernelHandle()));
    EXPECT_EQ(std::memcmp(user.data(), "\x00\x01\x03#", 4) == 0, f.code == 0);
    EXPECT_EQ(std::memcmp(user.data() + 64 + 16, &FakeMap::kMasks[2], 8) == 0, f.code == 0);
  }
}

TEST_F(Registry, FailedAddsAndTheEndOfARegistryLeaveNothingBehind) {
  FakeMap broken{"1.0.0", "1.0.0d0"};
  struct Case {
    char const* import;  // fails at its first call
    FakeMap* map;
    i64 code;
    char const* file;
    u64 line;
  } const cases[] = {
      {"nQVZOR100_malloc", &slot, kStatusMemoryFull, "memory", 393},
      {"nQVZOR150_createMutex", &slot, kStatusMemoryFull, "synchronization", 823},
      {nullptr, &broken, kStatusVersionText, kVersion, 201},
      {nullptr, &slot, kStatusNullName, kBase, 264},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.line);
    sim::reset();
    if (c.import != nullptr) sim::failNthCall(c.import, 1);
    sim::enableCallLog(true);
    tLongStatus status;
    dispatcher.add(c.line == 264 ? nullptr : "Extra", *c.map, status);
    expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(dispatcher.getNumberOfRegistrations(), 3u);
    // A mutex is given back exactly when one was made.
    EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), c.line == 264 ? 1u : 0u);
  }
  sim::reset();

  // A teardown removes whatever its status holds; the names that follow
  // cannot be given back one by one from the tab-joined list, and still go
  // with the registry.
  tLongStatus failed;
  failed.head.code = -7;
  dispatcher.remove("Plain", failed);
  EXPECT_EQ(dispatcher.findEntry("Plain"), 2u);
  tStatus status;
  for (char const* name : {"with\ttab", "", ""}) dispatcher.add(name, plain, status);
  EXPECT_EQ(sim::liveMutexes(), left.mutexes + 5);
}

// A map's own registration is found by its name and version; a name that
// cannot be formatted, failed by the layer or too long for its buffer, is
// refused as no name, never looked up from what the buffer holds.
TEST_F(Registry, AMapsRegistrationMutexIsFoundOnlyByANameThatWasFormatted) {
  std::string const longName(90, 'L');
  tStatus added;
  dispatcher.add(longName.c_str(), slot, added);
  ASSERT_EQ(added.code, 0);
  struct Case {
    char const* name;
    bool failFormat;
    i64 code;
  } const cases[] = {{"RM7SlotRegisterMap", false, 0},
                     {"RM7SlotRegisterMap", true, kStatusNullName},
                     {longName.c_str(), false, kStatusNullName}};
  for (Case const& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << (c.failFormat ? ", failed format" : ""));
    tLongStatus status;
    if (c.failFormat) sim::failNthCall("nQVZOR100_vsnPrintf", 1);
    tMutex* const mutex = registrationMutex(dispatcher, {c.name, &slot}, status);
    sim::clearFaults();
    EXPECT_EQ(mutex == nullptr, c.code != 0);
    if (c.code != 0) expectSite(status, c.code, kBase, 264);
    EXPECT_EQ(status.head.code, c.code);
  }
}

// A storage map registers with its version texts, a window with none, so
// that it answers only to its bare name or to version 0.0.0d0.
struct FakeStorageMap final : storagemap::StorageMapInterface {
  char const* getVersion() const override { return "1.0.0d1"; }
  char const* getOldestCompatibleVersion() const override { return "1.0.0d0"; }
};

template <class Object, class Registry>
void* lookUp(Registry& registry, char const* name, tStatus& status) {
  Object* found = nullptr;
  registry.getRegistration(name, &found, status, nullptr);
  return found;
}

TEST_F(Registry, StorageMapsAnswerToTheirVersionsAndWindowsOnlyToVersionNone) {
  FakeStorageMap map;
  devicewindow::DeviceWindow window;
  storagemap::StorageMapDispatcher maps;
  devicewindow::DeviceWindowDispatcher windows;
  tStatus status;
  maps.add("Calibration", map, status);
  windows.add("SubCardFlash", window, status);
  struct Case {
    char const* name;
    void* found;
    i64 code = 0;
  } const cases[] = {
      {"Calibration", nullptr, kStatusVersionRequired},
      {"Calibration_Ver1.0.0d1", &map},
      {"SubCardFlash", &window},
      {"SubCardFlash_Ver0.0.0d0", &window},
      {"SubCardFlash_Ver000d0", &window},
      {"SubCardFlash_Ver1.0.0d1", nullptr, kStatusNotVersioned},
  };
  for (Case const& c : cases) {
    void* const found = c.name[0] == 'C'
                            ? lookUp<storagemap::StorageMapInterface>(maps, c.name, status)
                            : lookUp<devicewindow::DeviceWindow>(windows, c.name, status);
    EXPECT_EQ(std::tie(found, status.code), std::tie(c.found, c.code)) << c.name;
    status.code = 0;
  }
}

}  // namespace
