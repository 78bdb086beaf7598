#include "source/qvrm7_driver/RM7Helper.h"

#include "platform/debugPrint.h"
#include "platform/memory.h"
#include "registers/armDispatcher.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/RM7RegMaps.h"
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"

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
    : device_(device),
      registerBAR_(0),
      dispatcher_(nullptr),
      rm7RegMaps_(nullptr),
      commandFIFO_(nullptr) {
  registerBAR_ = device.mapBAR(kRegisterBAR, status, kRegisterBARMode);
  if (status.isNotFatal()) reach(kSetupLevelBARMapped);

  dispatcher_ = createObject<armki::ARMDispatcher>(status);
  if (status.isNotFatal())
    rm7RegMaps_ = createObject<RM7RegMaps>(status, registerBAR_, *dispatcher_, status);
  if (status.isNotFatal()) reach(kSetupLevelRM7RegMapsBuilt);

  buildControllers(status);
  if (status.isNotFatal()) reach(kSetupLevelRM7ObjectsBuilt);

  if (status.isNotFatal()) reach(kSetupLevelComplete);
  debugLinePrintfLevel(kSetupDebugLevel, &kSetupEndLine, "setup of device %p reached %s",
                       static_cast<void*>(&device), setupLevelName(device.setupLevel()));
}

// Last first. The containers take their registrations out before their maps
// go; whatever is left goes with the dispatcher, which never deletes a map.
RM7Helper::~RM7Helper() {
  destroyObject(commandFIFO_);
  destroyObject(rm7RegMaps_);
  destroyObject(dispatcher_);
  device_.unmapBAR(kRegisterBAR, registerBAR_, kRegisterBARMode);
}

// The command FIFO controller works on the source-stream map's records under
// the lock that its registration gives every user of that map.
void RM7Helper::buildControllers(tStatus& status) {
  if (status.isFatal()) return;
  tMutex* const sourceStreams =
      registrationMutex(*dispatcher_, rm7RegMaps_->sourceStreamsRegistration(), status);
  if (status.isNotFatal())
    commandFIFO_ =
        createObject<CommandFIFOController>(status, rm7RegMaps_->sourceStreams(), *sourceStreams);
}

void RM7Helper::reach(RM7DeviceSetupLevel level) { device_.setSetupLevel(level); }

}  // namespace qvrm7_driver
