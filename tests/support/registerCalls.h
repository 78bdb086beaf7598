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

#include "host/layer/rm7Module.h"
#include "host/registerClient.h"

namespace testing_support {

struct RegisterCode {
  uint32_t code, input, output;
};
template <class Input, class Output>
constexpr RegisterCode codeOf(uint32_t code) {
  return {code, sizeof(Input), sizeof(Output)};
}

namespace records {
using namespace qvrm7_driver;
// Every register ioctl code with the exact sizes of its two records.
inline constexpr RegisterCode kRegisterCodes[] = {
    codeOf<tArmRegisterArguments, tArmValueResult>(kIoctlArmGet),
    codeOf<tArmRegisterExArguments, tArmValueResult>(kIoctlArmGetEx),
    codeOf<tArmSetArguments, tArmStatusResult>(kIoctlArmSet),
    codeOf<tArmSetExArguments, tArmStatusResult>(kIoctlArmSetEx),
    codeOf<tArmRegisterArguments, tArmValueResult>(kIoctlArmRead),
    codeOf<tArmRegisterExArguments, tArmValueResult>(kIoctlArmReadEx),
    codeOf<tArmWriteArguments, tArmStatusResult>(kIoctlArmWrite),
    codeOf<tArmWriteExArguments, tArmStatusResult>(kIoctlArmWriteEx),
    codeOf<tArmFlushArguments, tArmStatusResult>(kIoctlArmFlushRegister),
    codeOf<tArmFlushExArguments, tArmStatusResult>(kIoctlArmFlushRegisterEx),
    codeOf<tArmRegisterArguments, tArmStatusResult>(kIoctlArmRefreshRegister),
    codeOf<tArmRegisterExArguments, tArmStatusResult>(kIoctlArmRefreshRegisterEx),
    codeOf<tArmFlushMapArguments, tArmStatusResult>(kIoctlArmFlushRegMap),
    codeOf<tArmFormatArguments, tArmFormatResult>(kIoctlArmGetRegisterFormat),
    codeOf<tArmListingArguments, tArmStatusResult>(kIoctlArmGetRegistrationNames),
    codeOf<tArmListingArguments, tArmStatusResult>(kIoctlArmGetRegistrationList),
    codeOf<tArmStatusArguments, tArmSizeResult>(kIoctlArmGetSizeOfRegistrationList),
};
}  // namespace records
using records::kRegisterCodes;

// The whole register at offset 0, which every map has first.
inline constexpr uint32_t kFirstRegister = 0x80000000;
inline constexpr char kUnknownMap[] = "RM7NoSuchRegMap";
// An Ex code is its plain code with this bit.
inline constexpr uint32_t kExBit = 0x10;

// The register ioctl of a code as a client makes it; the listings take no
// map, and names asks for `value` slots. Formats and listings are folded
// into the reply's value, so that a changed answer shows as a changed reply.
inline sim::RegisterReply registerCall(sim::RegisterClient& c, uint32_t code,
                                       std::string const& map, uint32_t id = kFirstRegister,
                                       uint64_t value = 0, uint32_t index = 0, bool force = true) {
  using namespace qvrm7_driver;
  std::optional<uint32_t> const ex = code & kExBit ? std::optional(index) : std::nullopt;
  std::vector<std::pair<uint8_t, uint64_t>> fields;
  std::vector<std::string> names;
  std::string list;
  sim::RegisterReply reply;
  switch (code & ~kExBit) {
    case kIoctlArmGet:
      return c.get(map, id, ex);
    case kIoctlArmSet:
      return c.set(map, id, value, ex);
    case kIoctlArmRead:
      return c.read(map, id, ex);
    case kIoctlArmWrite:
      return c.write(map, id, value, force, ex);
    case kIoctlArmFlushRegister:
      return c.flush(map, id, force, ex);
    case kIoctlArmRefreshRegister:
      return c.refresh(map, id, ex);
    case kIoctlArmFlushRegMap:
      return c.flushMap(map, force);
    case kIoctlArmGetRegisterFormat:
      reply = c.format(map, id, fields);
      for (auto [type, mask] : fields) reply.value = reply.value * 31 + type + mask;
      return reply;
    case kIoctlArmGetRegistrationNames:
      reply = c.names(value, names);
      for (std::string const& name : names)
        reply.value = reply.value * 31 + std::hash<std::string>{}(name);
      return reply;
    case kIoctlArmGetRegistrationList:
      reply = c.list(list);
      reply.value ^= std::hash<std::string>{}(list);
      return reply;
    default:
      return c.listSize();
  }
}

struct RegisterCall {
  std::string name;
  std::function<sim::RegisterReply(sim::RegisterClient&)> run;
};

// The listings once, then every map operation on each map and an unknown one.
inline std::vector<RegisterCall> everyRegisterCall(std::vector<std::string> maps) {
  char const* const what[] = {"get",         "set",    "read",  "write", "flush",       "refresh",
                              "flushRegMap", "format", "names", "list",  "size of list"};
  std::vector<RegisterCall> calls;
  uint64_t const count = maps.size();
  maps.insert(maps.begin(), "");
  maps.push_back(kUnknownMap);
  for (std::string const& map : maps) {
    for (RegisterCode const& c : kRegisterCodes) {
      uint32_t const code = c.code, plain = code & ~kExBit;
      if (map.empty() != (plain >= qvrm7_driver::kIoctlArmGetRegistrationNames)) continue;
      calls.push_back({what[plain - qvrm7_driver::kIoctlArmGet] +
                           std::string(code & kExBit ? "Ex" : "") + (map.empty() ? "" : " ") + map,
                       [code, map, value = map.empty() ? count : 0](sim::RegisterClient& client) {
                         return registerCall(client, code, map, kFirstRegister, value);
                       }});
    }
  }
  return calls;
}

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

// The maps a module lists to the loaded driver; none when it is not served.
// The file's close at the end destroys the module's device.
inline std::vector<std::string> mapsOfAModule() {
  sim::Rm7Module module;
  std::vector<std::string> maps;
  if (sim::plugIn(module.device()) != 0) return maps;
  sim::UserFile file;
  sim::RegisterClient client{file};
  if (file.open("qvrm7_driver_qvrm7") == 0) maps = listedMaps(client);
  sim::unplug(*module.device());
  return maps;
}

}  // namespace testing_support
