// Registries over stand-in maps and the layer's user memory. Every test ends
// with its registries gone and must leave no block and no mutex behind.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "host/layer/control.h"
#include "host/layer/syncControl.h"
#include "host/layer/user.h"
#include "platform/statusCodes.h"
#include "registers/armDispatcher.h"
#include "support/expectSite.h"

namespace {

using namespace qvrm7_driver;
using namespace qvrm7_driver::nQVWEND000;
using arm::tDynamicAccessInterface;
using armki::ARMDispatcher;
using nQVWENDS100::tLongStatus;
using testing_support::expectSite;

std::string const kLibrary = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/";
std::string const kRegistration = kLibrary + "Registration";
std::string const kBase = kLibrary + "DispatcherBase";

// Knows one register at offset 0x10 with three fields; notes how deep its
// registration's mutex was held while it answered.
class FakeMap final : public tDynamicAccessInterface {
 public:
  FakeMap(char const* version, char const* oldest) : version_(version), oldest_(oldest) {}
  void get(u32, u64&, tStatus&, u32) override {}
  void set(u32, u64, tStatus&, u32) override {}
  void read(u32, u64&, tStatus&, u32) override {}
  void write(u32, u64, bool, tStatus&, u32) override {}
  void flush(u32, bool, tStatus&, u32) override {}
  void refresh(u32, tStatus&, u32) override {}
  void getRegisterFormat(u32 id, u32& count, arm::FieldType* types, u64* masks,
                         tStatus& status) const override {
    depthSeen = held != nullptr ? held->depth() : 0;
    if ((id & 0xFFFFFF) != 0x10) {
      count = 0;
      setStatus(status, kStatusNotSupported, StatusSite{"fake", 1});
      return;
    }
    count = 3;
    std::memcpy(types, kTypes, sizeof kTypes);
    std::memcpy(masks, kMasks, sizeof kMasks);
  }
  void flushRegMap(bool, tStatus&) override {}
  void refreshRegMap(tStatus&) override {}
  void markDirtyRegMap() override {}
  char const* getVersion() const override { return version_; }
  char const* getOldestCompatibleVersion() const override { return oldest_; }

  static constexpr arm::FieldType kTypes[3] = {arm::kFieldBool, arm::kFieldU8, arm::kFieldU32};
  static constexpr u64 kMasks[3] = {0x1, 0x1E, 0xFFFF0000};
  tMutex* held = nullptr;
  mutable u32 depthSeen = 0;

 private:
  char const* version_;
  char const* oldest_;
};

// Registered without versions, as a device window is.
struct Window {};

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    allocations = sim::liveAllocations();
    mutexes = sim::liveMutexes();
    tLongStatus status;
    registry.emplace();
    registry->add("RM7SlotRegisterMap", slot, status);
    registry->add("Ranged", ranged, status);
    registry->add("Plain", plain, status);
    EXPECT_EQ(status.head.code, 0);
  }
  void TearDown() override {
    registry.reset();
    EXPECT_EQ(sim::liveAllocations(), allocations);
    EXPECT_EQ(sim::liveMutexes(), mutexes);
  }
  // The text in user memory, without a terminator.
  void* inUser(char const* text, size_t length) {
    std::memset(user.data(), 'Z', user.size());
    std::memcpy(user.data(), text, length);
    return user.data();
  }

  FakeMap slot{"22.8.0f141", "22.8.0f141"};
  FakeMap ranged{"2.0.0f5", "100d1"};
  FakeMap plain{"", ""};
  std::optional<ARMDispatcher> registry;
  ARMDispatcher& dispatcher = *registry;
  tEventDescriptor const context{nullptr};
  std::array<char, 8192> user{};
  sim::UserRange range{user.data(), user.size()};
  u64 allocations = 0;
  u64 mutexes = 0;
};

TEST_F(Registry, NamesFindTheirObjectsOnlyWithAVersionTheyAnswerTo) {
  struct Case {
    char const* name;
    FakeMap* found;
    i64 code;
    std::string file;
    u64 line;
  } const cases[] = {
      {"RM7SlotRegisterMap", nullptr, kStatusVersionRequired, kRegistration, 82},
      {"RM7SlotRegisterMap_Ver", nullptr, kStatusVersionRequired, kRegistration, 82},
      {"RM7SlotRegisterMap_Ver22.8.0f141", &slot, 0, "", 0},
      {"Ranged_Ver100d1", &ranged, 0, "", 0},
      {"Ranged_Ver2.0.0f5", &ranged, 0, "", 0},
      {"Ranged_Ver2.0.0f6", &ranged, kStatusVersionNewer, kRegistration, 121},
      {"Ranged_Ver1.0.0d0", nullptr, kStatusVersionTooOld, kRegistration, 114},
      {"Plain", &plain, 0, "", 0},
      {"Plain_Ver0.0.0d0", &plain, 0, "", 0},
      {"Plain_Ver1.0.0d0", nullptr, kStatusNotVersioned, kRegistration, 96},
      {"A_VerB_Ver1.0.0d0", nullptr, kStatusVersionText, kLibrary + "Version", 247},
      {"Ranged_Ver4294967298.0.0d1", nullptr, kStatusVersionRange, kLibrary + "Version", 174},
      {"Ranged_ver2.0.0f5", nullptr, kStatusRegistrationNotFound, kBase, 151},
      {"", nullptr, kStatusRegistrationNotFound, kBase, 151},
  };
  auto const expectOutcome = [](tLongStatus const& status, Case const& c) {
    if (c.code == 0) {
      EXPECT_EQ(status.head.code, 0);
    } else {
      expectSite(status, c.code, c.file.c_str(), c.line);
    }
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    // By a kernel text, and by a user-space name without a terminator.
    tLongStatus status;
    tDynamicAccessInterface* found = &slot;
    tMutex* mutex = nullptr;
    dispatcher.getRegistration(c.name, &found, status, &mutex);
    expectOutcome(status, c);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(mutex != nullptr, c.found != nullptr);
    tLongStatus fromUser;
    tMutex* userMutex = nullptr;
    size_t const length = std::strlen(c.name);
    dispatcher.getRegistration(context, inUser(c.name, length), length, &found, fromUser,
                               &userMutex);
    expectOutcome(fromUser, c);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(userMutex, mutex);
  }

  qvregitools::Dispatcher<Window, qvregitools::WrapperDispatcher> windows;
  Window flash;
  tStatus status;
  windows.add("fpgaFlashWindow", flash, status);
  for (char const* name :
       {"fpgaFlashWindow", "fpgaFlashWindow_Ver0.0.0d0", "fpgaFlashWindow_Ver1.0.0d0"}) {
    Window* found = nullptr;
    windows.getRegistration(name, &found, status, nullptr);
    EXPECT_EQ(found, status.code == 0 ? &flash : nullptr) << name;
  }
  EXPECT_EQ(status.code, kStatusNotVersioned);
}

TEST_F(Registry, UserSpaceCopiesRefuseBadAddressesAndSizesBeforeAllocating) {
  char outside[64] = {};
  struct Case {
    void* name;
    u64 size;
    i64 code;
    std::string file;
    u64 line;
  } const cases[] = {
      {user.data(), ~u64{0}, kStatusBadArgument, kLibrary + "Dispatcher", 58},
      {user.data(), u64{1} << 32, kStatusBadArgument, kLibrary + "Dispatcher", 58},
      {user.data(), qvregitools::kLargestUserNameSize + 1, kStatusBadArgument,
       kLibrary + "Dispatcher", 58},
      {outside, 5, kStatusBadArgument, "tUserBuffer", 44},
      {user.data(), qvregitools::kLargestUserNameSize, kStatusRegistrationNotFound, kBase, 151},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.size);
    u64 const before = sim::totalAllocations();
    tLongStatus status;
    tDynamicAccessInterface* found = &slot;
    dispatcher.getRegistration(context, c.name, c.size, &found, status, nullptr);
    expectSite(status, c.code, c.file.c_str(), c.line);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(sim::totalAllocations() == before, c.line == 58);
  }

  // Names in 64-byte slots, zero-padded; the list without its terminator.
  tLongStatus status;
  std::memset(user.data(), '#', user.size());
  dispatcher.getRegistrationNames(context, user.data(), status);
  EXPECT_EQ(std::memcmp(user.data() + 64, "Ranged\0\0", 8), 0);
  EXPECT_EQ(user[3 * 64 - 1], '\0');
  EXPECT_EQ(user[3 * 64], '#');
  std::string const list = "RM7SlotRegisterMap\tRanged\tPlain";
  EXPECT_EQ(dispatcher.getSizeOfRegistrationList(), list.size() + 1);
  std::memset(user.data(), '#', user.size());
  dispatcher.getRegistrationList(context, user.data(), status);
  EXPECT_EQ(std::string(user.data(), list.size() + 1), list + "#");
  EXPECT_EQ(status.head.code, 0);
  using Listing = void (ARMDispatcher::*)(tEventDescriptor const&, void*, tStatus&) const;
  for (Listing listing : {Listing{&ARMDispatcher::getRegistrationNames},
                          Listing{&ARMDispatcher::getRegistrationList}}) {
    tLongStatus refused;
    (dispatcher.*listing)(context, outside, refused);
    expectSite(refused, kStatusBadArgument, "tUserBuffer", 57);
  }
  ARMDispatcher empty;
  sim::clearUserCopies();
  empty.getRegistrationList(context, user.data(), status);
  EXPECT_EQ(status.head.code, 0);
  empty.getRegistrationNames(context, user.data(), status);
  expectSite(status, kStatusNullName, kBase.c_str(), 179);
  EXPECT_TRUE(sim::userCopies().empty());

  // Formats go out under the map's mutex, which is always given back.
  tMutex* mutex = nullptr;
  tDynamicAccessInterface* found = nullptr;
  tStatus lookup;
  dispatcher.getRegistration("Ranged_Ver2.0.0f5", &found, lookup, &mutex);
  ASSERT_NE(mutex, nullptr);
  ranged.held = mutex;
  char* const name = user.data() + 4096;
  std::memcpy(name, "Ranged_Ver2.0.0f5", 17);
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
    tLongStatus formatStatus;
    u32 count = 99;
    dispatcher.getRegisterFormat(context, name, 17, f.id, count, f.types, user.data() + 64,
                                 formatStatus);
    EXPECT_EQ(formatStatus.head.code, f.code);
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
    std::string file;
    u64 line;
  } const cases[] = {
      {"nQVZOR100_malloc", &slot, kStatusMemoryFull, "memory", 393},
      {"nQVZOR150_createMutex", &slot, kStatusMemoryFull, "synchronization", 823},
      {nullptr, &broken, kStatusVersionText, kLibrary + "Version", 201},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.line);
    sim::reset();
    if (c.import != nullptr) sim::failNthCall(c.import, 1);
    sim::enableCallLog(true);
    tLongStatus status;
    dispatcher.add("Extra", *c.map, status);
    expectSite(status, c.code, c.file.c_str(), c.line);
    EXPECT_EQ(dispatcher.getNumberOfRegistrations(), 3u);
    EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"), 0u);  // none made, none destroyed
  }
  sim::reset();

  // A teardown removes whatever its status holds.
  tLongStatus failed;
  failed.head.code = -7;
  dispatcher.remove("Plain", failed);
  EXPECT_EQ(dispatcher.findEntry("Plain"), 2u);
  // Names that the tab-joined list cannot give back one by one; the fixture
  // checks that their wrappers and mutexes go with the registry.
  tStatus status;
  dispatcher.add("with\ttab", plain, status);
  dispatcher.add("", plain, status);
  dispatcher.add("", plain, status);
  EXPECT_EQ(sim::liveMutexes(), mutexes + 5);
}

}  // namespace
