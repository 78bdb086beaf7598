// The storage-map and device-window registries (what a storage map's version
// texts make of its registration, and that a window answers only to its bare
// name or to version 0.0.0d0), and the FPGA's signature check.
#include <gtest/gtest.h>

#include "host/layer/control.h"
#include "platform/memorySpaceAccessor.h"
#include "platform/statusCodes.h"
#include "registers/generated/RM7BaseRegMap.h"
#include "storage/deviceWindowDispatcher.h"
#include "storage/simpleSignatureChecker.h"
#include "storage/storageMapDispatcher.h"
#include "support/expectSite.h"
#include "support/mappedModule.h"

namespace {

using nQVWENDS100::tLongStatus;
using namespace qvrm7_driver::nQVWEND000;

struct FakeStorageMap final : storagemap::StorageMapInterface {
  FakeStorageMap(char const* v, char const* o) : version(v), oldest(o) {}
  char const* getVersion() const override { return version; }
  char const* getOldestCompatibleVersion() const override { return oldest; }
  char const* version;
  char const* oldest;
};

class FakeWindow final : public devicewindow::DeviceWindow {};

constexpr char kRegistration[] = "./dep_mirror/deps/qvRegiTools/includes/qvRegiTools/Registration";

TEST(StorageDispatchersTest, VersionTextsDecideHowAStorageMapIsFound) {
  struct Case {
    char const* version;
    char const* oldest;
    int64_t added;
    char const* name;
    int64_t found;
  };
  Case const cases[] = {
      {"", "", 0, "Calibration", 0},
      {"", "", 0, "Calibration_Ver1.0.0d1", kStatusNotVersioned},
      {"1.0.0d1", "1.0.0d0", 0, "Calibration", kStatusVersionRequired},
      {"1.0.0d1", "1.0.0d0", 0, "Calibration_Ver100d0", 0},
      {"1.0.0", "1.0.0d0", kStatusVersionText, "Calibration", kStatusRegistrationNotFound},
      {"1.0.0d1", "one", kStatusVersionText, "Calibration", kStatusRegistrationNotFound},
  };
  sim::reset();
  for (Case const& c : cases) {
    SCOPED_TRACE(c.name);
    FakeStorageMap map(c.version, c.oldest);
    storagemap::StorageMapDispatcher registry;
    tLongStatus added;
    registry.add("Calibration", map, added);
    EXPECT_EQ(added.head.code, c.added);
    EXPECT_EQ(registry.getNumberOfRegistrations(), c.added == 0 ? 1u : 0u);
    tLongStatus found;
    storagemap::StorageMapInterface* object = nullptr;
    registry.getRegistration(c.name, &object, found, nullptr);
    EXPECT_EQ(found.head.code, c.found);
    EXPECT_EQ(object, found.head.isNotFatal() ? &map : nullptr);
  }
  EXPECT_EQ(sim::liveAllocations(), 0u);
}

TEST(StorageDispatchersTest, AWindowAnswersOnlyToItsBareNameOrVersionNone) {
  sim::reset();
  FakeWindow window;
  devicewindow::DeviceWindowDispatcher registry;
  tLongStatus status;
  registry.add("SubCardFlash", window, status);
  for (char const* name : {"SubCardFlash", "SubCardFlash_Ver0.0.0d0"}) {
    devicewindow::DeviceWindow* found = nullptr;
    registry.getRegistration(name, &found, status, nullptr);
    EXPECT_EQ(found, &window) << name;
  }
  EXPECT_EQ(status.head.code, 0);
  tLongStatus versioned;
  devicewindow::DeviceWindow* found = &window;
  registry.getRegistration("SubCardFlash_Ver1.0.0d1", &found, versioned, nullptr);
  testing_support::expectSite(versioned, kStatusNotVersioned, kRegistration, 96);
  EXPECT_EQ(found, nullptr);
}

TEST(SignatureCheckTest, PassesOnlyOnTheFpgasSignatureAndKeepsAFailedRefresh) {
  using tBase = qvrm7_driver::tRM7BaseRegMap;
  testing_support::MappedModule module;
  tPCIMemorySpaceAccessorDebug<false> accessor{module.bar0() + sim::Rm7Fpga::kBaseBlock, 0xF0};
  tBase map(&accessor, 0, 0, 0xFFFFFFFF);
  atut::SimpleSignatureChecker<tBase::tSignatureReg, 3065408439u> checker(map.signature());
  tLongStatus status;
  checker.checkHardwareState(status);
  EXPECT_EQ(status.head.code, 0);
  module.fpga().base().setReadValue(0x0, 0xB6B66BB6);
  checker.checkHardwareState(status);
  testing_support::expectSite(status, atut::kStatusWrongSignature,
                              "atut/simpleSignatureChecker/SimpleSignatureChecker", 63);
}

}  // namespace
