// The switch device: the device object that add device makes for every
// supported module. It publishes the interface "qvrm7_driver_qvrm7" and four
// attributes, sets the module up through its RM7Helper, and admits every
// request through the setup-level gate.
//
// Locks, always taken in this order: the IO gate, then the device mutex.
// The mutex guards the helper and every change of the reset count; the
// setup level, and inside the IO gate the reset count, are read without it.
// A register operation, once through the gate, holds only the re-entrant
// mutex of the registration it names, and holds it only around the map's
// slot: the helper cannot go while the request is inside the gate, since
// every path that ends it first closes the gate and drains.
#pragma once

#include "platform/pciDevice.h"
#include "platform/synchronization.h"
#include "source/qvrm7_driver/interface/tInterfaceTemplate_qvrm7.h"
#include "source/qvrm7_driver/startup/RM7DeviceSetupLevel.h"

namespace armki {
class ARMDispatcher;
}

namespace qvrm7_driver {

class RM7Helper;

class RM7Device : public nQVWEND000::tPCIDevice {
  using tContext = nQVWEND000::tEventDescriptor const&;
  using tStatus = nQVWEND000::tStatus;
  using tSession = nQVWEND000::tSession;

 public:
  static constexpr u32 kAttributeCount = 4;
  // "RM7-" and four hex digits of the subsystem ID.
  static constexpr u64 kModelNameSize = 16;

  // The level each kind of request needs. Opening a session needs none, so
  // that user space can reach a device whose setup failed.
  static constexpr u32 kOpenLevel = kSetupLevelNone;
  static constexpr u32 kTransferLevel = kSetupLevelComplete;
  static constexpr u32 kMapLevel = kSetupLevelComplete;
  // Register maps are there from the first container on: the bridge chip's
  // registers can be read while a later step of the setup fails.
  static constexpr u32 kRegisterLevel = kSetupLevelTMR9ObjectsBuilt;

  RM7Device(nQVWEND000::tPCIDescription const& description, tStatus& status);
  // Slots 0 and 1: the helper goes as in stopDevice, then the mutex and the
  // interface.
  ~RM7Device() override;

  // Slots 2 and 3. Both lists are never null; the attributes are complete
  // once the device has started and empty again once it has stopped.
  nQVWEND000::tDeviceInterface* const* getDeviceInterfaces() override;
  nQVWEND000::tPropertyList getDeviceProperties() override;
  // Slots 4 and 6.
  tSession* openSession(tContext context, nQVWEND000::tDeviceInterface* deviceInterface,
                        tStatus& status) override;
  void destroySession(tContext context, tSession* session) override;
  // Slots 7 and 8: admitted at "Complete", and then move nothing.
  u64 transferA(tContext context, nQVWEND000::tUserBuffer& buffer, tStatus& status) override;
  u64 transferB(tContext context, nQVWEND000::tUserBuffer& buffer, tStatus& status) override;
  // Slot 10: the session's switch-state buffer.
  void mapMemory(tContext context, nQVWEND000::tUserMemoryMap& map, tStatus& status) override;
  // Slots 12 to 15.
  void startDevice(tContext context, tStatus& status) override;
  void stopDevice(tContext context) override;
  // Closes or holds the gate and cancels pending requests under the device
  // mutex, drains with the mutex released (a request past the gate may be
  // waiting for it), then ends the helper under it again.
  bool suspendIO(tContext context, u32 mode, bool refuseWhenOpen) override;
  void resumeIO(tContext context) override;

  // Register operations behind the register ioctls. Each passes the gate,
  // finds the named map and calls its slot under the registration's mutex;
  // index is 0 but for the Ex variants, and one of 0x1000000 or more is
  // refused (-52003) as it is passed, so the slot does nothing. The listings
  // go straight to the user addresses given, once their sizes are seen to
  // hold them.
  void arm_get(tContext context, tArmMapName const& name, u32 id, u64& value, u32 index,
               tStatus& status);
  void arm_set(tContext context, tArmMapName const& name, u32 id, u64 value, u32 index,
               tStatus& status);
  void arm_read(tContext context, tArmMapName const& name, u32 id, u64& value, u32 index,
                tStatus& status);
  void arm_write(tContext context, tArmMapName const& name, u32 id, u64 value, bool force,
                 u32 index, tStatus& status);
  void arm_flushRegister(tContext context, tArmMapName const& name, u32 id, bool force, u32 index,
                         tStatus& status);
  void arm_refreshRegister(tContext context, tArmMapName const& name, u32 id, u32 index,
                           tStatus& status);
  void arm_flushRegMap(tContext context, tArmMapName const& name, bool force, tStatus& status);
  void arm_getRegisterFormat(tContext context, tArmMapName const& name, u32 id, u32& count,
                             u64 types, u64 typesSize, u64 masks, u64 masksSize, tStatus& status);
  void arm_getRegistrationNames(tContext context, u64 buffer, u64 size, tStatus& status);
  void arm_getRegistrationList(tContext context, u64 buffer, u64 size, tStatus& status);
  void arm_getSizeOfRegistrationList(tContext context, u64& size, tStatus& status);

  u32 setupLevel() const { return __atomic_load_n(&setupLevel_, __ATOMIC_ACQUIRE); }
  void setSetupLevel(u32 level) { __atomic_store_n(&setupLevel_, level, __ATOMIC_RELEASE); }
  // Moves on each time a helper is ended, under the device mutex and never
  // while a request is inside the IO gate.
  u32 resetCount() const { return __atomic_load_n(&resetCount_, __ATOMIC_ACQUIRE); }
  // What the current setup built; null while the device is stopped. Stable
  // for a request inside the IO gate.
  RM7Helper* helper() const { return helper_; }

 private:
  // Under the device mutex.
  void createHelper(tStatus& status);
  void destroyHelper();
  void fillAttributes();
  u32 readGeographicAddress();
  u64 transferNothing(tContext context, tStatus& status);
  // Only inside the gate at kRegisterLevel or above.
  armki::ARMDispatcher& registerDispatcher() const;
  // operation(map) under the registration's mutex, once gate and lookup
  // have passed.
  template <class Operation>
  void onRegisterMap(tContext context, tArmMapName const& name, tStatus& status,
                     Operation operation);

  tInterfaceTemplate_qvrm7<RM7Device, tSession> interface_;
  nQVWEND000::tDeviceInterface* interfaceList_[2];
  nQVWEND000::tPropertyRecord attributes_[kAttributeCount];
  nQVWEND000::tPropertyRecord* attributeList_[kAttributeCount + 1];
  nQVWEND000::tMutex mutex_;
  // What the latest setup left.
  tStatus status_;
  u32 setupLevel_;
  u32 resetCount_;
  RM7Helper* helper_;
  char modelName_[kModelNameSize];
};

}  // namespace qvrm7_driver
