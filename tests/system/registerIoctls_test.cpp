// The register ioctls of the real object through the layer's transport: the
// records each code requires, and what a caller's bad input gets back.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/registerClient.h"
#include "support/registerCalls.h"
#include "support/switchDeviceScenario.h"

namespace {

using namespace qvrm7_driver;
using sim::RegisterReply;
using testing_support::layerHoldings;

// The layer's images of -52005 and -52002.
constexpr int32_t kLayerBadArgument = -51009;
constexpr int32_t kLayerNotSupported = -51256;

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
    struct Sizes {
      uint32_t input, output;
    } const wrong[] = {{c.input - 1, c.output},
                       {c.input + 1, c.output},
                       {c.input, c.output - 1},
                       {c.input, c.output + 1},
                       {0, 0}};
    for (Sizes const& sizes : wrong) {
      std::memset(output, 0xA5, sizeof output);
      uint32_t bytes = 1;
      EXPECT_EQ(file.ioctl(c.code, input, sizes.input, output, sizes.output, &bytes),
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
  std::string const unmapped = "RM7BaseRegMap_Ver22.8.0f141";
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

  // Format arrays a map might overrun are refused before it is asked.
  uint8_t types[kArmFormatFields];
  uint64_t masks[kArmFormatFields];
  sim::UserRange typesRange(types, sizeof types), masksRange(masks, sizeof masks);
  std::string const map = "RM7BaseRegMap_Ver22.8.0f141";
  for (auto [typesSize, masksSize] :
       {std::pair(sizeof types - 1, sizeof masks), std::pair(sizeof types, sizeof masks - 1)}) {
    tArmFormatArguments const format{sim::RegisterClient::name(map),
                                     sim::RegisterClient::address(types),
                                     typesSize,
                                     sim::RegisterClient::address(masks),
                                     masksSize,
                                     0x80000000,
                                     0};
    tArmFormatResult result{};
    EXPECT_EQ(client.exchange(kIoctlArmGetRegisterFormat, format, result, map), 0);
    EXPECT_EQ(result.status, -52005);
  }
}

}  // namespace

namespace {

TEST_F(RegisterIoctls, AnEmptyRegistryAnswersItsListings) {
  std::string list = "unchanged";
  EXPECT_EQ(client.list(list), (RegisterReply{0, 0, 1}));
  EXPECT_EQ(list, "");
  std::vector<std::string> names;
  EXPECT_EQ(client.names(0, names), (RegisterReply{0, -240031, 0}));
  EXPECT_EQ(client.get("RM7BaseRegMap_Ver22.8.0f141", 0x80000000), (RegisterReply{0, -240024, 0}));
}

}  // namespace
