// Registries over small stand-in objects and the layer's user memory: lookups
// with and without version suffixes, the listings, the copies to and from
// user space, and what is left behind when an add fails or a registry ends.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

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

constexpr char kLibrary[] = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/";
std::string const kRegistration = std::string(kLibrary) + "Registration";
std::string const kBase = std::string(kLibrary) + "DispatcherBase";
std::string const kWrapper = std::string(kLibrary) + "WrapperDispatcher";
std::string const kVersionFile = std::string(kLibrary) + "Version";
std::string const kDispatcherFile = std::string(kLibrary) + "Dispatcher";

// A map that knows one register (0x80000010, three fields) and notes how
// deep its registration's mutex was held while it answered.
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
    if ((id & 0x00FFFFFF) != 0x10) {
      count = 0;
      setStatus(status, kStatusNotSupported, "fake", 1);
      return;
    }
    static constexpr arm::FieldType kTypes[] = {arm::kFieldBool, arm::kFieldU8, arm::kFieldU32};
    static constexpr u64 kMasks[] = {0x1, 0x1E, 0xFFFF0000};
    if (count < 3) {
      setStatus(status, kStatusBufferTooSmall, "fake", 2);
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

  tMutex* held = nullptr;
  mutable u32 depthSeen = 0;

 private:
  char const* version_;
  char const* oldest_;
};

// Something registered without versions, as a device window is.
struct Window {
  int id;
};

class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    allocations = sim::liveAllocations();
    mutexes = sim::liveMutexes();
  }
  // Whatever a test did, its registries are gone by now: nothing may remain.
  void TearDown() override {
    EXPECT_EQ(sim::liveAllocations(), allocations);
    EXPECT_EQ(sim::liveMutexes(), mutexes);
  }

  void addAll(ARMDispatcher& dispatcher) {
    tLongStatus status;
    dispatcher.add("RM7SlotRegisterMap", slot, status);
    dispatcher.add("DO", outputs, status);
    dispatcher.add("Ranged", ranged, status);
    dispatcher.add("Plain", plain, status);
    expectSite(status, 0, "", 0);
  }

  // A user name buffer: the text without its NUL, plus a byte that is not one.
  void* userName(char const* text, size_t length) {
    std::memset(user.data(), 'Z', user.size());
    std::memcpy(user.data(), text, length);
    return user.data();
  }

  FakeMap slot{"22.8.0f141", "22.8.0f141"};
  FakeMap outputs{"200a13081315", "200a13081315"};
  FakeMap ranged{"2.0.0f5", "1.0.0d1"};
  FakeMap plain{"", ""};
  tEventDescriptor const context{nullptr};
  std::array<char, 8192> user{};
  sim::UserRange range{user.data(), user.size()};
  u64 allocations = 0;
  u64 mutexes = 0;
};

TEST_F(Registry, NamesFindTheirMapsOnlyWithAVersionTheMapAnswersTo) {
  ARMDispatcher dispatcher;
  addAll(dispatcher);
  struct Case {
    char const* name;
    tDynamicAccessInterface* found;
    i64 code;
    std::string const* file;
    u64 line;
  } const cases[] = {
      {"RM7SlotRegisterMap", nullptr, kStatusVersionRequired, &kRegistration, 82},
      {"RM7SlotRegisterMap_Ver", nullptr, kStatusVersionRequired, &kRegistration, 82},
      {"RM7SlotRegisterMap_Ver22.8.0f141", &slot, 0, nullptr, 0},
      {"RM7SlotRegisterMap_Ver22.8.0f140", nullptr, kStatusVersionTooOld, &kRegistration, 114},
      {"RM7SlotRegisterMap_Ver22.8.0f142", &slot, kStatusVersionNewer, &kRegistration, 121},
      {"RM7SlotRegisterMap_Ver4294967318.8.0f141", nullptr, kStatusVersionRange, &kVersionFile,
       174},
      {"DO_Ver200a13081315", &outputs, 0, nullptr, 0},
      {"DO_Ver2.0.0a13081315", &outputs, 0, nullptr, 0},
      {"Ranged_Ver100d1", &ranged, 0, nullptr, 0},
      {"Ranged_Ver1.5.0b3", &ranged, 0, nullptr, 0},
      {"Ranged_Ver2.0.0f5", &ranged, 0, nullptr, 0},
      {"Ranged_Ver2.0.0f6", &ranged, kStatusVersionNewer, &kRegistration, 121},
      {"Ranged_Ver1.0.0d0", nullptr, kStatusVersionTooOld, &kRegistration, 114},
      {"Plain", &plain, 0, nullptr, 0},
      {"Plain_Ver0.0.0d0", &plain, 0, nullptr, 0},
      {"Plain_Ver1.0.0d0", nullptr, kStatusNotVersioned, &kRegistration, 96},
      {"A_VerB_Ver1.0.0d0", nullptr, kStatusVersionText, &kVersionFile, 247},
      {"Missing", nullptr, kStatusRegistrationNotFound, &kBase, 151},
      {"Missing_Ver1.0.0d0", nullptr, kStatusRegistrationNotFound, &kBase, 151},
      {"rm7slotregistermap_Ver22.8.0f141", nullptr, kStatusRegistrationNotFound, &kBase, 151},
      {"RM7SlotRegisterMap_ver22.8.0f141", nullptr, kStatusRegistrationNotFound, &kBase, 151},
      {"DO ", nullptr, kStatusRegistrationNotFound, &kBase, 151},
      {"", nullptr, kStatusRegistrationNotFound, &kBase, 151},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    char const* const file = c.file != nullptr ? c.file->c_str() : "";
    // By a kernel text...
    tLongStatus status;
    tDynamicAccessInterface* found = &slot;
    tMutex* mutex = nullptr;
    dispatcher.getRegistration(c.name, &found, status, &mutex);
    expectSite(status, c.code, file, c.line);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(mutex != nullptr, c.found != nullptr);
    // ... and by a user-space name that is not terminated.
    tLongStatus fromUser;
    found = &slot;
    tMutex* userMutex = nullptr;
    dispatcher.getRegistration(context, userName(c.name, std::strlen(c.name)), std::strlen(c.name),
                               &found, fromUser, &userMutex);
    expectSite(fromUser, c.code, file, c.line);
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(userMutex, mutex);
  }

  tLongStatus status;
  tDynamicAccessInterface* found = &slot;
  dispatcher.getRegistration(nullptr, &found, status, nullptr);
  expectSite(status, kStatusNullName, kBase.c_str(), 264);
  EXPECT_EQ(found, nullptr);  // slot 11 always answers
}

TEST_F(Registry, UnversionedObjectsAnswerOnlyToNoVersion) {
  qvregitools::Dispatcher<Window, qvregitools::WrapperDispatcher> windows;
  Window flash{1};
  tLongStatus status;
  windows.add("fpgaFlashWindow", flash, status);
  struct Case {
    char const* name;
    i64 code;
  } const cases[] = {
      {"fpgaFlashWindow", 0},
      {"fpgaFlashWindow_Ver0.0.0d0", 0},
      {"fpgaFlashWindow_Ver000d0", 0},
      {"fpgaFlashWindow_Ver0.0.0d1", kStatusNotVersioned},
      {"fpgaFlashWindow_Ver1.0.0f0", kStatusNotVersioned},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    tLongStatus lookup;
    Window* found = nullptr;
    windows.getRegistration(c.name, &found, lookup, nullptr);
    EXPECT_EQ(lookup.head.code, c.code);
    EXPECT_EQ(found, c.code == 0 ? &flash : nullptr);
  }
}

TEST_F(Registry, ListingsKeepRegistrationOrderAndTheirExactBytes) {
  ARMDispatcher dispatcher;
  std::string const name63(63, 'x');
  std::string const name64(64, 'y');
  FakeMap maps[7] = {{"", ""}, {"", ""}, {"", ""}, {"", ""}, {"", ""}, {"", ""}, {"", ""}};
  char const* const names[] = {"a", "bc", "a", name63.c_str(), name64.c_str(), "mid", "z"};
  tLongStatus status;
  for (int i = 0; i < 7; ++i) dispatcher.add(names[i], maps[i], status);
  tStatus unused;
  dispatcher.remove("mid", unused);  // the middle one: the others keep their order
  EXPECT_EQ(dispatcher.getNumberOfRegistrations(), 6u);
  EXPECT_EQ(dispatcher.findEntry("a"), 0u);
  EXPECT_EQ(dispatcher.findEntry("z"), 5u);
  EXPECT_EQ(dispatcher.findEntry("mid"), 6u);

  tDynamicAccessInterface* found = nullptr;
  dispatcher.getRegistration("a", &found, status, nullptr);
  EXPECT_EQ(found, &maps[0]);  // the first of two entries of one name

  std::string const list = "a\tbc\ta\t" + name63 + "\t" + name64 + "\tz";
  EXPECT_EQ(dispatcher.getSizeOfRegistrationList(), list.size() + 1);
  qvhtl::String text("left over", status);
  dispatcher.getRegistrationList(text, status);
  EXPECT_EQ(std::string(text.c_str()), list);

  std::vector<char> slots(6 * 64 + 8, '#');
  dispatcher.getRegistrationNames(slots.data(), status);
  EXPECT_STREQ(slots.data() + 0, "a");
  EXPECT_EQ(slots[2], '#');  // nothing after the terminator
  EXPECT_STREQ(slots.data() + 64, "bc");
  EXPECT_EQ(std::string(slots.data() + 3 * 64), name63);
  EXPECT_EQ(std::string(slots.data() + 4 * 64, 64), name64);
  EXPECT_EQ(slots[5 * 64 - 1], 'y');  // no terminator for 64 characters
  EXPECT_STREQ(slots.data() + 5 * 64, "z");
  EXPECT_EQ(slots[6 * 64], '#');
  expectSite(status, 0, "", 0);

  // To user space: the names zero-padded in all their slots, the list
  // without a terminator.
  sim::clearUserCopies();
  std::memset(user.data(), '#', user.size());
  dispatcher.getRegistrationNames(context, user.data(), status);
  EXPECT_EQ(std::memcmp(user.data() + 64, "bc\0\0", 4), 0);
  EXPECT_EQ(user[6 * 64 - 1], '\0');
  EXPECT_EQ(user[6 * 64], '#');
  std::memset(user.data(), '#', user.size());
  dispatcher.getRegistrationList(context, user.data(), status);
  EXPECT_EQ(std::string(user.data(), list.size()), list);
  EXPECT_EQ(user[list.size()], '#');
  expectSite(status, 0, "", 0);
  ASSERT_EQ(sim::userCopies().size(), 2u);
  EXPECT_EQ(sim::userCopies()[0].count, 6u * 64);
  EXPECT_EQ(sim::userCopies()[1].count, list.size());

  // An empty first name puts no tab in front of the next.
  ARMDispatcher quirky;
  quirky.add("", maps[0], status);
  quirky.add("b", maps[1], status);
  dispatcher.getRegistrationList(text, status);
  quirky.getRegistrationList(text, status);
  EXPECT_STREQ(text.c_str(), "b");
  EXPECT_EQ(quirky.getSizeOfRegistrationList(), 2u);
}

TEST_F(Registry, UserSpaceCopiesRefuseBadAddressesAndSizesBeforeAllocating) {
  ARMDispatcher dispatcher;
  addAll(dispatcher);
  char outside[16] = {};
  constexpr u64 kHuge = ~u64{0};
  struct Case {
    char const* what;
    void* name;
    u64 size;
    i64 code;
    std::string file;
    u64 line;
  } const cases[] = {
      {"size that wraps size + 1", user.data(), kHuge, kStatusBadArgument, kDispatcherFile, 58},
      {"size of 4 GiB", user.data(), u64{1} << 32, kStatusBadArgument, kDispatcherFile, 58},
      {"one byte above the bound", user.data(), qvregitools::kLargestUserNameSize + 1,
       kStatusBadArgument, kDispatcherFile, 58},
      {"name outside user memory", outside, 5, kStatusBadArgument, "tUserBuffer", 44},
      {"null name", nullptr, 5, kStatusBadArgument, "tUserBuffer", 44},
      {"the bound itself", user.data(), qvregitools::kLargestUserNameSize,
       kStatusRegistrationNotFound, kBase, 151},
      {"no bytes at all", nullptr, 0, kStatusRegistrationNotFound, kBase, 151},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(user.data(), 'Q', user.size());
    u64 const before = sim::totalAllocations();
    tLongStatus status;
    tDynamicAccessInterface* found = &slot;
    dispatcher.getRegistration(context, c.name, c.size, &found, status, nullptr);
    expectSite(status, c.code, c.file.c_str(), c.line);
    EXPECT_EQ(found, nullptr);
    if (c.line == 58) {
      EXPECT_EQ(sim::totalAllocations(), before);
    }
  }

  // A name ends at its first NUL, whatever size the caller gave.
  tLongStatus status;
  tDynamicAccessInterface* found = nullptr;
  dispatcher.getRegistration(context, userName("Plain\0junk", 10), 10, &found, status, nullptr);
  EXPECT_EQ(found, &plain);

  // Listings to an address outside user memory.
  dispatcher.getRegistrationNames(context, outside, status);
  expectSite(status, kStatusBadArgument, "tUserBuffer", 57);
  tLongStatus list;
  dispatcher.getRegistrationList(context, outside, list);
  expectSite(list, kStatusBadArgument, "tUserBuffer", 57);

  // An empty registry lists no names (-240031) and an empty list, copying
  // nothing either way.
  ARMDispatcher empty;
  sim::clearUserCopies();
  tLongStatus none;
  empty.getRegistrationList(context, user.data(), none);
  expectSite(none, 0, "", 0);
  empty.getRegistrationNames(context, user.data(), none);
  expectSite(none, kStatusNullName, kBase.c_str(), 179);
  EXPECT_TRUE(sim::userCopies().empty());

  // getUserBytes is the same bounded copy.
  tLongStatus bytes;
  unsigned char into[4] = {};
  dispatcher.getUserBytes(context, user.data(), 4, into, bytes);
  EXPECT_EQ(std::memcmp(into, "Plai", 4), 0);
  dispatcher.getUserBytes(context, outside, 4, into, bytes);
  expectSite(bytes, kStatusBadArgument, "tUserBuffer", 44);
}

TEST_F(Registry, RegisterFormatsGoOutUnderTheMapsMutexAndItIsAlwaysGivenBack) {
  ARMDispatcher dispatcher;
  addAll(dispatcher);
  tMutex* mutex = nullptr;
  tDynamicAccessInterface* found = nullptr;
  tStatus lookup;
  dispatcher.getRegistration("Ranged_Ver2.0.0f5", &found, lookup, &mutex);
  ASSERT_NE(mutex, nullptr);
  ranged.held = mutex;
  u64 const handle = mutex->kernelHandle();

  char outside[64] = {};
  char* const types = user.data();
  char* const masks = user.data() + 64;
  struct Case {
    char const* what;
    char const* name;
    u32 id;
    void* types;
    i64 code;
    char const* file;
    u64 line;
    u32 count;
  } const cases[] = {
      {"a field ID names its register", "Ranged_Ver2.0.0f5", 0x22000010, types, 0, "", 0, 3},
      {"the read view", "Ranged_Ver2.0.0f5", 0xC0000010, types, 0, "", 0, 3},
      {"newer version: copied with a warning", "Ranged_Ver3.0.0d0", 0x80000010, types,
       kStatusVersionNewer, kRegistration.c_str(), 121, 3},
      {"unknown register", "Ranged_Ver2.0.0f5", 0x80000014, types, kStatusNotSupported, "fake", 1,
       0},
      {"types outside user memory", "Ranged_Ver2.0.0f5", 0x80000010, outside, kStatusBadArgument,
       "tUserBuffer", 57, 3},
      {"no such map", "Gone", 0x80000010, types, kStatusRegistrationNotFound, kBase.c_str(), 151,
       99},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(user.data() + 4096, 0, 64);
    std::memcpy(user.data() + 4096, c.name, std::strlen(c.name));
    std::memset(user.data(), '#', 256);
    ranged.depthSeen = 0;
    u64 const acquires = sim::mutexAcquireCount(handle);
    tLongStatus status;
    u32 count = 99;
    dispatcher.getRegisterFormat(context, user.data() + 4096, std::strlen(c.name), c.id, count,
                                 c.types, masks, status);
    expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(count, c.count);
    bool const reached = c.count != 99;
    EXPECT_EQ(ranged.depthSeen, reached ? 1u : 0u);
    EXPECT_EQ(sim::mutexAcquireCount(handle), acquires + (reached ? 1 : 0));
    EXPECT_EQ(sim::mutexReleaseCount(handle), sim::mutexAcquireCount(handle));
    bool const copied = c.code >= 0;
    EXPECT_EQ(std::memcmp(types, "\x00\x01\x03#", 4) == 0, copied);
    u64 mask = 0;
    std::memcpy(&mask, masks + 16, 8);
    EXPECT_EQ(mask, copied ? 0xFFFF0000u : 0x2323232323232323u);
  }

  // The same thread holding the mutex already: no second kernel acquire.
  mutex->acquire();
  u64 const acquires = sim::mutexAcquireCount(handle);
  std::memcpy(user.data() + 4096, "Ranged_Ver2.0.0f5", 17);
  tLongStatus status;
  u32 count = 0;
  dispatcher.getRegisterFormat(context, user.data() + 4096, 17, 0x80000010, count, types, masks,
                               status);
  EXPECT_EQ(ranged.depthSeen, 2u);
  EXPECT_EQ(sim::mutexAcquireCount(handle), acquires);
  EXPECT_EQ(mutex->depth(), 1u);
  mutex->release();
}

TEST_F(Registry, AFailedAddLeavesNothingBehindAndNeverDestroysAMissingMutex) {
  ARMDispatcher dispatcher;
  FakeMap broken{"1.0.0", "1.0.0d0"};
  FakeMap backwards{"1.0.0d0", "x"};
  struct Case {
    char const* what;
    char const* import;  // failed once, at its nth call
    u64 nth;
    char const* name;
    FakeMap* map;
    i64 code;
    char const* file;
    u64 line;
  } const cases[] = {
      {"no memory for the wrapper", "nQVZOR100_malloc", 1, "X", &slot, kStatusMemoryFull, "memory",
       393},
      {"no mutex", "nQVZOR150_createMutex", 1, "X", &slot, kStatusMemoryFull, "synchronization",
       823},
      {"no memory for the name", "nQVZOR100_malloc", 2, "X", &slot, kStatusMemoryFull, "memory",
       520},
      {"no memory for the entries", "nQVZOR100_malloc", 3, "X", &slot, kStatusMemoryFull, "memory",
       520},
      {"bad version text", nullptr, 0, "X", &broken, kStatusVersionText, kVersionFile.c_str(), 201},
      {"bad oldest version text", nullptr, 0, "X", &backwards, kStatusVersionText,
       kVersionFile.c_str(), 75},
      {"null name", nullptr, 0, nullptr, &slot, kStatusNullName, kBase.c_str(), 264},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    sim::reset();
    if (c.import != nullptr) sim::failNthCall(c.import, c.nth);
    sim::enableCallLog(true);
    tLongStatus status;
    dispatcher.add(c.name, *c.map, status);
    expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(dispatcher.getNumberOfRegistrations(), 0u);
    EXPECT_EQ(sim::liveAllocations(), allocations);
    EXPECT_EQ(sim::liveMutexes(), mutexes);
    // A mutex is given back only when one was made.
    EXPECT_EQ(sim::callCount("nQVZOR150_destroyMutex"),
              sim::callCount("nQVZOR150_createMutex") - (c.line == 823 ? 1 : 0));
  }
  sim::reset();

  // An add on a failed status does nothing at all.
  tLongStatus failed;
  failed.head.code = -1;
  dispatcher.add("X", slot, failed);
  EXPECT_EQ(dispatcher.getNumberOfRegistrations(), 0u);
}

TEST_F(Registry, RemovalsReportByLayerAndTheEndDeletesEveryWrapperWhateverItsName) {
  {
    ARMDispatcher dispatcher;
    addAll(dispatcher);
    // Names the tab-joined list cannot give back one by one.
    FakeMap more[4] = {{"", ""}, {"", ""}, {"", ""}, {"", ""}};
    tLongStatus status;
    dispatcher.add("with\ttab", more[0], status);
    dispatcher.add("", more[1], status);
    dispatcher.add("Plain", more[2], status);
    dispatcher.add("", more[3], status);
    EXPECT_EQ(sim::liveMutexes(), mutexes + 8);

    // The wrapper layer removes whatever the status holds.
    tLongStatus removal;
    removal.head.code = -7;
    EXPECT_EQ(dispatcher.remove("DO", removal), nullptr);
    EXPECT_EQ(dispatcher.findEntry("DO"), dispatcher.getNumberOfRegistrations());
    tLongStatus missing;
    dispatcher.remove("DO", missing);
    expectSite(missing, kStatusRegistrationNotFound, kWrapper.c_str(), 98);
    tLongStatus null;
    dispatcher.remove(nullptr, null);
    expectSite(null, kStatusNullName, kWrapper.c_str(), 91);
    EXPECT_EQ(dispatcher.remove("Missing"), nullptr);
    EXPECT_EQ(sim::liveMutexes(), mutexes + 7);
  }

  // The base layer hands the wrapper over instead of deleting it.
  qvregitools::DispatcherBase<qvregitools::RegistrationWrapper<tDynamicAccessInterface>> base;
  tLongStatus status;
  auto* wrapper = createObject<qvregitools::RegistrationWrapper<tDynamicAccessInterface>>(
      status, 0, qvregitools::Version(), qvregitools::Version(), plain, status);
  base.add("Plain", *wrapper, status);
  base.remove("Missing", status);
  expectSite(status, kStatusRegistrationNotFound, kBase.c_str(), 115);
  tLongStatus null;
  base.remove(nullptr, null);
  expectSite(null, kStatusNullName, kBase.c_str(), 264);
  tLongStatus clean;
  EXPECT_EQ(base.remove("Plain", clean), wrapper);
  EXPECT_EQ(base.getNumberOfRegistrations(), 0u);
  delete wrapper;
}

}  // namespace
