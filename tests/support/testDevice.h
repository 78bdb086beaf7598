// A device whose every slot notes its call in a journal the test owns (the
// callbacks may delete the device) and fails where the script says.
// Header-only: the system tests link the real object, which keeps its
// classes to itself.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/lockedState.h"
#include "host/layer/registration.h"
#include "platform/deviceCore.h"
#include "platform/deviceFactory.h"
#include "platform/deviceInterface.h"
#include "platform/memory.h"
#include "platform/session.h"
#include "platform/statusCodes.h"
#include "platform/userBuffer.h"

namespace testing_support {

namespace drv = qvrm7_driver::nQVWEND000;

// -51101 at the layer.
inline constexpr int64_t kScriptedFailure = drv::kStatusNotAvailable;

inline constexpr drv::StatusSite kScriptedSite{"testDevice", 1};

inline void fail(drv::tStatus& status) { drv::setStatus(status, kScriptedFailure, kScriptedSite); }

struct DeviceJournal {
  std::mutex mutex;
  std::vector<std::string> calls;
  drv::tPCIDescription description{};
  size_t devicesCreated = 0;
  // How far remove device had unregistered when the state machine began.
  size_t propertiesGoneAtSuspend = 0;
  size_t interfacesGoneAtSuspend = 0;

  void note(std::string call) {
    std::lock_guard lock(mutex);
    calls.push_back(std::move(call));
    // A journal nobody takes from keeps only its newest calls.
    sim::keepNewest(calls);
  }
  std::vector<std::string> take() {
    std::lock_guard lock(mutex);
    return std::exchange(calls, {});
  }
};

using IoControlScript = std::function<uint32_t(drv::tUserBuffer& input, drv::tUserBuffer& output,
                                               drv::tStatus& status)>;

struct DeviceScript {
  bool failInitialize = false, failStart = false, failOpen = false, refuseMap = false;
  bool returnFailedSession = false;  // open hands back a session it failed to build
  int interfaceCount = 1;            // 0 to 2
  IoControlScript ioControl{};       // empty: the default slot
};

class TestDevice : public drv::tDevice {
  using Context = drv::tEventDescriptor const&;

 public:
  TestDevice(DeviceJournal& journal, DeviceScript const& script, drv::tStatus& status)
      : tDevice(status), journal_(journal), script_(script) {
    for (int i = 0; i < script.interfaceCount; ++i) interfaceList_[i] = &interfaces_[i];
  }
  ~TestDevice() override { journal_.note("destroyed"); }

  using tDeviceCore::setIOGateState;
  drv::tDeviceInterface& deviceInterface(int index) { return interfaces_[index]; }

  drv::tDeviceInterface* const* getDeviceInterfaces() override { return interfaceList_; }
  drv::tPropertyList getDeviceProperties() override { return attributeList_; }
  drv::tPropertyList getBusProperties() override { return busList_; }
  void fillPCIProperties() override { journal_.note("fillPCIProperties"); }
  void busHook() override {}

  void initializeDevice(Context, drv::tStatus& status) override {
    step("initializeDevice", script_.failInitialize, status);
  }
  drv::tSession* openSession(Context, drv::tDeviceInterface* deviceInterface,
                             drv::tStatus& status) override {
    if (step("openSession", script_.failOpen, status)) return nullptr;
    drv::tSession* session = drv::createObject<drv::tSession>(status, deviceInterface, status);
    if (status.isFatal() && !script_.returnFailedSession) delete std::exchange(session, nullptr);
    return session;
  }
  void destroySession(Context, drv::tSession* session) override {
    journal_.note("destroySession");
    delete session;
  }
  uint64_t transferB(Context, drv::tUserBuffer&, drv::tStatus& status) override {
    fail(status);
    return 3;
  }
  uint32_t deviceIOControl(Context context, uint32_t code, drv::tUserBuffer& input,
                           drv::tUserBuffer& output, drv::tStatus& status) override {
    journal_.note("deviceIOControl");
    if (!script_.ioControl) return tDevice::deviceIOControl(context, code, input, output, status);
    // As a real device, only through the gate: a removed device refuses.
    if (!tryEnterIOGate(context.session, status)) return 0;
    uint32_t const written = script_.ioControl(input, output, status);
    releaseIOGate(context.session);
    return written;
  }
  void mapMemory(Context, drv::tUserMemoryMap&, drv::tStatus& status) override {
    step("mapMemory", script_.refuseMap, status);
  }
  void unmapMemory(Context, drv::tUserMemoryMap&) override { journal_.note("unmapMemory"); }
  void startDevice(Context, drv::tStatus& status) override {
    // A real device opens the gate once it is set up.
    if (!step("startDevice", script_.failStart, status)) setIOGateState(drv::kIOGatePass, true);
  }
  void stopDevice(Context) override { journal_.note("stopDevice"); }
  bool suspendIO(Context context, uint32_t mode, bool refuseWhenOpen) override {
    journal_.note("suspendIO");
    journal_.propertiesGoneAtSuspend = sim::propertyUnregistrations().size();
    journal_.interfacesGoneAtSuspend = sim::interfaceUnregistrations().size();
    return tDevice::suspendIO(context, mode, refuseWhenOpen);
  }
  void resumeIO(Context context) override {
    journal_.note("resumeIO");
    tDevice::resumeIO(context);
  }
  void enterSleep(Context) override { journal_.note("enterSleep"); }
  void leaveSleep(Context) override { journal_.note("leaveSleep"); }
  void markNotPresent(Context context) override {
    journal_.note("markNotPresent");
    tDevice::markNotPresent(context);
  }

 private:
  bool step(char const* call, bool failing, drv::tStatus& status) {
    journal_.note(call);
    if (failing) fail(status);
    return failing;
  }

  DeviceJournal& journal_;
  DeviceScript const& script_;  // the test may change it on the way
  // The text attribute has no text yet.
  drv::tPropertyRecord attributes_[2] = {{"serialNumber", drv::kPropertyText, 0, 0},
                                         {"pxiGeographicAddress", drv::kPropertyUInt32, 0, 4}};
  drv::tPropertyRecord busProperties_[2] = {{"busType", drv::kPropertyUInt32, 0, 0x20706369},
                                            {"numaNode", drv::kPropertyInt32, 0, 0}};
  drv::tPropertyRecord interfaceProperties_[2] = {{"interfaceVersion", drv::kPropertyUInt32, 0, 1},
                                                  {"interfaceVersion", drv::kPropertyUInt32, 0, 1}};
  drv::tPropertyRecord* attributeList_[3] = {&attributes_[0], &attributes_[1], nullptr};
  drv::tPropertyRecord* busList_[3] = {&busProperties_[0], &busProperties_[1], nullptr};
  drv::tPropertyRecord* interfacePropertyLists_[2][2] = {{&interfaceProperties_[0], nullptr},
                                                         {&interfaceProperties_[1], nullptr}};
  drv::tDeviceInterface interfaces_[2] = {
      {this, "qvrm7_driver_qvrm7", interfacePropertyLists_[0]},
      {this, "qvrm7_driver_second", interfacePropertyLists_[1]}};
  drv::tDeviceInterface* interfaceList_[3] = {nullptr, nullptr, nullptr};
};

// Supplies the test device as the driver's device class for one scope.
class TestDeviceClass {
 public:
  explicit TestDeviceClass(DeviceScript script = {})
      : script_(std::move(script)), previous_(drv::deviceCreator()) {
    current() = this;
    drv::setDeviceCreator(&create);
  }
  ~TestDeviceClass() {
    drv::setDeviceCreator(previous_);
    current() = nullptr;
  }

  DeviceJournal& journal() { return journal_; }
  DeviceScript& script() { return script_; }

 private:
  static TestDeviceClass*& current() {
    static TestDeviceClass* instance = nullptr;
    return instance;
  }
  static drv::tDevice* create(drv::tPCIDescription const& description, drv::tStatus& status) {
    TestDeviceClass& self = *current();
    self.journal_.description = description;
    ++self.journal_.devicesCreated;
    return drv::createObject<TestDevice>(status, self.journal_, self.script_, status);
  }

  DeviceScript script_;
  drv::tDeviceCreator previous_;
  DeviceJournal journal_;
};

}  // namespace testing_support
