#include "source/qvrm7_driver/startup/RM7Helper.h"

#include "platform/debugPrint.h"
#include "platform/memory.h"
#include "registers/armDispatcher.h"
#include "source/qvrm7_driver/RM7Device.h"
#include "source/qvrm7_driver/RM7RegMaps.h"
#include "source/qvrm7_driver/TMR9RegMaps.h"
#include "source/qvrm7_driver/controllers/CommandFIFOController.h"
#include "source/qvrm7_driver/controllers/TemperatureMeasurementController.h"
#include "storage/simpleSignatureChecker.h"

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

// What the bridge chip's core block reads at offset 0.
constexpr u32 kVexusSignature = 0xC0107AD0;
using tVexusSignatureChecker =
    atut::SimpleSignatureChecker<vexustools::tVexusWithOffset<0u>::tSignature, kVexusSignature>;
constexpr StatusSite kWrongVexusSignatureSite{"RM7Helper", 97};

// What the FPGA's base block reads at offset 0 once the FPGA is configured.
constexpr u32 kFPGASignature = 0xB6B66BB7;
using tFPGASignatureChecker =
    atut::SimpleSignatureChecker<tRM7BaseRegMap::tSignatureReg, kFPGASignature>;

}  // namespace

char const* setupLevelName(u32 level) {
  return level <= kSetupLevelComplete ? kLevelNames[level] : "invalid";
}

RM7Helper::RM7Helper(RM7Device& device, tStatus& status)
    : device_(device),
      registerBAR_(0),
      dispatcher_(nullptr),
      tmr9RegMaps_(nullptr),
      rm7RegMaps_(nullptr),
      commandFIFO_(nullptr),
      temperature_(nullptr) {
  registerBAR_ = device.mapBAR(kRegisterBAR, status, kRegisterBARMode);
  if (status.isNotFatal()) reach(kSetupLevelBARMapped);

  dispatcher_ = createObject<armki::ARMDispatcher>(status);
  if (status.isNotFatal())
    tmr9RegMaps_ = createObject<TMR9RegMaps>(status, registerBAR_, *dispatcher_, status);
  if (status.isNotFatal()) reach(kSetupLevelTMR9ObjectsBuilt);

  // Nothing has been written to the module yet: whatever sits behind the BAR
  // when the bridge chip does not answer with its signature is left as it is.
  if (status.isNotFatal())
    tVexusSignatureChecker(tmr9RegMaps_->vexusSignature(), kWrongVexusSignatureSite)
        .checkHardwareState(status);
  if (status.isNotFatal()) reach(kSetupLevelVexusSignatureChecked);

  if (status.isNotFatal())
    rm7RegMaps_ = createObject<RM7RegMaps>(status, registerBAR_, *dispatcher_, status);
  if (status.isNotFatal()) reach(kSetupLevelRM7RegMapsBuilt);

  // No request reaches the maps while the setup runs: the IO gate opens
  // once it is done.
  if (status.isNotFatal())
    tFPGASignatureChecker(rm7RegMaps_->base().signature()).checkHardwareState(status);
  buildControllers(status);
  if (status.isNotFatal()) reach(kSetupLevelRM7ObjectsBuilt);

  if (status.isNotFatal()) reach(kSetupLevelComplete);
  debugLinePrintfLevel(kSetupDebugLevel, &kSetupEndLine, "setup of device %p reached %s",
                       static_cast<void*>(&device), setupLevelName(device.setupLevel()));
}

// Last first. The containers take their registrations out before their maps
// go; whatever is left goes with the dispatcher, which never deletes a map.
RM7Helper::~RM7Helper() {
  destroyObject(temperature_);
  destroyObject(commandFIFO_);
  destroyObject(rm7RegMaps_);
  destroyObject(tmr9RegMaps_);
  destroyObject(dispatcher_);
  device_.unmapBAR(kRegisterBAR, registerBAR_, kRegisterBARMode);
}

// The command FIFO controller works on the source-stream map's records under
// the lock that its registration gives every user of that map; the
// temperature sensor's map is the temperature controller's alone.
void RM7Helper::buildControllers(tStatus& status) {
  if (status.isFatal()) return;
  tMutex* const sourceStreams =
      registrationMutex(*dispatcher_, rm7RegMaps_->sourceStreamsRegistration(), status);
  if (status.isNotFatal())
    commandFIFO_ =
        createObject<CommandFIFOController>(status, rm7RegMaps_->sourceStreams(), *sourceStreams);
  temperature_ = createObject<TemperatureMeasurementController>(status);
}

void RM7Helper::reach(RM7DeviceSetupLevel level) { device_.setSetupLevel(level); }

}  // namespace qvrm7_driver
