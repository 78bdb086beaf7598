// The register ioctls of the real object through the layer's transport: the
// records each code requires, and what a caller's bad input gets back.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/registerClient.h"
#include "support/registerCalls.h"
#include "support/registerRequestScenario.h"
#include "support/registeredMaps.h"
#include "support/switchDeviceScenario.h"

namespace {

using namespace qvrm7_driver;
using sim::RegisterReply;
using testing_support::kRegisteredMaps;
using testing_support::layerHoldings;

// The layer's images of -52005 and -52002.
constexpr int32_t kLayerBadArgument = -51009;
constexpr int32_t kLayerNotSupported = -51256;

constexpr RegisterReply kDone{};
constexpr char kBaseMap[] = "RM7BaseRegMap_Ver22.8.0f141";

// A version one build later than the text, which ends in its build.
std::string newer(std::string version) {
  ++version.back();
  return version;
}

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
    std::pair<uint32_t, uint32_t> const wrong[] = {{c.input - 1, c.output},
                                                   {c.input + 1, c.output},
                                                   {c.input, c.output - 1},
                                                   {c.input, c.output + 1},
                                                   {0, 0}};
    for (auto [inputSize, outputSize] : wrong) {
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
  tArmRegisterArguments const arguments[] = {
      // A name outside the caller's memory.
      {{sim::RegisterClient::address(unmapped.data()), unmapped.size()}, 0x80000000, 0},
      // A size no name has.
      {{sim::RegisterClient::address(unmapped.data()), uint64_t{1} << 40}, 0x80000000, 0},
      {{0, ~uint64_t{0}}, 0x80000000, 0},
      // The caller's own error: nothing is done and it comes back as it was.
      {{0, 0}, 0x80000000, -7},
  };
  int32_t const expected[] = {-52005, -52005, -52005, -7};
  for (size_t i = 0; i < std::size(arguments); ++i) {
    SCOPED_TRACE(i);
    tArmValueResult result{};
    EXPECT_EQ(client.exchange(kIoctlArmGet, arguments[i], result), 0);
    EXPECT_EQ(result.status, expected[i]);
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
  tArmWriteArguments const write{sim::RegisterClient::name(map), 1, 0x8000000C, 1, 0, 0};
  module.fpga().base().clearLog();
  EXPECT_EQ(file.ioctl(kIoctlArmWrite, &write, sizeof write, nullptr, sizeof(tArmStatusResult)),
            kLayerBadArgument);
  EXPECT_TRUE(module.fpga().base().log().empty());

  // IDs the map does not have: its own refusal, and nothing reaches the block.
  for (uint32_t id : {0x800000F4u, 0x8000000Du, 0x3F00000Cu}) {
    EXPECT_EQ(client.write(kBaseMap, id, 1, true).status, -52005) << id;
    EXPECT_EQ(client.read(kBaseMap, id).status, -52005) << id;
  }
  EXPECT_TRUE(module.fpga().base().log().empty());

  // Format arrays a map might overrun are refused before it is asked.
  uint8_t types[kArmFormatFields];
  uint64_t masks[kArmFormatFields];
  sim::UserRange typesRange(types, sizeof types), masksRange(masks, sizeof masks);
  for (uint64_t shortBy : {1, 0}) {
    tArmFormatArguments const format{sim::RegisterClient::name(map),
                                     sim::RegisterClient::address(types),
                                     sizeof types - shortBy,
                                     sim::RegisterClient::address(masks),
                                     sizeof masks - 1 + shortBy,
                                     0x80000000,
                                     0};
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
    std::string const name = map.versioned();
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
    EXPECT_EQ(client.get(std::string(map.name) + "_Ver" + newer(map.version), map.written),
              (RegisterReply{0, 240000, second & ~0u}));
  }
}

TEST_F(RegisterIoctls, AFailingImportOnTheRequestPathIsReportedAndLeavesNothingHeld) {
  auto const requests = [&] {
    std::string list;
    std::vector<std::string> names;
    std::vector<std::pair<uint8_t, uint64_t>> fields;
    return std::vector<RegisterReply>{client.write(kBaseMap, 0x8000000C, 7, true),
                                      client.read("IsolationPortRegMap_Ver22.8.0f108", 0x80000004),
                                      client.format(kBaseMap, 0x8000000C, fields),
                                      client.names(std::size(kRegisteredMaps), names),
                                      client.list(list)};
  };
  auto const clean = requests();
  sim::enableCallLog(true);
  (void)requests();
  std::map<std::string, uint64_t> calls;
  for (std::string const& import : sim::callLog()) ++calls[import];
  sim::enableCallLog(false);
  ASSERT_GT(calls.size(), 5u);
  auto const held = layerHoldings();
  // What the driver can tell from the layer's answer; a lost register access
  // or a refused lock has no answer to tell.
  std::set<std::string> const answering = {"nQVZOR100_malloc",
                                           "nQVZOR100_replicateInboundIOControlBuffer",
                                           "nQVZOR100_replicateOutboundIOControlBuffer"};
  for (auto const& [import, count] : calls) {
    for (uint64_t n = 1; n <= count; ++n) {
      SCOPED_TRACE(import + " call " + std::to_string(n));
      sim::failNthCall(import, n);
      auto const replies = requests();
      sim::clearFaults();
      bool const reported = std::any_of(replies.begin(), replies.end(), [](RegisterReply const& r) {
        return r.ioctl != 0 || r.status < 0;
      });
      EXPECT_TRUE(reported || answering.count(import) == 0);
      EXPECT_EQ(requests(), clean) << "a registration's mutex or a buffer was left behind";
      EXPECT_EQ(layerHoldings(), held);
    }
  }
}

TEST(RegisterIoctlRemoval, RequestsDuringARemovalAreAnsweredAndNothingIsLeft) {
  testing_support::removeDuringRegisterRequests();
}

}  // namespace
