// The simulated PCI bus: the functions plugged into it, bridges, kernel
// mappings, register access, interrupts, and the PCI imports of the layer.
#include "host/layer/pci.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <tuple>

#include "host/layer/control.h"
#include "host/layer/driverHost.h"
#include "host/layer/lockedState.h"
#include "host/layer/stripedLock.h"

namespace sim {

namespace {

constexpr int32_t kBadArgument = -51009;
constexpr int32_t kBusy = -51101;

struct Mapping {
  uint64_t size;
  Bar::View view;
  std::shared_ptr<Bar> bar;
  uint64_t barOffset;
  uint64_t deviceHandle;
  int resource;
  uint32_t cacheMode;
};

struct Reservation {
  uint32_t interruptNumber;
  nQVZOR1400_tInterruptRegistration* registration;
  nQVZOR1400_tInterruptFunction function;
  void* context;
  std::string driverName;
  uint32_t flags;
};

// A kernel keeps a device while files on it are open: remove happens at
// once, destroy only after the last close.
struct DeviceHold {
  uint64_t files = 0;
  bool removed = false;
  nQVZOR200_tDriverRecord* driver = nullptr;  // set once removed
  void* context = nullptr;
};

struct Bus {
  std::mutex mutex;
  std::vector<std::shared_ptr<PciDevice>> devices;  // on the bus
  std::vector<PciBridge> bridges;
  // By the address the caller got. Every register access looks its address
  // up here, from any thread, and mappings come and go seldom: changed
  // under the bus mutex and every stripe of mappingLock, read under either
  // the bus mutex or one stripe.
  std::map<uint64_t, Mapping> mappings;
  StripedLock mappingLock;
  std::vector<Reservation> reservations;
  // Open files by the kernel parent of the device they were opened on; an
  // entry lives while a file is open or a removed device awaits destroy.
  std::map<uint64_t, DeviceHold> holds;
  bool addressableOver4G = true;
  // Where the next function's resources and names come from.
  uint64_t nextMemory = 0xC0000000;
  uint64_t nextIo = 0x2000;
  uint64_t nextDevice = 1;
  // Held while interrupt functions run; relinquishing waits for it.
  std::mutex dispatch;
  std::mutex logMutex;
  std::vector<PciAccess> log;
};

Bus& bus() {
  static Bus* b = new Bus();  // never destroyed: imports may run at exit
  return *b;
}

std::atomic<bool> gLogging{false};
thread_local bool tInInterrupt = false;

[[noreturn]] void fatal(char const* format, unsigned long long value) {
  std::fprintf(stderr, "layer: ");
  std::fprintf(stderr, format, value);
  std::fputc('\n', stderr);
  std::abort();
}

uint64_t alignUp(uint64_t value, uint64_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

uint64_t naturalAlignment(uint64_t size, uint64_t minimum) {
  uint64_t alignment = minimum;
  while (alignment < size) alignment <<= 1;
  return alignment;
}

void record(PciAccess const& access) {
  if (!gLogging.load(std::memory_order_relaxed)) return;
  Bus& b = bus();
  std::lock_guard lock(b.logMutex);
  b.log.push_back(access);
  keepNewest(b.log);
}

}  // namespace

// ---- The device -------------------------------------------------------------

struct PciBusAccess {
  static std::mutex& mutex(PciDevice& d) { return d.mutex_; }
  static bool& plugged(PciDevice& d) { return d.plugged_; }
  static bool& bound(PciDevice& d) { return d.bound_; }
  static void*& context(PciDevice& d) { return d.context_; }
  static uint64_t& dmaMask(PciDevice& d) { return d.dmaMask_; }
  static std::vector<std::shared_ptr<Bar>> const& bars(PciDevice const& d) { return d.bars_; }
};

namespace {

// The driver that accepted each bound device, by handle.
std::map<uint64_t, nQVZOR200_tDriverRecord*>& boundDrivers() {
  static auto* drivers = new std::map<uint64_t, nQVZOR200_tDriverRecord*>();
  return *drivers;
}

std::shared_ptr<PciDevice> findDevice(Bus& b, uint64_t handle) {
  for (auto const& device : b.devices)
    if (device->handle() == handle) return device;
  return nullptr;
}

}  // namespace

PciDevice::PciDevice(PciDeviceOptions options)
    : options_(std::move(options)), config_(options_.configSize) {
  if (options_.resources.size() > kQVZORPCIResourceCount)
    fatal("a PCI function has at most six resources, not %llu", options_.resources.size());
  Bus& b = bus();
  {
    std::lock_guard lock(b.mutex);
    uint64_t const n = b.nextDevice++;
    // Neither is an address: a driver that follows one faults at once.
    record_.deviceHandle = 0xDE00000000000000ull + n;
    kernelParent_ = 0xFA00000000000000ull + n;
    for (size_t i = 0; i < options_.resources.size(); ++i) {
      PciResource const& resource = options_.resources[i];
      nQVZOR200_tPCIResource& out = record_.resources[i];
      out.size = resource.size;
      out.flags = resource.flags;
      bars_.emplace_back();
      if (resource.flags & kQVZORResourceMemory) {
        uint64_t const at = alignUp(b.nextMemory, naturalAlignment(resource.size, 4096));
        b.nextMemory = at + resource.size;
        out.address = at;
        bars_.back() = std::make_shared<Bar>(at, resource.size);
      } else if (resource.size != 0) {
        uint64_t const at = alignUp(b.nextIo, naturalAlignment(resource.size, 4));
        b.nextIo = at + resource.size;
        out.address = at;
      }
    }
  }
  record_.bus = options_.bus;
  record_.device = options_.device;
  record_.function = options_.function;
  record_.vendorID = options_.vendorID;
  record_.deviceID = options_.deviceID;
  record_.subsystemVendorID = options_.subsystemVendorID;
  record_.subsystemID = options_.subsystemID;
  record_.revision = options_.revision;
  record_.interruptPresent = options_.interrupt ? 1 : 0;
  record_.interruptNumber = options_.interrupt.value_or(0);

  // The type 0 header; what software may write is left writable.
  config_.set(0x00, 2, options_.vendorID);
  config_.set(0x02, 2, options_.deviceID);
  config_.setWritable(0x04, 2, 0x0547);  // I/O, memory, bus master, parity, SERR, INTx disable
  config_.set(0x08, 1, options_.revision);
  config_.set(0x09, 1, options_.classCode & 0xFF);
  config_.set(0x0A, 2, (options_.classCode >> 8) & 0xFFFF);
  config_.setWritable(0x0C, 2, 0xFFFF);  // cache line size, latency timer
  config_.set(0x2C, 2, options_.subsystemVendorID);
  config_.set(0x2E, 2, options_.subsystemID);
  if (options_.interrupt) {
    config_.set(0x3C, 1, *options_.interrupt & 0xFF);
    config_.set(0x3D, 1, 1);  // INTA
  }
  config_.setWritable(0x3C, 1, 0xFF);
}

PciDevice::~PciDevice() = default;

Bar& PciDevice::bar(unsigned index) const { return *sharedBar(index); }

std::shared_ptr<Bar> PciDevice::sharedBar(unsigned index) const {
  if (index >= bars_.size() || !bars_[index]) fatal("resource %llu is not memory", index);
  return bars_[index];
}

bool PciDevice::bound() const {
  std::lock_guard lock(mutex_);
  return bound_;
}

void* PciDevice::driverContext() const {
  std::lock_guard lock(mutex_);
  return context_;
}

uint64_t PciDevice::dmaMask() const {
  std::lock_guard lock(mutex_);
  return dmaMask_;
}

// ---- Plug in and removal ------------------------------------------------------

int32_t plugIn(std::shared_ptr<PciDevice> const& device) {
  Bus& b = bus();
  {
    std::lock_guard lock(b.mutex);
    std::lock_guard deviceLock(PciBusAccess::mutex(*device));
    if (PciBusAccess::plugged(*device))
      fatal("device 0x%llx is already on the bus", device->handle());
    PciBusAccess::plugged(*device) = true;
    b.devices.push_back(device);
  }
  nQVZOR200_tDriverRecord* driver = registeredDriver();
  if (driver == nullptr || driver->addDevice == nullptr) return 0;
  void* slot = reinterpret_cast<void*>(device->kernelParent());
  int32_t const result =
      driver->addDevice(const_cast<nQVZOR200_tPCIDeviceRecord*>(&device->record()), 0, &slot);
  if (result >= 0) {
    std::lock_guard lock(b.mutex);
    std::lock_guard deviceLock(PciBusAccess::mutex(*device));
    PciBusAccess::bound(*device) = true;
    PciBusAccess::context(*device) = slot;
    boundDrivers()[device->handle()] = driver;
  }
  return result;
}

namespace {

// Calls the driver's remove for a bound device, and its destroy unless
// files on the device are still open (the last close destroys it then).
// False when it was not bound.
bool release(Bus& b, PciDevice& device, uint64_t& filesOpen) {
  nQVZOR200_tDriverRecord* driver = nullptr;
  void* context = nullptr;
  {
    std::lock_guard lock(b.mutex);
    std::lock_guard deviceLock(PciBusAccess::mutex(device));
    if (!PciBusAccess::bound(device)) return false;
    driver = boundDrivers()[device.handle()];
    context = PciBusAccess::context(device);
    // No file opens on it from here on.
    DeviceHold& hold = b.holds[device.kernelParent()];
    hold.removed = true;
    hold.driver = driver;
    hold.context = context;
  }
  if (registeredDriver() != driver)
    fatal("device 0x%llx is still bound to a driver that is no longer registered", device.handle());
  driver->removeDevice(context);
  {
    std::lock_guard lock(b.mutex);
    std::lock_guard deviceLock(PciBusAccess::mutex(device));
    PciBusAccess::bound(device) = false;
    PciBusAccess::context(device) = nullptr;
    boundDrivers().erase(device.handle());
    filesOpen = b.holds[device.kernelParent()].files;
    if (filesOpen == 0) b.holds.erase(device.kernelParent());
  }
  if (filesOpen == 0) driver->destroyDevice(context);
  return true;
}

}  // namespace

UnplugReport unplug(PciDevice& device) {
  Bus& b = bus();
  {
    std::lock_guard lock(b.mutex);
    std::lock_guard deviceLock(PciBusAccess::mutex(device));
    if (!PciBusAccess::plugged(device)) fatal("device 0x%llx is not on the bus", device.handle());
  }
  UnplugReport report;
  report.wasBound = release(b, device, report.filesOpen);
  std::lock_guard lock(b.mutex);
  std::erase_if(b.devices, [&](auto const& d) { return d.get() == &device; });
  {
    std::lock_guard deviceLock(PciBusAccess::mutex(device));
    PciBusAccess::plugged(device) = false;
  }
  for (auto const& [address, mapping] : b.mappings)
    if (mapping.deviceHandle == device.handle()) ++report.mappingsLeft;
  if (device.options().interrupt)
    for (Reservation const& r : b.reservations)
      if (r.interruptNumber == *device.options().interrupt) ++report.interruptsLeft;
  return report;
}

namespace detail {

void releaseDevicesOf(nQVZOR200_tDriverRecord* driver) {
  Bus& b = bus();
  std::vector<std::shared_ptr<PciDevice>> bound;
  {
    std::lock_guard lock(b.mutex);
    for (auto const& device : b.devices) {
      auto found = boundDrivers().find(device->handle());
      if (found != boundDrivers().end() && found->second == driver) bound.push_back(device);
    }
  }
  // A kernel removes the devices in the reverse of their arrival.
  uint64_t filesOpen = 0;
  for (auto device = bound.rbegin(); device != bound.rend(); ++device) {
    release(b, **device, filesOpen);
    if (filesOpen != 0) fatal("the driver goes while %llu files on its device are open", filesOpen);
  }
  std::lock_guard lock(b.mutex);
  for (auto const& [parent, hold] : b.holds)
    if (hold.driver == driver)
      fatal("the driver goes while %llu files on its device are open", hold.files);
}

bool holdDevice(uint64_t kernelParent) {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  auto const held = b.holds.find(kernelParent);
  if (held != b.holds.end() && held->second.removed) return false;
  for (auto const& device : b.devices) {
    if (device->kernelParent() != kernelParent || !device->bound()) continue;
    ++b.holds[kernelParent].files;
    return true;
  }
  return false;
}

void releaseDevice(uint64_t kernelParent) {
  Bus& b = bus();
  DeviceHold last;
  {
    std::lock_guard lock(b.mutex);
    auto const held = b.holds.find(kernelParent);
    if (held == b.holds.end() || held->second.files == 0)
      fatal("a close on device parent 0x%llx, which no open file holds", kernelParent);
    if (--held->second.files != 0) return;
    last = held->second;
    b.holds.erase(held);
  }
  if (last.removed) last.driver->destroyDevice(last.context);
}

}  // namespace detail

// ---- Bus settings and observation -------------------------------------------

void addPciBridge(PciBridge const& bridge) {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  b.bridges.push_back(bridge);
}

void clearPciBridges() {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  b.bridges.clear();
}

void setAddressableMemOver4G(bool addressable) {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  b.addressableOver4G = addressable;
}

uint64_t liveMappings() {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  return b.mappings.size();
}

uint64_t liveMappings(PciDevice const& device) {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  uint64_t count = 0;
  for (auto const& [address, mapping] : b.mappings)
    if (mapping.deviceHandle == device.handle()) ++count;
  return count;
}

bool fireInterrupt(uint32_t interruptNumber) {
  if (tInInterrupt)
    fatal("interrupt %llu fired from inside an interrupt function", interruptNumber);
  Bus& b = bus();
  std::lock_guard dispatch(b.dispatch);
  std::vector<Reservation> targets;
  {
    std::lock_guard lock(b.mutex);
    for (Reservation const& r : b.reservations)
      if (r.interruptNumber == interruptNumber) targets.push_back(r);
  }
  bool claimed = false;
  tInInterrupt = true;
  for (Reservation const& r : targets) claimed = r.function(interruptNumber, r.context) || claimed;
  tInInterrupt = false;
  return claimed;
}

std::vector<InterruptReservation> interruptReservations() {
  Bus& b = bus();
  std::lock_guard lock(b.mutex);
  std::vector<InterruptReservation> result;
  for (Reservation const& r : b.reservations)
    result.push_back({r.interruptNumber, r.registration, r.driverName, r.flags});
  return result;
}

void enablePciAccessLog(bool on) { gLogging.store(on); }

std::vector<PciAccess> pciAccessLog() {
  Bus& b = bus();
  std::lock_guard lock(b.logMutex);
  return b.log;
}

void clearPciAccessLog() {
  Bus& b = bus();
  std::lock_guard lock(b.logMutex);
  b.log.clear();
}

}  // namespace sim

// ---- Imports --------------------------------------------------------------------

using sim::detail::enterImport;
using sim::detail::failureCode;

namespace {

struct Resolved {
  std::shared_ptr<sim::Bar> bar;
  uint64_t offset;
  uint64_t deviceHandle;
  int resource;
};

// The mapping that holds [address, address + width); a stray address is the
// kind of fault a kernel stops on.
Resolved resolve(uint64_t address, unsigned width, char const* import) {
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mappingLock.stripe(sim::threadStripe()));
  auto it = b.mappings.upper_bound(address);
  if (it != b.mappings.begin()) {
    --it;
    sim::Mapping const& m = it->second;
    uint64_t const into = address - it->first;
    if (into < m.size && m.size - into >= width)
      return {m.bar, m.barOffset + into, m.deviceHandle, m.resource};
  }
  std::fprintf(stderr, "layer: %s at 0x%llx (%u bytes), which no live kernel mapping holds\n",
               import, static_cast<unsigned long long>(address), width);
  std::abort();
}

uint32_t readRegister(char const* import, uint64_t address, unsigned width) {
  if (enterImport(import)) return 0xFFFFFFFFu;  // as a read of a device that has gone
  Resolved const r = resolve(address, width, import);
  uint32_t const value = r.bar->registerRead(r.offset, width);
  sim::record(
      {sim::PciAccess::Kind::MemoryRead, r.deviceHandle, r.resource, r.offset, width, value});
  return value;
}

void writeRegister(char const* import, uint64_t address, unsigned width, uint32_t value) {
  if (enterImport(import)) return;  // lost, as a write to a device that has gone
  Resolved const r = resolve(address, width, import);
  r.bar->registerWrite(r.offset, width, value);
  sim::record(
      {sim::PciAccess::Kind::MemoryWrite, r.deviceHandle, r.resource, r.offset, width, value});
}

int32_t configAccess(char const* import, uint64_t handle, uint32_t offset, unsigned width,
                     bool write, uint32_t& value) {
  if (enterImport(import)) return failureCode(import);
  std::shared_ptr<sim::PciDevice> device;
  {
    sim::Bus& b = sim::bus();
    std::lock_guard lock(b.mutex);
    device = sim::findDevice(b, handle);
  }
  if (!device) return sim::kBadArgument;
  bool const done = write ? device->config().write(offset, width, value)
                          : device->config().read(offset, width, value);
  if (!done) return sim::kBadArgument;
  sim::record({write ? sim::PciAccess::Kind::ConfigWrite : sim::PciAccess::Kind::ConfigRead, handle,
               -1, offset, width, value});
  return 0;
}

}  // namespace

extern "C" {

int32_t nQVZOR100_pciConfigRead8(uint64_t deviceHandle, uint32_t offset, uint8_t* value) {
  uint32_t read = 0;
  int32_t const result =
      configAccess("nQVZOR100_pciConfigRead8", deviceHandle, offset, 1, false, read);
  if (result == 0) *value = static_cast<uint8_t>(read);
  return result;
}

int32_t nQVZOR100_pciConfigRead16(uint64_t deviceHandle, uint32_t offset, uint16_t* value) {
  uint32_t read = 0;
  int32_t const result =
      configAccess("nQVZOR100_pciConfigRead16", deviceHandle, offset, 2, false, read);
  if (result == 0) *value = static_cast<uint16_t>(read);
  return result;
}

int32_t nQVZOR100_pciConfigWrite16(uint64_t deviceHandle, uint32_t offset, uint16_t value) {
  uint32_t written = value;
  return configAccess("nQVZOR100_pciConfigWrite16", deviceHandle, offset, 2, true, written);
}

int32_t nQVZOR240_getPCIDomain(uint64_t deviceHandle) {
  if (enterImport("nQVZOR240_getPCIDomain")) return failureCode("nQVZOR240_getPCIDomain");
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mutex);
  auto device = sim::findDevice(b, deviceHandle);
  return device ? device->options().domain : sim::kBadArgument;
}

int32_t nQVZOR100_enumeratePCIBuses(nQVZOR100_tPCIBusCallback callback, void* context, uint64_t) {
  if (enterImport("nQVZOR100_enumeratePCIBuses")) return failureCode("nQVZOR100_enumeratePCIBuses");
  if (callback == nullptr) return sim::kBadArgument;
  std::vector<sim::PciBridge> bridges;
  {
    sim::Bus& b = sim::bus();
    std::lock_guard lock(b.mutex);
    bridges = b.bridges;
  }
  std::stable_sort(bridges.begin(), bridges.end(), [](auto const& x, auto const& y) {
    return std::tie(x.domain, x.bus, x.device, x.function) <
           std::tie(y.domain, y.bus, y.device, y.function);
  });
  for (sim::PciBridge const& bridge : bridges) {
    nQVZOR100_tPCIBusRecord record{};
    record.bus = bridge.bus;
    record.device = bridge.device;
    record.function = bridge.function;
    record.secondaryBus = bridge.secondaryBus;
    record.subordinateBus = bridge.subordinateBus;
    record.domain = bridge.domain;
    callback(context, &record);
  }
  return 0;
}

uint32_t nQVZOR1_getDeviceNUMANode(nQVZOR200_tPCIDeviceRecord const* record) {
  if (enterImport("nQVZOR1_getDeviceNUMANode")) return 0xFFFFFFFFu;
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mutex);
  for (auto const& device : b.devices)
    if (&device->record() == record) return device->options().numaNode;
  sim::fatal("getDeviceNUMANode of 0x%llx, which is not the record of a device on the bus",
             reinterpret_cast<unsigned long long>(record));
}

int32_t nQVZOR220_pciSetDMAMask(uint64_t deviceHandle, uint64_t mask) {
  if (enterImport("nQVZOR220_pciSetDMAMask")) return failureCode("nQVZOR220_pciSetDMAMask");
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mutex);
  auto device = sim::findDevice(b, deviceHandle);
  if (!device || mask == 0) return sim::kBadArgument;
  sim::PciDeviceOptions const& options = device->options();
  bool const refused = options.dmaMask == sim::DmaMaskPolicy::RefuseAll ||
                       (options.dmaMask == sim::DmaMaskPolicy::Only32Bit && mask > 0xFFFFFFFFull);
  if (refused) return options.dmaRefusalCode;
  std::lock_guard deviceLock(sim::PciBusAccess::mutex(*device));
  sim::PciBusAccess::dmaMask(*device) = mask;
  return 0;
}

int32_t nQVZOR200_isAddressableMemOver4G(void) {
  if (enterImport("nQVZOR200_isAddressableMemOver4G")) return 0;
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mutex);
  return b.addressableOver4G ? 1 : 0;
}

uint64_t nQVZOR230_mapPhysicalToKernel(uint64_t physicalAddress, uint64_t size,
                                       uint32_t cacheMode) {
  if (enterImport("nQVZOR230_mapPhysicalToKernel")) return 0;
  if (size == 0) return 0;
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mutex);
  for (auto const& device : b.devices) {
    auto const& bars = sim::PciBusAccess::bars(*device);
    for (size_t i = 0; i < bars.size(); ++i) {
      auto const& bar = bars[i];
      if (!bar || physicalAddress < bar->physicalAddress()) continue;
      uint64_t const offset = physicalAddress - bar->physicalAddress();
      if (offset >= bar->size() || bar->size() - offset < size) continue;
      sim::Bar::View const view = bar->mapView(offset, size);
      if (view.address == nullptr) return 0;
      uint64_t const address = reinterpret_cast<uint64_t>(view.address);
      std::lock_guard mappingLock(b.mappingLock);
      b.mappings.emplace(address, sim::Mapping{size, view, bar, offset, device->handle(),
                                               static_cast<int>(i), cacheMode});
      return address;
    }
  }
  return 0;  // not device memory of anything on the bus
}

void nQVZOR230_unmapPhysicalFromKernel(uint64_t kernelAddress, uint32_t) {
  enterImport("nQVZOR230_unmapPhysicalFromKernel");
  sim::Bar::View view;
  {
    sim::Bus& b = sim::bus();
    std::lock_guard lock(b.mutex);
    auto found = b.mappings.find(kernelAddress);
    if (found == b.mappings.end())
      sim::fatal("unmapPhysicalFromKernel of 0x%llx, which is not a live kernel mapping",
                 kernelAddress);
    view = found->second.view;
    std::lock_guard mappingLock(b.mappingLock);
    b.mappings.erase(found);
  }
  sim::Bar::unmapView(view);
}

uint8_t nQVZOR100_memoryRead8(uint64_t address) {
  return static_cast<uint8_t>(readRegister("nQVZOR100_memoryRead8", address, 1));
}

uint16_t nQVZOR100_memoryRead16(uint64_t address) {
  return static_cast<uint16_t>(readRegister("nQVZOR100_memoryRead16", address, 2));
}

uint32_t nQVZOR100_memoryRead32(uint64_t address) {
  return readRegister("nQVZOR100_memoryRead32", address, 4);
}

void nQVZOR100_memoryWrite8(uint64_t address, uint8_t value) {
  writeRegister("nQVZOR100_memoryWrite8", address, 1, value);
}

void nQVZOR100_memoryWrite16(uint64_t address, uint16_t value) {
  writeRegister("nQVZOR100_memoryWrite16", address, 2, value);
}

void nQVZOR100_memoryWrite32(uint64_t address, uint32_t value) {
  writeRegister("nQVZOR100_memoryWrite32", address, 4, value);
}

// Not an import: the host build's driver makes its plain 64-bit stores
// through this, so that a device model sees them.
void qvrm7HostStore64(uint64_t address, uint64_t value) {
  Resolved const r = resolve(address, 8, "a plain 64-bit store");
  r.bar->plainStore64(r.offset, value);
}

int32_t nQVZOR1400_reserveInterrupt(uint32_t interruptNumber,
                                    nQVZOR1400_tInterruptRegistration* registration,
                                    char const* driverName, uint32_t flags) {
  if (enterImport("nQVZOR1400_reserveInterrupt")) return failureCode("nQVZOR1400_reserveInterrupt");
  if (registration == nullptr || registration->function == nullptr) return sim::kBadArgument;
  sim::Bus& b = sim::bus();
  std::lock_guard lock(b.mutex);
  for (sim::Reservation const& r : b.reservations)
    if (r.interruptNumber == interruptNumber && r.registration == registration) return sim::kBusy;
  b.reservations.push_back({interruptNumber, registration, registration->function,
                            registration->context, driverName ? driverName : "", flags});
  return 0;
}

void nQVZOR100_relinquishInterrupt(uint32_t interruptNumber,
                                   nQVZOR1400_tInterruptRegistration* registration) {
  enterImport("nQVZOR100_relinquishInterrupt");
  if (sim::tInInterrupt)
    sim::fatal("relinquishInterrupt of interrupt %llu from inside an interrupt function",
               interruptNumber);
  sim::Bus& b = sim::bus();
  std::lock_guard dispatch(b.dispatch);  // no function of it may be running on return
  std::lock_guard lock(b.mutex);
  auto found = std::find_if(b.reservations.begin(), b.reservations.end(), [&](auto const& r) {
    return r.interruptNumber == interruptNumber && r.registration == registration;
  });
  if (found == b.reservations.end())
    sim::fatal("relinquishInterrupt of interrupt %llu with a record that does not hold it",
               interruptNumber);
  b.reservations.erase(found);
}

}  // extern "C"
