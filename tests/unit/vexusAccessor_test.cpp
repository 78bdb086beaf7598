// The bridge chip's accessor over the simulated RM7 module: the capability
// walk with every kind of next pointer, the geographic address, and what the
// accessor refuses to read.
#include "platform/vexusAccessor.h"

#include <gtest/gtest.h>

#include <functional>
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
  void SetUp() override { sim::reset(); }
  void TearDown() override {
    bench_.reset();
    module_.reset();
    sim::enablePciAccessLog(false);
    sim::clearPciAccessLog();
    sim::reset();
  }
  void write(uint32_t address, uint32_t value) { module_->bridge().chipWrite(address, 4, value); }
  // The geographic-address structure's words.
  void describeValue(uint32_t address, uint32_t descriptor) {
    write(Rm7Module::kGeographicAddressCapability + 4, address);
    write(Rm7Module::kGeographicAddressCapability + 8, descriptor);
  }
  // The first structure's header; the second leads back to the first, for a cycle.
  void firstHeader(uint32_t value) {
    write(Rm7Module::kFirstCapability, value);
    write(Rm7Module::kSecondCapability, header(0x4950, Rm7Module::kFirstCapability, 0));
  }
  // Direct reads of the value at address, stored in BAR memory.
  void storeValue(uint32_t address, uint32_t width, uint32_t value, uint32_t descriptor) {
    module_->bar0().store(address, width, value);
    describeValue(address, descriptor);
  }

  std::optional<Rm7Module> module_;
  std::unique_ptr<Bench> bench_;
  TestPCIDevice* device_ = nullptr;
};

// Every reading leaves the chip's registers as it found them: the context
// back at reset, unless the case set it, and the window at 0.
TEST_F(VexusTest, EachChipStateGivesItsAddressOrItsRefusal) {
  uint32_t const first = Rm7Module::kFirstCapability, end = Rm7Module::kBar0Size;
  uint32_t const ga = Rm7Module::kGeographicAddressCapability, unknown = tGA::kUnknown;
  char const *const kAccessor = "tQVCapabilityVexusAccessor", *const kWalk =
                                                                  "tQVCapabilityPCIAccessor";
  u64 bar = 0;  // mapped by a case of its own
  struct Case {
    char const* what;
    std::function<void()> set;
    uint32_t after, expected, offset = 0;  // offset 0: not looked at
    i64 code = 0;
    char const* file = nullptr;
    u64 line = 0;
    std::function<void()> check = nullptr;  // what the case's access log must show
  } const cases[] = {
      {"slot 2, as it comes", [] {}, 0, 2, ga},
      // Bit 0 of the directory clear: the first offset is the word at 16, not 20.
      {"first offset at 16",
       [&] {
         write(Rm7Module::kDirectory, 0);
         write(16, ga);
         write(20, 0);
       },
       0, 2, ga},
      {"no directory", [&] { write(Rm7Module::kDirectoryPointerAddress, 0); }, 0, unknown, 0,
       kStatusNotSupported, kAccessor, 51},
      {"misaligned directory", [&] { write(Rm7Module::kDirectoryPointerAddress, 0x102); }, 0,
       unknown, 0, kStatusNotSupported, kAccessor, 51},
      {"no first offset", [&] { write(20, 0); }, 0, unknown, 0, kStatusNotSupported, kAccessor, 60},
      {"misaligned first offset", [&] { write(20, 0x1001); }, 0, unknown, 0, kStatusNotSupported,
       kAccessor, 60},
      {"no mapping", [] { sim::failNthCall("nQVZOR230_mapPhysicalToKernel", 1); }, 0, unknown, 0,
       kStatusMemoryFull, "tPCIDevice", 212, [] { EXPECT_TRUE(sim::pciAccessLog().empty()); }},
      // The context register puts a 4 KiB window at 2 MiB, past the 1 MiB BAR;
      // it is never read through, and put back as found.
      {"window outside the BAR",
       [&] {
         tStatus mapped;
         bar = device_->mapBAR(0, mapped, 0);
         nQVZOR100_memoryWrite32(bar + 0xC0, 0x0020000C);
       },
       0, unknown, 0, kStatusNotAvailable, "tVexus", 88,
       [&] {
         EXPECT_EQ(module_->bridge().context(), 0x0020000Cu);
         EXPECT_FALSE(sim::pciAccessLog().empty());
         for (auto const& access : sim::pciAccessLog())
           EXPECT_LT(access.offset, Rm7Module::kBar0Size);
         nQVZOR100_memoryWrite32(bar + 0xC0, Rm7Module::kResetContext);
         device_->unmapBAR(0, bar, 0);
       }},
      // The walk.
      {"unsupported kind", [&] { firstHeader(header(0x4443, 0x40, kHeaderKindUnsupported)); }, 0,
       unknown, 0, kStatusUnsupportedAccess, kWalk, 94},
      {"relative pointer of 0", [&] { firstHeader(header(0x4443, 0, kHeaderKindRelative)); }, 0,
       unknown, 0, kStatusNotAvailable, kWalk, 152},
      {"absolute pointer to itself", [&] { firstHeader(header(0x4443, first, 0)); }, 0, unknown, 0,
       kStatusNotAvailable, kWalk, 158},
      {"relative pointer into a cycle",
       [&] { firstHeader(header(0x4443, 0x40, kHeaderKindRelative)); }, 0, unknown, 0,
       kStatusNotAvailable, kWalk, 158},
      {"after the second structure", [] {}, Rm7Module::kSecondCapability, 2, ga},
      {"after the last one", [] {}, ga, unknown, 0, kStatusNotAvailable, kWalk, 152},
      // A first structure with the ID is taken without following its pointer.
      {"the first structure",
       [&] {
         write(first, header(0x4741, 0x8000, 0));
         write(0x8000, header(0, 0, kHeaderKindUnsupported));
         write(first + 4, Rm7Module::kGeographicAddressRegister);
         write(first + 8, Rm7Module::kGeographicAddressDescriptor);
       },
       0, 2, first},
      // The descriptor selects width, shift and mode, within the BAR.
      {"direct, 16 bits, shift 3", [&] { storeValue(0x2000, 2, 0xFFF8, 0x00030201); }, 0, 31},
      {"the BAR's last bytes", [&] { storeValue(end - 2, 2, 7, 0x00000201); }, 0, 7},
      {"one byte past the BAR", [&] { describeValue(end - 1, 0x00000201); }, 0, unknown, 0,
       kStatusNotAvailable, "tVexus", 88},
      // An unknown mode is reported, but the value is read in the current mode.
      {"unknown mode", [&] { describeValue(Rm7Module::kGeographicAddressRegister, 0x00080307); }, 0,
       2, 0, kStatusBadArgument, "tVexus", 75},
      // Mode 0 keeps the user's value.
      {"mode 0", [&] { describeValue(Rm7Module::kGeographicAddressRegister, 0x00080300); }, 0,
       unknown, ga},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    bench_.reset();
    module_.emplace();  // as it comes out of reset
    bench_ = std::make_unique<Bench>(module_->device());
    device_ = &bench_->make();
    c.set();
    sim::clearPciAccessLog();
    sim::enablePciAccessLog(true);
    // The switch device's reading: build, get the capability, unmap.
    tLongStatus status;
    tGA found;
    found.offset = c.after;
    tAccessor accessor(device_, status);
    accessor.getCapability(found, status);
    device_->unmapBAR(0, accessor.mappedAddress(), 0);
    sim::enablePciAccessLog(false);
    sim::clearFaults();
    EXPECT_EQ(found.geographicAddress, c.expected);
    EXPECT_EQ(found.offset, c.offset != 0 ? c.offset : found.offset);
    if (c.file != nullptr) expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(status.head.code, c.code);
    if (c.check) c.check();
    EXPECT_EQ(module_->bridge().context(), Rm7Module::kResetContext);
    EXPECT_EQ(module_->bridge().window(), 0u);
    EXPECT_EQ(sim::liveMappings(bench_->function()), 0u);
  }
}

}  // namespace
