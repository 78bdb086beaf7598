// Every register ioctl as a client calls it: the listings, then each map
// operation, plain and Ex, on every map the device lists and on a name it
// does not know. The maps come from the device itself, so whatever maps a
// module registers are covered as they arrive.
#pragma once

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/registerClient.h"

namespace testing_support {

// Every register ioctl code with the exact sizes of its two records.
struct RegisterCode {
  uint32_t code, input, output;
};
inline constexpr RegisterCode kRegisterCodes[] = {
    {qvrm7_driver::kIoctlArmGet, sizeof(qvrm7_driver::tArmRegisterArguments),
     sizeof(qvrm7_driver::tArmValueResult)},
    {qvrm7_driver::kIoctlArmGetEx, sizeof(qvrm7_driver::tArmRegisterExArguments),
     sizeof(qvrm7_driver::tArmValueResult)},
    {qvrm7_driver::kIoctlArmSet, sizeof(qvrm7_driver::tArmSetArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmSetEx, sizeof(qvrm7_driver::tArmSetExArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmRead, sizeof(qvrm7_driver::tArmRegisterArguments),
     sizeof(qvrm7_driver::tArmValueResult)},
    {qvrm7_driver::kIoctlArmReadEx, sizeof(qvrm7_driver::tArmRegisterExArguments),
     sizeof(qvrm7_driver::tArmValueResult)},
    {qvrm7_driver::kIoctlArmWrite, sizeof(qvrm7_driver::tArmWriteArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmWriteEx, sizeof(qvrm7_driver::tArmWriteExArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmFlushRegister, sizeof(qvrm7_driver::tArmFlushArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmFlushRegisterEx, sizeof(qvrm7_driver::tArmFlushExArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmRefreshRegister, sizeof(qvrm7_driver::tArmRegisterArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmRefreshRegisterEx, sizeof(qvrm7_driver::tArmRegisterExArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmFlushRegMap, sizeof(qvrm7_driver::tArmFlushMapArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmGetRegisterFormat, sizeof(qvrm7_driver::tArmFormatArguments),
     sizeof(qvrm7_driver::tArmFormatResult)},
    {qvrm7_driver::kIoctlArmGetRegistrationNames, sizeof(qvrm7_driver::tArmListingArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmGetRegistrationList, sizeof(qvrm7_driver::tArmListingArguments),
     sizeof(qvrm7_driver::tArmStatusResult)},
    {qvrm7_driver::kIoctlArmGetSizeOfRegistrationList, sizeof(qvrm7_driver::tArmStatusArguments),
     sizeof(qvrm7_driver::tArmSizeResult)},
};

// The whole register at offset 0, which every map has first.
inline constexpr uint32_t kFirstRegister = 0x80000000;
inline constexpr char kUnknownMap[] = "RM7NoSuchRegMap";

struct RegisterCall {
  std::string name;
  std::function<sim::RegisterReply(sim::RegisterClient&)> run;
};

// The names in the device's tab-joined list; none when it cannot be read.
inline std::vector<std::string> listedMaps(sim::RegisterClient& client) {
  std::string list;
  std::vector<std::string> maps;
  // The reply first: the list's size is known only once the call has filled it.
  sim::RegisterReply const reply = client.list(list);
  if (reply != sim::RegisterReply{0, 0, list.size() + 1}) return maps;
  for (size_t start = 0; start < list.size();) {
    size_t const end = std::min(list.find('\t', start), list.size());
    maps.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return maps;
}

// Names and list answers are folded into the reply's value, so that a
// changed listing shows as a changed reply.
inline std::vector<RegisterCall> everyRegisterCall(std::vector<std::string> maps) {
  std::vector<RegisterCall> calls = {
      {"size of list", [](sim::RegisterClient& c) { return c.listSize(); }},
      {"list",
       [](sim::RegisterClient& c) {
         std::string list;
         sim::RegisterReply reply = c.list(list);
         reply.value ^= std::hash<std::string>{}(list);
         return reply;
       }},
      {"names",
       [count = maps.size()](sim::RegisterClient& c) {
         std::vector<std::string> names;
         sim::RegisterReply reply = c.names(count, names);
         for (std::string const& name : names)
           reply.value = reply.value * 31 + std::hash<std::string>{}(name);
         return reply;
       }},
  };
  maps.push_back(kUnknownMap);
  using Op = std::function<sim::RegisterReply(sim::RegisterClient&, std::string const&,
                                              std::optional<uint32_t>)>;
  struct Operation {
    char const* what;
    bool indexed;  // has an Ex variant
    Op run;
  };
  Operation const operations[] = {
      {"get", true, [](auto& c, auto& m, auto i) { return c.get(m, kFirstRegister, i); }},
      {"set", true, [](auto& c, auto& m, auto i) { return c.set(m, kFirstRegister, 0, i); }},
      {"read", true, [](auto& c, auto& m, auto i) { return c.read(m, kFirstRegister, i); }},
      {"write", true,
       [](auto& c, auto& m, auto i) { return c.write(m, kFirstRegister, 0, true, i); }},
      {"flush", true, [](auto& c, auto& m, auto i) { return c.flush(m, kFirstRegister, true, i); }},
      {"refresh", true, [](auto& c, auto& m, auto i) { return c.refresh(m, kFirstRegister, i); }},
      {"flushRegMap", false, [](auto& c, auto& m, auto) { return c.flushMap(m, true); }},
      {"format", false,
       [](auto& c, auto& m, auto) {
         std::vector<std::pair<uint8_t, uint64_t>> fields;
         sim::RegisterReply reply = c.format(m, kFirstRegister, fields);
         for (auto [type, mask] : fields) reply.value = reply.value * 31 + type + mask;
         return reply;
       }},
  };
  for (std::string const& map : maps) {
    for (Operation const& operation : operations) {
      for (bool ex : {false, true}) {
        if (ex && !operation.indexed) continue;
        std::optional<uint32_t> const index = ex ? std::optional<uint32_t>{0} : std::nullopt;
        calls.push_back({std::string(operation.what) + (ex ? "Ex " : " ") + map,
                         [run = operation.run, map, index](sim::RegisterClient& c) {
                           return run(c, map, index);
                         }});
      }
    }
  }
  return calls;
}

}  // namespace testing_support
