// The bridge chip's accessor over the simulated RM7 module: the capability
// walk with every kind of next pointer, the geographic address, and what the
// accessor refuses to read.
#include "platform/vexusAccessor.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <tuple>

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
  // A module as it comes out of reset, with the switch device built on it.
  void freshModule() {
    bench_.reset();
    module_.emplace();
    bench_ = std::make_unique<Bench>(module_->device());
    device_ = &bench_->make();
  }
  // The switch device's reading: build, get the capability, unmap.
  void readAddress(tGA& found, tLongStatus& status) {
    tAccessor accessor(device_, status);
    accessor.getCapability(found, status);
    device_->unmapBAR(0, accessor.mappedAddress(), 0);
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
    freshModule();
    c.set();
    sim::clearPciAccessLog();
    sim::enablePciAccessLog(true);
    tLongStatus status;
    tGA found;
    found.offset = c.after;
    readAddress(found, status);
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

// A register access the layer loses: a read answers all ones, as a device
// that has gone would, and a write does not arrive. Whatever a lost read
// leads the reading to conclude, the context and window registers go back
// as they were found, for the register maps reach the chip through the same
// window. A lost write of that putting back leaves its one register as the
// reading had it, and the reading's result stands.
TEST_F(VexusTest, ALostAccessLeavesTheWindowAsFoundOrOnlyItsOwnRegisterOff) {
  constexpr uint32_t kFoundWindow = 0x7000;  // one that every reading moves
  char const *const kRead = "nQVZOR100_memoryRead32", *const kWrite = "nQVZOR100_memoryWrite32";
  char const *const kAccessor = "tQVCapabilityVexusAccessor", *const kWalk =
                                                                  "tQVCapabilityPCIAccessor";
  uint32_t const found = Rm7Module::kResetContext, open = found | tVexus::kContextOpen;
  uint32_t const unknown = tGA::kUnknown;
  struct Case {
    char const* what;
    char const* import;
    uint64_t nth;  // of that import's calls in the reading
    i64 code;
    char const* file;
    u64 line;
    uint32_t expected, context, window;
  } const cases[] = {
      // Reads 1, 2, 7 and 8 are the saving reads of the two registers.
      {"the window's place, building", kRead, 3, kStatusNotAvailable, "tVexus", 88, unknown, found,
       kFoundWindow},
      {"the directory pointer", kRead, 4, kStatusNotSupported, kAccessor, 51, unknown, found,
       kFoundWindow},
      {"the directory", kRead, 5, 0, nullptr, 0, 2, found, kFoundWindow},
      {"the first offset", kRead, 6, kStatusNotSupported, kAccessor, 60, unknown, found,
       kFoundWindow},
      {"the window's place, reading", kRead, 9, kStatusNotAvailable, kWalk, 152, unknown, found,
       kFoundWindow},
      {"the first header", kRead, 10, kStatusUnsupportedAccess, kWalk, 94, unknown, found,
       kFoundWindow},
      {"a pointer's high half", kRead, 12, kStatusNotAvailable, kWalk, 152, unknown, found,
       kFoundWindow},
      // All ones: mode 15, refused, yet the value is read; shifted by 31.
      {"the descriptor", kRead, 15, kStatusBadArgument, "tVexus", 75, 0, found, kFoundWindow},
      {"the value", kRead, 17, 0, nullptr, 0, 31, found, kFoundWindow},
      {"the window's place, closing", kRead, 18, 0, nullptr, 0, 2, found, kFoundWindow},
      // Writes 3 and 4 put the registers back after building, 14 and 15 at
      // the end. After a lost one in building, getCapability saves the
      // registers as building left them, and puts those back.
      {"the context put back, building", kWrite, 3, 0, nullptr, 0, 2, open, kFoundWindow},
      {"the window put back, building", kWrite, 4, 0, nullptr, 0, 2, found, 0},
      {"the context put back, closing", kWrite, 14, 0, nullptr, 0, 2, open, kFoundWindow},
      {"the window put back, closing", kWrite, 15, 0, nullptr, 0, 2, found, 0x30000},
  };
  for (Case const& c : cases) {
    SCOPED_TRACE(c.what);
    freshModule();
    module_->bar0().registerWrite(tVexus::kWindowRegister, 4, kFoundWindow);
    sim::failNthCall(c.import, c.nth);
    tLongStatus status;
    tGA address;
    readAddress(address, status);
    EXPECT_EQ(sim::unfiredFailures(), 0u);
    sim::clearFaults();
    if (c.file != nullptr) expectSite(status, c.code, c.file, c.line);
    EXPECT_EQ(std::tuple(status.head.code, address.geographicAddress),
              std::tuple(c.code, c.expected));
    EXPECT_EQ(std::tuple(module_->bridge().context(), module_->bridge().window()),
              std::tuple(c.context, c.window));
    EXPECT_EQ(sim::liveMappings(bench_->function()), 0u);
  }
}

}  // namespace
