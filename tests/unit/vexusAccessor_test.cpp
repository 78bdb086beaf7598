// The bridge chip's accessor over the simulated RM7 module: the capability
// walk with every kind of next pointer, the geographic address, and what the
// accessor refuses to read.
#include "platform/vexusAccessor.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "host/layer/control.h"
#include "host/layer/pci.h"
#include "host/layer/rm7Module.h"
#include "pciTestDevice.h"
#include "platform/statusCodes.h"

namespace {

using namespace pcitest;
using sim::Rm7Module;
using tAccessor = tQVCapabilityPCIAccessor<tVexus>;
using tGA = tGeographicAddress<tVexus>;

constexpr uint32_t kHeaderKindRelative = 2;  // the module's list has the other kinds
constexpr uint32_t kHeaderKindUnsupported = 3;

uint32_t header(uint32_t id, uint32_t next, uint32_t kind) {
  return id << 16 | (next & 0xFFFC) | kind;
}

class VexusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    module_.emplace();
    bench_ = std::make_unique<Bench>(module_->device());
    device_ = &bench_->make();
  }
  void TearDown() override {
    // Every reading leaves the chip's registers as it found them.
    EXPECT_EQ(chip().context(), Rm7Module::kResetContext);
    EXPECT_EQ(chip().window(), 0u);
    EXPECT_EQ(sim::liveMappings(bench_->function()), 0u);
    bench_.reset();
    module_.reset();
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    sim::reset();
  }

  sim::VexusBridge& chip() { return module_->bridge(); }

  // The switch device's reading: build, get the capability, unmap.
  tGA read(tStatus& status, uint32_t after = 0) {
    tGA capability;
    capability.offset = after;
    tAccessor accessor(device_, status);
    accessor.getCapability(capability, status);
    device_->unmapBAR(0, accessor.mappedAddress(), 0);
    return capability;
  }

  // The geographic-address structure's words.
  void describeValue(uint32_t address, uint32_t descriptor) {
    chip().chipWrite(Rm7Module::kGeographicAddressCapability + 4, 4, address);
    chip().chipWrite(Rm7Module::kGeographicAddressCapability + 8, 4, descriptor);
  }

  std::optional<Rm7Module> module_;
  std::unique_ptr<Bench> bench_;
  TestPCIDevice* device_ = nullptr;
};

TEST_F(VexusTest, TheModuleSlotIsReadThroughEveryKindOfNextPointer) {
  for (uint32_t slot : {2u, 0u, 17u, 31u}) {
    module_->setGeographicAddress(slot);
    tStatus status;
    tGA const ga = read(status);
    EXPECT_EQ(status.code, 0);
    EXPECT_EQ(ga.geographicAddress, slot);
    EXPECT_EQ(ga.offset, Rm7Module::kGeographicAddressCapability);
  }
  // Bit 0 of the directory clear: the first offset is the word at 16, not 20.
  chip().chipWrite(Rm7Module::kDirectory, 4, 0);
  chip().chipWrite(16, 4, Rm7Module::kGeographicAddressCapability);
  chip().chipWrite(20, 4, 0);
  tStatus status;
  EXPECT_EQ(read(status).geographicAddress, 31u);
  EXPECT_EQ(status.code, 0);
}

// ---- What is refused ---------------------------------------------------------------

TEST_F(VexusTest, ABadDirectoryOrFirstOffsetIsRefusedWithTheRegistersPutBack) {
  struct Case {
    uint32_t address;
    uint32_t value;
    u64 line;
  } const cases[] = {
      {Rm7Module::kDirectoryPointerAddress, 0, 51},
      {Rm7Module::kDirectoryPointerAddress, 0x102, 51},
      {20, 0, 60},
      {20, 0x1001, 60},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.line);
    uint32_t const before = chip().chipRead(c.address, 4);
    chip().chipWrite(c.address, 4, c.value);
    tLongStatus status;
    tGA const ga = read(status);
    expectSite(status, kStatusNotSupported, "tQVCapabilityVexusAccessor", c.line);
    EXPECT_EQ(ga.geographicAddress, tGA::kUnknown);
    EXPECT_EQ(chip().context(), Rm7Module::kResetContext);
    EXPECT_EQ(chip().window(), 0u);
    chip().chipWrite(c.address, 4, before);
  }
}

TEST_F(VexusTest, AFailedMappingReadsNothing) {
  sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1);
  sim::enablePciAccessLog(true);
  tLongStatus status;
  tGA const ga = read(status);
  expectSite(status, kStatusMemoryFull, "tPCIDevice", 212);
  EXPECT_EQ(ga.geographicAddress, tGA::kUnknown);
  EXPECT_TRUE(sim::pciAccessLog().empty());
}

TEST_F(VexusTest, AWindowPlacedOutsideTheBarIsNeverReadThrough) {
  // The context register puts a 4 KiB window at 2 MiB, past the 1 MiB BAR.
  sim::enablePciAccessLog(true);
  tStatus mapped;
  u64 const bar = device_->mapBAR(0, mapped, 0);
  ASSERT_NE(bar, 0u);
  nQVZOR100_memoryWrite32(bar + 0xC0, 0x0020000C);
  tLongStatus status;
  tGA const ga = read(status);
  expectSite(status, kStatusNotAvailable, "tVexus", 88);
  EXPECT_EQ(ga.geographicAddress, tGA::kUnknown);
  EXPECT_EQ(chip().context(), 0x0020000Cu);  // put back as found
  EXPECT_FALSE(sim::pciAccessLog().empty());
  for (auto const& access : sim::pciAccessLog()) EXPECT_LT(access.offset, Rm7Module::kBar0Size);
  nQVZOR100_memoryWrite32(bar + 0xC0, Rm7Module::kResetContext);
  device_->unmapBAR(0, bar, 0);
}

// ---- The walk --------------------------------------------------------------------------

TEST_F(VexusTest, UnsupportedTruncatedAndLoopingListsEndTheWalk) {
  uint32_t const first = Rm7Module::kFirstCapability;
  struct Case {
    char const* what;
    uint32_t firstHeader;
    i64 code;
    u64 line;
  } const cases[] = {
      {"unsupported kind", header(0x4443, 0x40, kHeaderKindUnsupported), kStatusUnsupportedAccess,
       94},
      {"relative pointer of 0", header(0x4443, 0, kHeaderKindRelative), kStatusNotAvailable, 152},
      {"pointer into empty space", header(0x4443, 0x8000, 0), kStatusNotAvailable, 152},
      {"absolute pointer to itself", header(0x4443, first, 0), kStatusNotAvailable, 158},
      {"relative pointer into a cycle", header(0x4443, 0x40, kHeaderKindRelative),
       kStatusNotAvailable, 158},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    chip().chipWrite(first, 4, c.firstHeader);
    // For the cycle, the second structure leads back to the first.
    chip().chipWrite(Rm7Module::kSecondCapability, 4, header(0x4950, first, 0));
    tLongStatus status;
    tGA const ga = read(status);
    expectSite(status, c.code, "tQVCapabilityPCIAccessor", c.line);
    EXPECT_EQ(ga.geographicAddress, tGA::kUnknown);
  }
}

TEST_F(VexusTest, ASearchStartsAfterTheGivenStructure) {
  tStatus status;
  EXPECT_EQ(read(status, Rm7Module::kSecondCapability).geographicAddress, 2u);
  EXPECT_EQ(status.code, 0);
  tLongStatus beyond;
  EXPECT_EQ(read(beyond, Rm7Module::kGeographicAddressCapability).geographicAddress, tGA::kUnknown);
  expectSite(beyond, kStatusNotAvailable, "tQVCapabilityPCIAccessor", 152);
}

TEST_F(VexusTest, AFirstStructureWithTheIDIsTakenWithoutFollowingItsPointer) {
  uint32_t const first = Rm7Module::kFirstCapability;
  chip().chipWrite(first, 4, header(0x4741, 0x8000, 0));
  chip().chipWrite(0x8000, 4, header(0, 0, kHeaderKindUnsupported));
  chip().chipWrite(first + 4, 4, Rm7Module::kGeographicAddressRegister);
  chip().chipWrite(first + 8, 4, Rm7Module::kGeographicAddressDescriptor);
  tStatus status;
  tGA const ga = read(status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(ga.offset, first);
  EXPECT_EQ(ga.geographicAddress, 2u);
}

// ---- The geographic address ------------------------------------------------------------

TEST_F(VexusTest, TheDescriptorSelectsWidthShiftAndModeWithinTheBar) {
  uint32_t const end = Rm7Module::kBar0Size;
  struct Case {
    char const* what;
    uint32_t storeAt, storeWidth, stored;  // into BAR memory, for direct reads
    uint32_t address, descriptor, expected;
    i64 code;
    u64 line;
  } const cases[] = {
      {"direct, 16 bits, shift 3", 0x2000, 2, 0xFFF8, 0x2000, 0x00030201, 31, 0, 0},
      {"direct, 8 bits, shift 1", 0x2001, 1, 0x4B, 0x2001, 0x00010101, 0x25 & 31, 0, 0},
      {"the BAR's last bytes", end - 2, 2, 7, end - 2, 0x00000201, 7, 0, 0},
      {"one byte past the BAR", 0, 1, 0, end - 1, 0x00000201, tGA::kUnknown, kStatusNotAvailable,
       88},
      {"2 MiB into the BAR", 0, 1, 0, 0x00200000, 0x00000201, tGA::kUnknown, kStatusNotAvailable,
       88},
      // An unknown mode is reported, but the value is read in the current mode.
      {"unknown mode", 0, 1, 0, Rm7Module::kGeographicAddressRegister, 0x00080307, 2,
       kStatusBadArgument, 75},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    module_->bar0().store(c.storeAt, c.storeWidth, c.stored);
    describeValue(c.address, c.descriptor);
    tLongStatus status;
    EXPECT_EQ(read(status).geographicAddress, c.expected);
    if (c.code != 0) expectSite(status, c.code, "tVexus", c.line);
    EXPECT_EQ(status.head.code, c.code);
  }
}

TEST_F(VexusTest, ModeZeroReadsNothingAndKeepsTheUsersValue) {
  describeValue(Rm7Module::kGeographicAddressRegister, 0x00080300);
  sim::enablePciAccessLog(true);
  tStatus status;
  tGA const ga = read(status);
  EXPECT_EQ(status.code, 0);
  EXPECT_EQ(ga.geographicAddress, tGA::kUnknown);
  EXPECT_EQ(ga.offset, Rm7Module::kGeographicAddressCapability);
  // The value register sits at window offset 0x10 once the window is moved;
  // the descriptor, read before it, at 0x88.
  bool sawDescriptor = false;
  for (auto const& access : sim::pciAccessLog()) {
    bool const isRead = access.kind == sim::PciAccess::Kind::MemoryRead;
    EXPECT_FALSE(isRead && access.offset == 0x10010);
    sawDescriptor |= isRead && access.offset == 0x10088;
  }
  EXPECT_TRUE(sawDescriptor);
}

}  // namespace
