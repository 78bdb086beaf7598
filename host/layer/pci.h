// The layer's simulated PCI bus: functions with a configuration space and
// memory BARs, the bridges that bus enumeration reports, kernel mappings of
// BAR memory, register access with optional register models, interrupts,
// and the plug-in and removal of a function as a kernel does on hot-plug.
// Tests and the main program build devices here; the driver reaches them
// only through the imports of platform/kernelServices.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/kernelServices.h"

namespace sim {

// ---- Configuration space --------------------------------------------------
// Bytes the bus sees, with a mask per byte of the bits a configuration
// write may change; every other bit is read-only. Writes to bits that read
// back as status (write-one-to-clear) are not modelled: such bits are
// read-only here.
class ConfigSpace {
 public:
  explicit ConfigSpace(uint32_t size);  // 256, or 4096 for PCI Express
  ConfigSpace(ConfigSpace const&) = delete;
  ConfigSpace& operator=(ConfigSpace const&) = delete;

  uint32_t size() const { return static_cast<uint32_t>(bytes_.size()); }

  // The bus side: false when the access is outside the space or not
  // naturally aligned, and then nothing is read or written.
  bool read(uint32_t offset, unsigned width, uint32_t& value) const;
  bool write(uint32_t offset, unsigned width, uint32_t value);

  // Building and inspecting: raw bytes, no mask. Out of range aborts.
  void set(uint32_t offset, unsigned width, uint32_t value);
  uint32_t get(uint32_t offset, unsigned width) const;
  void setWritable(uint32_t offset, unsigned width, uint32_t mask);

  // Appends a capability of `length` bytes to the list, dword aligned after
  // the last one (the first at 0x40), links it from the previous one (or
  // from 0x34), sets the capability-list bit of the status register and
  // returns the capability's offset.
  uint8_t addCapability(uint8_t id, uint8_t length);

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> writable_;
  uint32_t nextCapability_ = 0x40;
  uint8_t lastCapability_ = 0;
};

// PCI Express link: speeds as link speed codes, widths in lanes.
struct PcieLink {
  uint8_t maxSpeed = 0;
  uint8_t maxWidth = 0;
  uint8_t speed = 0;
  uint8_t width = 0;
};
inline constexpr uint8_t kPciExpressCapabilityID = 0x10;
inline constexpr uint8_t kPowerManagementCapabilityID = 0x01;
inline constexpr uint8_t kMsiCapabilityID = 0x05;
inline constexpr uint32_t kLinkCapabilitiesOffset = 12;  // from the capability
inline constexpr uint32_t kLinkStatusOffset = 18;
// An endpoint's capability with the link capabilities (maximum speed in bits
// 0-3, maximum width in bits 4-9) and the link status (current speed and
// width the same way, slot clock in bit 12). Returns its offset.
uint8_t addPciExpressCapability(ConfigSpace& config, PcieLink const& link);
uint8_t addPowerManagementCapability(ConfigSpace& config);
uint8_t addMsiCapability(ConfigSpace& config);  // 64-bit message address

// ---- BAR memory and register models ---------------------------------------
// What a register model does for the offsets it claims. An empty function
// leaves that direction to plain memory. Offsets are BAR offsets; widths are
// 1, 2 or 4 bytes; a write passes the value in the low bits. A plain 64-bit
// store of the host build's driver always reaches memory; store64 then sees it.
struct RegisterHooks {
  std::function<uint32_t(uint64_t offset, unsigned width)> read;
  std::function<void(uint64_t offset, unsigned width, uint32_t value)> write;
  std::function<void(uint64_t offset, uint64_t value)> store64 = {};
};

// One memory resource: real host memory that every kernel mapping of it
// aliases, so plain loads and stores through a mapping (the driver's 64-bit
// stores included) and the layer's register access see the same bytes.
class Bar {
 public:
  Bar(uint64_t physicalAddress, uint64_t size);
  ~Bar();
  Bar(Bar const&) = delete;
  Bar& operator=(Bar const&) = delete;

  uint64_t physicalAddress() const { return physical_; }
  uint64_t size() const { return size_; }

  // The layer's own view of the memory; register models are not involved.
  uint8_t* bytes() const { return view_; }
  uint32_t load(uint64_t offset, unsigned width) const;
  void store(uint64_t offset, unsigned width, uint32_t value);
  uint64_t load64(uint64_t offset) const;
  void store64(uint64_t offset, uint64_t value);

  // Claims [offset, offset + length) for a model. The latest claim wins
  // where claims overlap; an access belongs to the claim of its first byte.
  // Finding the claim of an access is a search over disjoint spans, so it
  // costs the same however many models a BAR carries.
  uint64_t attach(uint64_t offset, uint64_t length, RegisterHooks hooks);
  void detach(uint64_t claim);

  // Register access as the driver's reads and writes reach it: through the
  // claim of the offset, else plain memory.
  uint32_t registerRead(uint64_t offset, unsigned width) const;
  void registerWrite(uint64_t offset, unsigned width, uint32_t value);
  // A plain 64-bit store of the driver (host build only): memory, then the
  // claim's store64.
  void plainStore64(uint64_t offset, uint64_t value);

  // A new mapping of [offset, offset + length) at an address of its own,
  // aliasing every other view; null when the host refuses it.
  struct View {
    void* base = nullptr;
    uint64_t length = 0;
    uint8_t* address = nullptr;  // the byte at offset
  };
  View mapView(uint64_t offset, uint64_t length) const;
  static void unmapView(View const& view);

 private:
  struct Claim {
    uint64_t id;
    uint64_t offset;
    uint64_t length;
    std::shared_ptr<RegisterHooks const> hooks;
  };
  // A stretch of the BAR over which one claim wins; spans are sorted by
  // offset and never overlap.
  struct Span {
    uint64_t begin;
    uint64_t end;
    std::shared_ptr<RegisterHooks const> hooks;
  };
  std::shared_ptr<RegisterHooks const> claimAt(uint64_t offset) const;
  void rebuildSpans();  // with mutex_ held
  void check(uint64_t offset, unsigned width) const;

  uint64_t physical_;
  uint64_t size_;
  int fd_ = -1;
  uint8_t* view_ = nullptr;
  mutable std::mutex mutex_;
  std::vector<Claim> claims_;  // oldest first
  std::vector<Span> spans_;
  uint64_t nextClaim_ = 1;
};

// ---- A simulated PCI function -----------------------------------------------
struct PciResource {
  uint64_t size = 0;
  uint32_t flags = kQVZORResourceMemory;
};

enum class DmaMaskPolicy {
  AcceptAny,  // any non-zero mask
  Only32Bit,  // masks wider than 32 bits are refused
  RefuseAll,
};

struct PciDeviceOptions {
  int32_t domain = 0;  // what getPCIDomain answers; negative: none known
  uint16_t bus = 0;
  uint16_t device = 0;
  uint16_t function = 0;
  uint16_t vendorID = 0;
  uint16_t deviceID = 0;
  uint16_t subsystemVendorID = 0;
  uint16_t subsystemID = 0;
  uint8_t revision = 0;
  uint32_t classCode = 0xFF0000;      // base class, sub-class, programming interface
  std::optional<uint32_t> interrupt;  // the interrupt number, when it has one
  uint32_t numaNode = 0;              // 0xFFFFFFFF: none
  uint32_t configSize = 4096;
  // At most six, in record order. Memory resources (flag bit 1) get a
  // physical range and host memory; others get an I/O address only.
  std::vector<PciResource> resources;
  DmaMaskPolicy dmaMask = DmaMaskPolicy::AcceptAny;
  int32_t dmaRefusalCode = -51009;
};

class PciDevice {
 public:
  explicit PciDevice(PciDeviceOptions options);
  ~PciDevice();
  PciDevice(PciDevice const&) = delete;
  PciDevice& operator=(PciDevice const&) = delete;

  PciDeviceOptions const& options() const { return options_; }
  // The record the add-device callback receives; its address is stable.
  nQVZOR200_tPCIDeviceRecord const& record() const { return record_; }
  uint64_t handle() const { return record_.deviceHandle; }
  // The word the add-device callback finds in its device-context slot.
  uint64_t kernelParent() const { return kernelParent_; }

  ConfigSpace& config() { return config_; }
  // The memory of resource `index` (record order); aborts for a resource
  // that is not memory.
  Bar& bar(unsigned index) const;
  std::shared_ptr<Bar> sharedBar(unsigned index) const;

  // Whether the driver accepted the device, and the context it returned.
  bool bound() const;
  void* driverContext() const;
  uint64_t dmaMask() const;  // the last mask accepted, 0 before any

 private:
  friend struct PciBusAccess;
  PciDeviceOptions options_;
  nQVZOR200_tPCIDeviceRecord record_{};
  uint64_t kernelParent_;
  ConfigSpace config_;
  std::vector<std::shared_ptr<Bar>> bars_;  // null for non-memory resources
  mutable std::mutex mutex_;
  bool plugged_ = false;
  bool bound_ = false;
  void* context_ = nullptr;
  uint64_t dmaMask_ = 0;
};

// ---- The bus ------------------------------------------------------------------
// Puts the device on the bus and, when a driver is registered, offers it to
// the driver's add-device callback with the device's record and the kernel
// parent value in the context slot, as a kernel does on hot-plug. Returns
// the callback's result (0 when no driver is registered). A result of 0 or
// more binds the device to the context the driver returned.
int32_t plugIn(std::shared_ptr<PciDevice> const& device);

struct UnplugReport {
  bool wasBound = false;        // remove was called, and destroy unless files are open
  uint64_t filesOpen = 0;       // files on it still open: the last close destroys it
  uint64_t mappingsLeft = 0;    // kernel mappings of its BARs still live
  uint64_t interruptsLeft = 0;  // reservations of its interrupt still held
};
// Removes the device: a bound device gets removeDevice with its context at
// once, and destroyDevice at once when no file on it is open, else at the
// close of the last one; then it leaves the bus. Mappings left behind stay
// valid until unmapped and are counted in the report.
UnplugReport unplug(PciDevice& device);

struct PciBridge {
  uint16_t domain = 0;
  uint16_t bus = 0;
  uint16_t device = 0;
  uint16_t function = 0;
  uint16_t secondaryBus = 0;
  uint16_t subordinateBus = 0;
};
// Enumeration reports bridges by domain, bus, device and function.
void addPciBridge(PciBridge const& bridge);
void clearPciBridges();

void setAddressableMemOver4G(bool addressable);  // true until changed

// Kernel mappings that are live: all of them, or those of one device.
uint64_t liveMappings();
uint64_t liveMappings(PciDevice const& device);

// Calls every function reserved on the interrupt, in reservation order, on
// the calling thread; true when one of them claimed it.
bool fireInterrupt(uint32_t interruptNumber);
struct InterruptReservation {
  uint32_t interruptNumber;
  nQVZOR1400_tInterruptRegistration const* registration;
  std::string driverName;
  uint32_t flags;
};
std::vector<InterruptReservation> interruptReservations();

// ---- Access log ---------------------------------------------------------------
struct PciAccess {
  enum class Kind { ConfigRead, ConfigWrite, MemoryRead, MemoryWrite };
  Kind kind;
  uint64_t deviceHandle;
  int resource;  // -1 for configuration space
  uint64_t offset;
  unsigned width;
  uint32_t value;  // read, or written (before any read-only mask)
};
// Configuration accesses and register accesses through the imports, in
// order (off until enabled). Plain loads and stores cannot be seen.
void enablePciAccessLog(bool on);
std::vector<PciAccess> pciAccessLog();
void clearPciAccessLog();

namespace detail {
// Removes and destroys every device bound to the driver, newest first, as a
// kernel does before a driver's unregistration completes. A kernel keeps a
// driver with open files loaded, so a file still open here is a test's bug.
void releaseDevicesOf(nQVZOR200_tDriverRecord* driver);

// An open file holds the bound device whose kernel parent its interface was
// registered under; false (nothing held) when no such device is bound or
// it is being removed. The release of the last hold of a removed device
// destroys it.
bool holdDevice(uint64_t kernelParent);
void releaseDevice(uint64_t kernelParent);
}  // namespace detail

}  // namespace sim
