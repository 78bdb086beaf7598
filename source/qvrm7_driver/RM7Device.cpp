#include "source/qvrm7_driver/RM7Device.h"

#include "platform/debugPrint.h"
#include "platform/deviceFactory.h"
#include "platform/memory.h"
#include "platform/safeCast.h"
#include "platform/statusCodes.h"
#include "platform/userBuffer.h"
#include "platform/vexusAccessor.h"
#include "registers/armDispatcher.h"
#include "source/qvrm7_driver/startup/RM7Helper.h"
#include "source/qvrm7_driver/switchstate/AutoIOGate.h"
#include "source/qvrm7_driver/switchstate/KernelSession.h"

namespace qvrm7_driver {

using namespace nQVWEND000;

namespace {

// Attribute records, in publishing order.
enum : u32 { kGeographicAddress, kSerialNumber, kManufacturerName, kModelName };

// The module's stored identity is not read: its texts stay empty.
constexpr char kUnknownText[] = "";

// Listing buffers too small for what the operation would copy.
constexpr char kDeviceFile[] = "RM7Device";
constexpr StatusSite kShortNamesBufferSite{kDeviceFile, 412};
constexpr StatusSite kShortListBufferSite{kDeviceFile, 431};
constexpr StatusSite kShortFormatBufferSite{kDeviceFile, 452};

// The element index as a map slot takes it. Cut as it is passed, so that an
// index too wide is refused once the map is found, and the slot, seeing the
// error, returns at once.
u32 elementIndex(u32 index, tStatus& status) {
  return safeCast<kArmElementIndexBits>(index, status);
}

// "RM7-" and the subsystem ID in four upper-case hex digits, made here
// rather than by the layer's formatter, whose failure would publish an
// empty model name on a device reported ready.
constexpr char kModelPrefix[] = "RM7-";
constexpr u64 kModelDigits = 4;

void makeModelName(char* name, u32 subsystemID) {
  constexpr char kHexDigits[] = "0123456789ABCDEF";
  u64 at = 0;
  for (char const* c = kModelPrefix; *c != '\0'; ++c) name[at++] = *c;
  for (u64 digit = kModelDigits; digit-- > 0;)
    name[at++] = kHexDigits[subsystemID >> 4 * digit & 0xF];
  name[at] = '\0';
}

}  // namespace

RM7Device::RM7Device(tPCIDescription const& description, tStatus& status)
    : tPCIDevice(description, status),
      interface_(this),
      interfaceList_{&interface_, nullptr},
      attributes_{{"pxiGeographicAddress", kPropertyUInt32, 0, 0},
                  {"serialNumber", kPropertyText, 0, 0},
                  {"manufacturerName", kPropertyText, 0, 0},
                  {"modelName", kPropertyText, 0, 0}},
      attributeList_{},
      mutex_(status),
      status_{},
      setupLevel_(kSetupLevelNone),
      resetCount_(0),
      helper_(nullptr),
      modelName_{} {}

RM7Device::~RM7Device() { destroyHelper(); }

tDeviceInterface* const* RM7Device::getDeviceInterfaces() { return interfaceList_; }

tPropertyList RM7Device::getDeviceProperties() { return attributeList_; }

// ---- Sessions and requests --------------------------------------------------------

tSession* RM7Device::openSession(tContext context, tDeviceInterface* deviceInterface,
                                 tStatus& status) {
  sass::AutoIOGate gate(*this, context, kOpenLevel, status);
  if (!gate.passed()) return nullptr;
  tMutexGuard guard(mutex_);
  auto* const session =
      createObject<sass::KernelSession>(status, deviceInterface, resetCount_, status);
  // A session without its event is no session: the caller gets none.
  if (session != nullptr && status.isFatal()) {
    delete session;
    return nullptr;
  }
  return session;
}

void RM7Device::destroySession(tContext, tSession* session) { delete session; }

u64 RM7Device::transferNothing(tContext context, tStatus& status) {
  sass::AutoIOGate gate(*this, context, kTransferLevel, status);
  return 0;
}

u64 RM7Device::transferA(tContext context, tUserBuffer&, tStatus& status) {
  return transferNothing(context, status);
}

u64 RM7Device::transferB(tContext context, tUserBuffer&, tStatus& status) {
  return transferNothing(context, status);
}

void RM7Device::mapMemory(tContext context, tUserMemoryMap& map, tStatus& status) {
  sass::AutoIOGate gate(*this, context, kMapLevel, status);
  if (!gate.passed()) return;
  static_cast<sass::KernelSession*>(context.session)->switchStateBuffer().mapInto(map, status);
}

// ---- Register operations ---------------------------------------------------------

armki::ARMDispatcher& RM7Device::registerDispatcher() const {
  return helper_->registerDispatcher();
}

template <class Operation>
void RM7Device::onRegisterMap(tContext context, tArmMapName const& name, tStatus& status,
                              Operation operation) {
  sass::AutoIOGate gate(*this, context, kRegisterLevel, status);
  if (!gate.passed()) return;
  arm::tDynamicAccessInterface* map = nullptr;
  tMutex* mutex = nullptr;
  registerDispatcher().getRegistration(context, userPointer(name.address), name.size, &map, status,
                                       &mutex);
  if (map == nullptr || mutex == nullptr) return;
  tMutexGuard guard(*mutex);
  operation(*map);
}

void RM7Device::arm_get(tContext context, tArmMapName const& name, u32 id, u64& value, u32 index,
                        tStatus& status) {
  onRegisterMap(context, name, status,
                [&](auto& map) { map.get(id, value, status, elementIndex(index, status)); });
}

void RM7Device::arm_set(tContext context, tArmMapName const& name, u32 id, u64 value, u32 index,
                        tStatus& status) {
  onRegisterMap(context, name, status,
                [&](auto& map) { map.set(id, value, status, elementIndex(index, status)); });
}

void RM7Device::arm_read(tContext context, tArmMapName const& name, u32 id, u64& value, u32 index,
                         tStatus& status) {
  onRegisterMap(context, name, status,
                [&](auto& map) { map.read(id, value, status, elementIndex(index, status)); });
}

void RM7Device::arm_write(tContext context, tArmMapName const& name, u32 id, u64 value, bool force,
                          u32 index, tStatus& status) {
  onRegisterMap(context, name, status, [&](auto& map) {
    map.write(id, value, force, status, elementIndex(index, status));
  });
}

void RM7Device::arm_flushRegister(tContext context, tArmMapName const& name, u32 id, bool force,
                                  u32 index, tStatus& status) {
  onRegisterMap(context, name, status,
                [&](auto& map) { map.flush(id, force, status, elementIndex(index, status)); });
}

void RM7Device::arm_refreshRegister(tContext context, tArmMapName const& name, u32 id, u32 index,
                                    tStatus& status) {
  onRegisterMap(context, name, status,
                [&](auto& map) { map.refresh(id, status, elementIndex(index, status)); });
}

void RM7Device::arm_flushRegMap(tContext context, tArmMapName const& name, bool force,
                                tStatus& status) {
  onRegisterMap(context, name, status, [&](auto& map) { map.flushRegMap(force, status); });
}

void RM7Device::arm_getRegisterFormat(tContext context, tArmMapName const& name, u32 id, u32& count,
                                      u64 types, u64 typesSize, u64 masks, u64 masksSize,
                                      tStatus& status) {
  sass::AutoIOGate gate(*this, context, kRegisterLevel, status);
  if (!gate.passed()) return;
  // The map answers only once it is found, and then with up to this many
  // fields.
  if (typesSize < kArmFormatFields || masksSize < kArmFormatFields * sizeof(u64)) {
    setStatus(status, kStatusBadArgument, kShortFormatBufferSite);
    return;
  }
  registerDispatcher().getRegisterFormat(context, userPointer(name.address), name.size, id, count,
                                         userPointer(types), userPointer(masks), status);
}

void RM7Device::arm_getRegistrationNames(tContext context, u64 buffer, u64 size, tStatus& status) {
  sass::AutoIOGate gate(*this, context, kRegisterLevel, status);
  if (!gate.passed()) return;
  armki::ARMDispatcher const& dispatcher = registerDispatcher();
  if (size < dispatcher.getNumberOfRegistrations() * kArmNameSlotSize) {
    setStatus(status, kStatusBadArgument, kShortNamesBufferSite);
    return;
  }
  dispatcher.getRegistrationNames(context, userPointer(buffer), status);
}

void RM7Device::arm_getRegistrationList(tContext context, u64 buffer, u64 size, tStatus& status) {
  sass::AutoIOGate gate(*this, context, kRegisterLevel, status);
  if (!gate.passed()) return;
  armki::ARMDispatcher const& dispatcher = registerDispatcher();
  // Copied without its NUL.
  if (size < dispatcher.getSizeOfRegistrationList() - 1) {
    setStatus(status, kStatusBadArgument, kShortListBufferSite);
    return;
  }
  dispatcher.getRegistrationList(context, userPointer(buffer), status);
}

void RM7Device::arm_getSizeOfRegistrationList(tContext context, u64& size, tStatus& status) {
  sass::AutoIOGate gate(*this, context, kRegisterLevel, status);
  if (!gate.passed()) return;
  size = registerDispatcher().getSizeOfRegistrationList();
}

// ---- Lifecycle -------------------------------------------------------------------

void RM7Device::createHelper(tStatus& status) {
  status_ = tStatus{};
  helper_ = createObject<RM7Helper>(status_, *this, status_);
  mergeStatus(status, status_);
}

void RM7Device::destroyHelper() {
  if (helper_ == nullptr) return;
  destroyObject(helper_);
  helper_ = nullptr;
  setSetupLevel(kSetupLevelNone);
  __atomic_store_n(&resetCount_, resetCount_ + 1, __ATOMIC_RELEASE);
}

void RM7Device::startDevice(tContext, tStatus& status) {
  if (status.isFatal()) return;
  {
    tMutexGuard guard(mutex_);
    createHelper(status);
  }
  if (status.isFatal()) return;
  fillAttributes();
  setIOGateState(kIOGatePass, true);
}

void RM7Device::stopDevice(tContext) {
  tMutexGuard guard(mutex_);
  destroyHelper();
  attributeList_[0] = nullptr;
}

bool RM7Device::suspendIO(tContext context, u32 mode, bool refuseWhenOpen) {
  mutex_.acquire();
  bool const suspended = tPCIDevice::suspendIO(context, mode, refuseWhenOpen);
  mutex_.release();
  if (!suspended) return false;
  tStatus drained;
  drainIO(false, drained, kWaitForever);
  tMutexGuard guard(mutex_);
  destroyHelper();
  return true;
}

void RM7Device::resumeIO(tContext context) {
  {
    tMutexGuard guard(mutex_);
    // A failed setup stays in the device's own status and setup level,
    // where the gate finds it.
    tStatus resumed;
    createHelper(resumed);
  }
  tPCIDevice::resumeIO(context);
}

// ---- Attributes ------------------------------------------------------------------

u32 RM7Device::readGeographicAddress() {
  tStatus status;
  tQVCapabilityPCIAccessor<tVexus> accessor(this, status);
  tGeographicAddress<tVexus> address;
  accessor.getCapability(address, status);
  // The accessor mapped the register BAR for itself.
  unmapBAR(RM7Helper::kRegisterBAR, accessor.mappedAddress(), RM7Helper::kRegisterBARMode);
  return status.isFatal() ? tGeographicAddress<tVexus>::kUnknown : address.geographicAddress;
}

void RM7Device::fillAttributes() {
  static_assert(sizeof kModelPrefix + kModelDigits <= kModelNameSize);
  makeModelName(modelName_, description().subsystemID);
  attributes_[kGeographicAddress].setValue32(readGeographicAddress());
  attributes_[kSerialNumber].setText(kUnknownText);
  attributes_[kManufacturerName].setText(kUnknownText);
  attributes_[kModelName].setText(modelName_);
  for (u32 index = 0; index < kAttributeCount; ++index) attributeList_[index] = &attributes_[index];
  attributeList_[kAttributeCount] = nullptr;
}

}  // namespace qvrm7_driver

namespace qvrm7_driver::nQVWEND000 {

tDevice* createSwitchDevice(tPCIDescription const& description, tStatus& status) {
  return createObject<RM7Device>(status, description, status);
}

}  // namespace qvrm7_driver::nQVWEND000
