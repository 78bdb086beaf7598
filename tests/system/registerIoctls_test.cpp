// The register ioctls of the real object through the layer's transport: the
// records each code requires, and what a caller's bad input gets back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/registerCalls.h"
#include "support/switchDeviceScenario.h"

namespace {

using namespace qvrm7_driver;
using sim::RegisterReply;
using testing_support::layerHoldings;

// The layer's images of -52005 and -52002.
constexpr int32_t kLayerBadArgument = -51009;
constexpr int32_t kLayerNotSupported = -51256;

// Every register map a device registers, in registration order, with one
// register of each that a caller writes and where the simulated module
// keeps what reached it, and one register it reads.
struct RegisteredMap {
  char const* name;
  uint32_t written;  // a whole-register ID
  std::function<uint32_t(sim::Rm7Module&)> landed;
  uint32_t read;
};

inline RegisteredMap const kRegisteredMaps[] = {
    {"SwitchedVexusBimRegMap", 0x80000698,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x698); }, 0x80000698},
    {"Vexus", 0x8000005C,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x05C); }, 0xC0000000},
    {"VexusI2C", 0x80000530,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x530); }, 0xC0000534},
    {"IsolationPortRegMap", 0x80000004,
     [](sim::Rm7Module& m) { return m.vexus().isolationRegister(0x04); }, 0x80000004},
    {"VexusConfigPortWindow", 0x800000E0, [](sim::Rm7Module& m) { return m.bridge().window(); },
     0x800000C0},
    {"VexusConfigPortSPI", 0x80000004,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x584); }, 0x80000004},
    {"VexusConfigPortI2C", 0x80000000,
     [](sim::Rm7Module& m) { return m.vexus().registers().lastWritten(0x5A0); }, 0x80000000},
    {"DO", 0x80000004, [](sim::Rm7Module& m) { return m.tmr9().registers().lastWritten(0x04); },
     0xC0000000},
    {"RM7BaseRegMap", 0x8000000C,
     [](sim::Rm7Module& m) { return m.fpga().base().lastWritten(0x0C); }, 0x80000000},
    {"RM7ThreadRegisterMap", 0x80000020,
     [](sim::Rm7Module& m) { return m.fpga().thread().lastWritten(0x20); }, 0x80000020},
    {"RM7SlotRegisterMap", 0x80000030,
     [](sim::Rm7Module& m) { return m.fpga().slot().lastWritten(0x30); }, 0xC0000044},
    {"RM7SlotRamRegisterMap", 0x80000000,
     [](sim::Rm7Module& m) { return m.fpga().slotRam().lastWritten(0x0); }, 0x80000000},
    {"HalcyonTmr9SourceStreams", 0x80000000,
     [](sim::Rm7Module& m) { return m.fpga().sourceStreams().lastWritten(0x0); }, 0xC0000004},
};

constexpr RegisterReply kDone{};
constexpr char kBaseMap[] = "RM7BaseRegMap_Ver22.8.0f141";

class RegisterIoctls : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    ASSERT_EQ(driver.load(), 0);
    loaded = layerHoldings();
    ASSERT_EQ(sim::plugIn(module.device()), 0);
    ASSERT_EQ(file.open("qvrm7_driver_qvrm7"), 0);
  }
  void TearDown() override {
    file.close();
    sim::unplug(*module.device());
    EXPECT_EQ(layerHoldings(), loaded);
  }

  sim::LoadedDriver driver{nQVWEND200_driverEntry};
  decltype(layerHoldings()) loaded;
  sim::Rm7Module module;
  sim::UserFile file;
  sim::RegisterClient client{file};
};

TEST_F(RegisterIoctls, EveryCodeTakesExactlyItsRecordsAndRunsOnlyWhenItCanAnswer) {
  // Room for any record and one byte more, set to a pattern the driver must
  // leave alone when it refuses.
  unsigned char input[64] = {}, output[64];
  for (testing_support::RegisterCode const& c : testing_support::kRegisterCodes) {
    SCOPED_TRACE(c.code);
    uint32_t const in = c.input, out = c.output;
    for (auto [inputSize, outputSize] :
         {std::pair(in - 1, out), std::pair(in + 1, out), std::pair(in, out - 1),
          std::pair(in, out + 1), std::pair(0u, 0u)}) {
      std::memset(output, 0xA5, sizeof output);
      uint32_t bytes = 1;
      EXPECT_EQ(file.ioctl(c.code, input, inputSize, output, outputSize, &bytes),
                kLayerBadArgument);
      EXPECT_EQ(bytes, 0u);
      EXPECT_EQ(output[0], 0xA5);
    }
    // Records the driver cannot read, or cannot answer into.
    EXPECT_EQ(file.ioctl(c.code, nullptr, c.input, output, c.output), kLayerBadArgument);
    EXPECT_EQ(file.ioctl(c.code, input, c.input, nullptr, c.output), kLayerBadArgument);
    uint32_t bytes = 0;
    EXPECT_EQ(file.ioctl(c.code, input, c.input, output, c.output, &bytes), 0);
    EXPECT_EQ(bytes, c.output) << "a whole result record, whatever its status";
  }
  EXPECT_EQ(file.ioctl(0x0300, input, 4, output, 4), kLayerNotSupported) << "not a code";
}

TEST_F(RegisterIoctls, BadNamesAndBuffersGetAStatusAndChangeNothing) {
  std::string const unmapped = kBaseMap;
  uint64_t const outside = sim::RegisterClient::address(unmapped.data());
  struct {
    tArmMapName name;
    int32_t status, expected;
  } const rows[] = {
      {{outside, unmapped.size()}, 0, -52005},    // a name outside the caller's memory
      {{outside, uint64_t{1} << 40}, 0, -52005},  // sizes no name has
      {{0, ~uint64_t{0}}, 0, -52005},
      {{0, 0}, -7, -7},  // the caller's own error: nothing is done, it comes back as it was
  };
  for (auto const& row : rows) {
    tArmValueResult result{};
    tArmRegisterArguments const arguments{row.name, 0x80000000, row.status};
    EXPECT_EQ(client.exchange(kIoctlArmGet, arguments, result), 0);
    EXPECT_EQ(result.status, row.expected) << row.name.size;
  }

  // Listing buffers a byte short of what would be copied: not a byte of them
  // is written.
  RegisterReply const size = client.listSize();
  for (auto [code, bytes] :
       {std::pair(kIoctlArmGetRegistrationNames, std::size(kRegisteredMaps) * kArmNameSlotSize),
        std::pair(kIoctlArmGetRegistrationList, size.value - 1)}) {
    std::string buffer(bytes - 1, '#');
    EXPECT_EQ(client.listing(code, buffer), (RegisterReply{0, -52005, 0}));
    EXPECT_EQ(buffer, std::string(bytes - 1, '#'));
  }

  // A write whose answer cannot reach the caller is not made.
  std::string const map = kBaseMap;
  sim::CallMemory const mapRange(map.data(), map.size());
  tArmMapName const mapName = sim::RegisterClient::name(map);
  tArmWriteArguments const write{mapName, 1, 0x8000000C, 1, 0, 0};
  module.fpga().base().clearLog();
  EXPECT_EQ(file.ioctl(kIoctlArmWrite, &write, sizeof write, nullptr, sizeof(tArmStatusResult)),
            kLayerBadArgument);
  EXPECT_TRUE(module.fpga().base().log().empty());

  // Format arrays a map might overrun are refused before it is asked.
  uint8_t types[kArmFormatFields];
  uint64_t masks[kArmFormatFields];
  sim::UserRange typesRange(types, sizeof types), masksRange(masks, sizeof masks);
  uint64_t const typesAt = sim::RegisterClient::address(types);
  uint64_t const masksAt = sim::RegisterClient::address(masks);
  for (uint64_t shortBy : {1, 0}) {
    uint64_t const typesSize = sizeof types - shortBy, masksSize = sizeof masks - 1 + shortBy;
    tArmFormatArguments format{mapName, typesAt, typesSize, masksAt, masksSize, 0x80000000, 0};
    tArmFormatResult result{};
    EXPECT_EQ(client.exchange(kIoctlArmGetRegisterFormat, format, result, map), 0);
    EXPECT_EQ(result.status, -52005);
  }
}

TEST_F(RegisterIoctls, TheSetupReadsThePortSelectionAndLeavesTheOutputsToBeWritten) {
  std::vector<uint32_t> portReads;
  for (sim::ChipAccess const& a : module.vexus().registers().log())
    if (!a.write && (a.offset == 0x510 || a.offset == 0x514)) portReads.push_back(a.offset);
  EXPECT_EQ(portReads, (std::vector<uint32_t>{0x514, 0x510}));
  EXPECT_TRUE(module.tmr9().registers().log().empty());
  EXPECT_EQ(client.get("DO_Ver200a13081315", 0x80000008), (RegisterReply{0, 0, 0xBF}));
  EXPECT_EQ(client.get("DO_Ver200a13081315", 0x80000004), (RegisterReply{0, 0, 0x16}));
  EXPECT_EQ(client.read(kBaseMap, 0x80000000), (RegisterReply{0, 0, 0xB6B66BB7}));
}

TEST_F(RegisterIoctls, EveryRegisteredMapAnswersByItsVersionedName) {
  std::string expected;
  for (auto const& map : kRegisteredMaps)
    expected += (expected.empty() ? "" : "\t") + std::string(map.name);
  std::string list;
  EXPECT_EQ(client.list(list), (RegisterReply{0, 0, expected.size() + 1}));
  EXPECT_EQ(list, expected);
  std::vector<std::string> names;
  EXPECT_EQ(client.names(std::size(kRegisteredMaps), names), kDone);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(names[i], kRegisteredMaps[i].name);

  for (auto const& map : kRegisteredMaps) {
    SCOPED_TRACE(map.name);
    std::string const name = testing_support::versionedName(map.name);
    std::vector<std::pair<uint8_t, uint64_t>> fields;
    RegisterReply const format = client.format(name, map.written, fields);
    EXPECT_EQ(format.status, 0);
    ASSERT_FALSE(fields.empty());
    uint32_t mask = 0;
    for (auto const& field : fields) mask |= static_cast<uint32_t>(field.second);
    // Values the register's fields hold whole, each differing from the other.
    uint32_t const first = 0x5A5A5A5A & mask, second = ~first & mask;
    EXPECT_EQ(client.set(name, map.written, first), kDone);
    EXPECT_EQ(client.get(name, map.written), (RegisterReply{0, 0, first}));
    EXPECT_EQ(client.flush(name, map.written, false), kDone);
    EXPECT_EQ(map.landed(module), first);
    EXPECT_EQ(client.write(name, map.written, second, true, 0u), kDone);
    EXPECT_EQ(map.landed(module), second);
    EXPECT_EQ(client.read(name, map.read, 0u).status, 0);
    EXPECT_EQ(client.get(map.name, map.written).status, -240023);
    std::string newer = name;  // one build later: the version ends in its build
    ++newer.back();
    EXPECT_EQ(client.get(newer, map.written), (RegisterReply{0, 240000, second}));
  }
}

// An element index has 24 bits: the Ex forms take every index that fits and
// refuse a wider one before the map does anything, in its cache or on the
// block. The word's cache holds 0x11 over a block word of 0x33 each time.
TEST_F(RegisterIoctls, ExFormsTakeA24BitElementIndexAndDoNothingWithAWiderOne) {
  std::string const map = "RM7SlotRamRegisterMap_Ver22.8.0f141";
  constexpr uint32_t kWord = 0x80000000;
  sim::FpgaBlock& block = module.fpga().slotRam();
  struct {
    uint32_t code;
    uint64_t value;  // what an accepted get or read answers
    bool onTheBlock;
    uint32_t cached;  // after an accepted call that hands in 0x22
  } const rows[] = {
      {kIoctlArmGetEx, 0x11, false, 0x11},       {kIoctlArmSetEx, 0, false, 0x22},
      {kIoctlArmReadEx, 0x33, true, 0x33},       {kIoctlArmWriteEx, 0, true, 0x22},
      {kIoctlArmFlushRegisterEx, 0, true, 0x11}, {kIoctlArmRefreshRegisterEx, 0, true, 0x33},
  };
  for (auto const& row : rows) {
    for (uint32_t index : {0u, 0xFFFFFFu, 0x1000000u, 0xFFFFFFFFu}) {
      SCOPED_TRACE(testing::Message() << row.code << " index " << index);
      ASSERT_EQ(client.write(map, kWord, 0x33, true), kDone);
      ASSERT_EQ(client.set(map, kWord, 0x11), kDone);
      block.clearLog();
      RegisterReply const reply =
          testing_support::registerCall(client, row.code, map, kWord, 0x22, index);
      bool const fits = index < 0x1000000;
      RegisterReply const expected =
          fits ? RegisterReply{0, 0, row.value} : RegisterReply{0, -52003, 0};
      EXPECT_EQ(reply, expected);
      EXPECT_EQ(block.log().empty(), !(fits && row.onTheBlock));
      EXPECT_EQ(client.get(map, kWord), (RegisterReply{0, 0, fits ? row.cached : 0x11}));
    }
  }
}

// The plain set carries 32 bits, widened with zeros on their way to the map;
// the record's padding is no part of the value.
TEST_F(RegisterIoctls, PlainSetCarriesAThirtyTwoBitValue) {
  std::string const map = "RM7SlotRamRegisterMap_Ver22.8.0f141";
  sim::CallMemory const mapRange(map.data(), map.size());
  tArmSetArguments const set{sim::RegisterClient::name(map), 0x80000001, 0x80000000, 0xFFFFFFFF, 0};
  tArmStatusResult result{};
  EXPECT_EQ(client.exchange(kIoctlArmSet, set, result, map), 0);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(client.get(map, 0x80000000), (RegisterReply{0, 0, 0x80000001}));
}

}  // namespace
