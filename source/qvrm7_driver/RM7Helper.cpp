#include "source/qvrm7_driver/RM7Helper.h"

#include "platform/debugPrint.h"
#include "platform/memory.h"
#include "registers/armDispatcher.h"
#include "source/qvrm7_driver/RM7Device.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

constexpr char const* kLevelNames[] = {
    "None",
    "MustResetDevice",
    "BARMapped",
    "TMR9ObjectsBuilt",
    "VexusSignatureChecked",
    "FPGALoaded",
    "RM7RegMapsBuilt",
    "RM7ObjectsBuilt",
    "CapabilitiesFound",
    "ModelControllersBuilt",
    "Complete",
};
static_assert(sizeof kLevelNames / sizeof kLevelNames[0] == kSetupLevelComplete + 1);

constexpr i32 kSetupDebugLevel = 0x4000;
constexpr tLineContext kSetupEndLine{"RM7Helper", 140, "\n"};

}  // namespace

char const* setupLevelName(u32 level) {
  return level <= kSetupLevelComplete ? kLevelNames[level] : "invalid";
}

RM7Helper::RM7Helper(RM7Device& device, tStatus& status)
    : device_(device), registerBAR_(0), dispatcher_(nullptr) {
  registerBAR_ = device.mapBAR(kRegisterBAR, status, kRegisterBARMode);
  if (status.isNotFatal()) reach(kSetupLevelBARMapped);
  dispatcher_ = createObject<armki::ARMDispatcher>(status);

  if (status.isNotFatal()) reach(kSetupLevelComplete);
  debugLinePrintfLevel(kSetupDebugLevel, &kSetupEndLine, "setup of device %p reached %s",
                       static_cast<void*>(&device), setupLevelName(device.setupLevel()));
}

RM7Helper::~RM7Helper() {
  // Whatever registrations are left go with the dispatcher; the maps are
  // not its to delete.
  destroyObject(dispatcher_);
  device_.unmapBAR(kRegisterBAR, registerBAR_, kRegisterBARMode);
}

void RM7Helper::reach(RM7DeviceSetupLevel level) { device_.setSetupLevel(level); }

}  // namespace qvrm7_driver
