// What the layer is handed for each kind of property record, and the
// rollback of a list that the layer refuses half-way.
#include "platform/deviceProperty.h"

#include <gtest/gtest.h>

#include "host/layer/control.h"
#include "host/layer/registration.h"
#include "platform/statusCodes.h"
#include "support/expectSite.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

using nQVWENDS100::tLongStatus;

// A text property without its text yet is handed over as an empty text.
TEST(Properties, ValueAndSizeFollowTheTypeCode) {
  char const text[] = "0000:00:E0:00";
  u8 const block[5] = {1, 2, 3, 4, 5};
  tDataPropertyRecord data{{"g", kPropertyData, 0, sizeof block}, block};
  tPropertyRecord records[] = {
      {"a", kPropertyInt32, 0, 0x1122334455667788},
      {"b", kPropertyUInt32, 0, 7},
      {"c", kPropertyInt64, 0, 1},
      {"d", kPropertyUInt64, 0, 2},
      {"e", kPropertyText, 0, reinterpret_cast<uintptr_t>(text)},
      {"f", kPropertyText, 0, 0},
  };
  void const* const addresses[] = {
      &records[0].value, &records[1].value, &records[2].value, &records[3].value, text, block};
  u64 const sizes[] = {4, 4, 8, 8, sizeof text, sizeof block, 1};
  for (size_t i = 0; i < 7; ++i) {
    tPropertyRecord const& record = i < 5 ? records[i] : i == 5 ? data.record : records[5];
    tPropertyValue const value = propertyValue(record);
    EXPECT_EQ(value.size, sizes[i]) << record.name;
    EXPECT_EQ(value.address, i < 6 ? addresses[i] : value.address) << record.name;
  }
  EXPECT_EQ(*static_cast<char const*>(propertyValue(records[5]).address), '\0');
}

TEST(Properties, RefusalUnregistersTheWholeListOnce) {
  sim::reset();
  tPropertyRecord records[3] = {
      {"a", kPropertyUInt32, 0, 1}, {"b", kPropertyUInt32, 0, 2}, {"c", kPropertyUInt32, 0, 3}};
  tPropertyRecord* list[] = {&records[0], &records[1], &records[2], nullptr};
  sim::failNthCall("nQVZOR200_registerProperty", 3);
  tLongStatus status;
  registerProperties(kPropertyScopeBus, 0xFA00, list, status);
  testing_support::expectSite(status, kStatusNoMatch, "tDevice", 89);
  EXPECT_TRUE(sim::liveProperties().empty());
  for (tPropertyRecord const& record : records) EXPECT_EQ(record.handle, 0u);
  unregisterProperties(list);  // nothing holds a handle: the layer sees nothing
  EXPECT_EQ(sim::propertyUnregistrations().size(), 2u);
}

}  // namespace
}  // namespace qvrm7_driver::nQVWEND000
