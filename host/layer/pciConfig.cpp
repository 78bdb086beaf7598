// Configuration space of a simulated PCI function: bytes, per-byte write
// masks and the capability list.
#include <cstdio>
#include <cstdlib>

#include "host/layer/pci.h"

namespace sim {

namespace {

constexpr uint32_t kStatusRegister = 0x06;
constexpr uint16_t kStatusCapabilityList = 0x0010;
constexpr uint32_t kCapabilityPointer = 0x34;
constexpr uint32_t kCapabilityLimit = 0x100;  // the list lives in the first 256 bytes

[[noreturn]] void misuse(char const* what, uint32_t offset, unsigned width) {
  std::fprintf(stderr, "layer: configuration space %s at 0x%x (width %u)\n", what, offset, width);
  std::abort();
}

bool validWidth(unsigned width) { return width == 1 || width == 2 || width == 4; }

}  // namespace

ConfigSpace::ConfigSpace(uint32_t size) : bytes_(size, 0), writable_(size, 0) {
  if (size != 256 && size != 4096) misuse("of a size other than 256 or 4096 bytes", size, 0);
}

bool ConfigSpace::read(uint32_t offset, unsigned width, uint32_t& value) const {
  if (!validWidth(width) || offset % width != 0 || offset >= size() || size() - offset < width)
    return false;
  std::lock_guard lock(mutex_);
  uint32_t result = 0;
  for (unsigned i = 0; i < width; ++i) result |= uint32_t{bytes_[offset + i]} << (8 * i);
  value = result;
  return true;
}

bool ConfigSpace::write(uint32_t offset, unsigned width, uint32_t value) {
  if (!validWidth(width) || offset % width != 0 || offset >= size() || size() - offset < width)
    return false;
  std::lock_guard lock(mutex_);
  for (unsigned i = 0; i < width; ++i) {
    uint8_t const incoming = static_cast<uint8_t>(value >> (8 * i));
    uint8_t const mask = writable_[offset + i];
    bytes_[offset + i] = static_cast<uint8_t>((bytes_[offset + i] & ~mask) | (incoming & mask));
  }
  return true;
}

void ConfigSpace::set(uint32_t offset, unsigned width, uint32_t value) {
  if (!validWidth(width) || offset >= size() || size() - offset < width)
    misuse("set outside the space", offset, width);
  std::lock_guard lock(mutex_);
  for (unsigned i = 0; i < width; ++i) bytes_[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t ConfigSpace::get(uint32_t offset, unsigned width) const {
  if (!validWidth(width) || offset >= size() || size() - offset < width)
    misuse("read outside the space", offset, width);
  std::lock_guard lock(mutex_);
  uint32_t result = 0;
  for (unsigned i = 0; i < width; ++i) result |= uint32_t{bytes_[offset + i]} << (8 * i);
  return result;
}

void ConfigSpace::setWritable(uint32_t offset, unsigned width, uint32_t mask) {
  if (!validWidth(width) || offset >= size() || size() - offset < width)
    misuse("mask outside the space", offset, width);
  std::lock_guard lock(mutex_);
  for (unsigned i = 0; i < width; ++i)
    writable_[offset + i] = static_cast<uint8_t>(mask >> (8 * i));
}

uint8_t ConfigSpace::addCapability(uint8_t id, uint8_t length) {
  uint32_t const offset = (nextCapability_ + 3) & ~3u;
  if (length < 2 || offset + length > kCapabilityLimit)
    misuse("capability does not fit below 0x100", offset, length);
  set(offset, 1, id);
  set(offset + 1, 1, 0);
  if (lastCapability_ == 0) {
    set(kCapabilityPointer, 1, offset);
  } else {
    set(lastCapability_ + 1u, 1, offset);
  }
  set(kStatusRegister, 2, get(kStatusRegister, 2) | kStatusCapabilityList);
  lastCapability_ = static_cast<uint8_t>(offset);
  nextCapability_ = offset + length;
  return lastCapability_;
}

uint8_t addPciExpressCapability(ConfigSpace& config, PcieLink const& link) {
  uint8_t const at = config.addCapability(kPciExpressCapabilityID, 0x3C);
  config.set(at + 2u, 2, 0x0002);          // capability version 2, endpoint
  config.set(at + 4u, 4, 0x00008000);      // device capabilities: role-based error reporting
  config.setWritable(at + 8u, 2, 0x7FFF);  // device control
  config.set(at + kLinkCapabilitiesOffset, 4,
             (uint32_t{link.maxSpeed} & 0xF) | (uint32_t{link.maxWidth} & 0x3F) << 4);
  config.setWritable(at + 16u, 2, 0x0FFB);  // link control
  config.set(at + kLinkStatusOffset, 2,
             (uint32_t{link.speed} & 0xF) | (uint32_t{link.width} & 0x3F) << 4 | 0x1000);
  return at;
}

uint8_t addPowerManagementCapability(ConfigSpace& config) {
  uint8_t const at = config.addCapability(kPowerManagementCapabilityID, 8);
  config.set(at + 2u, 2, 0x0003);          // version 3
  config.setWritable(at + 4u, 2, 0x0103);  // power state, PME enable
  return at;
}

uint8_t addMsiCapability(ConfigSpace& config) {
  uint8_t const at = config.addCapability(kMsiCapabilityID, 14);
  config.set(at + 2u, 2, 0x0080);          // 64-bit address, one vector
  config.setWritable(at + 2u, 2, 0x0071);  // enable, vectors granted
  config.setWritable(at + 4u, 4, 0xFFFFFFFC);
  config.setWritable(at + 8u, 4, 0xFFFFFFFF);
  config.setWritable(at + 12u, 2, 0xFFFF);
  return at;
}

}  // namespace sim
