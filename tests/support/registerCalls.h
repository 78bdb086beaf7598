// Every register ioctl as a client calls it: the listings, then each map
// operation, plain and Ex, on every map the device lists, named with its
// version as a client must, and on two names the driver refuses: a listed
// map without its version and a name it does not know. The maps come from
// the device itself; their versions are the ones a client is built against,
// so a map that arrives without one here shows as unreached.
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
// What the driver answers a bare name of a versioned registration, and a
// name it does not know.
inline constexpr int32_t kVersionRequired = -240023;
inline constexpr int32_t kRegistrationNotFound = -240024;
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

// The version each register map is registered with.
struct MapVersion {
  char const* map;
  char const* version;
};
inline constexpr MapVersion kMapVersions[] = {
    {"RM7BaseRegMap", "22.8.0f141"},
    {"RM7ThreadRegisterMap", "22.8.0f141"},
    {"RM7SlotRegisterMap", "22.8.0f141"},
    {"RM7SlotRamRegisterMap", "22.8.0f141"},
    {"HalcyonTmr9SourceStreams", "22.8.0f141"},
    {"SwitchedVexusBimRegMap", "22.8.0f108"},
    {"Vexus", "22.8.0f108"},
    {"VexusI2C", "22.8.0f108"},
    {"IsolationPortRegMap", "22.8.0f108"},
    {"VexusConfigPortWindow", "22.8.0f108"},
    {"VexusConfigPortSPI", "22.8.0f108"},
    {"VexusConfigPortI2C", "22.8.0f108"},
    {"DO", "200a13081315"},
};

// "<map>_Ver<version>", the name a versioned registration answers to; the
// bare name for a map of no known version.
inline std::string versionedName(std::string const& map) {
  for (MapVersion const& known : kMapVersions)
    if (map == known.map) return map + "_Ver" + known.version;
  return map;
}

struct RegisterCall {
  std::string name;
  std::function<sim::RegisterReply(sim::RegisterClient&)> run;
  // The versioned map the call must reach; empty for the listings and the
  // names the driver refuses.
  std::string reaches = {};
  int32_t refusal = 0;  // for a name the driver refuses, the status it must give
};

// The listings once, then every map operation on each listed map by its
// versioned name, on the first one's bare name and on an unknown one.
inline std::vector<RegisterCall> everyRegisterCall(std::vector<std::string> const& listed) {
  char const* const what[] = {"get",         "set",    "read",  "write", "flush",       "refresh",
                              "flushRegMap", "format", "names", "list",  "size of list"};
  std::vector<RegisterCall> calls;
  uint64_t const count = listed.size();
  std::vector<std::string> maps{""};
  for (std::string const& map : listed) maps.push_back(versionedName(map));
  if (!listed.empty()) maps.push_back(listed.front());
  maps.push_back(kUnknownMap);
  for (size_t m = 0; m < maps.size(); ++m) {
    std::string const& map = maps[m];
    for (RegisterCode const& c : kRegisterCodes) {
      uint32_t const code = c.code, plain = code & ~kExBit;
      if (map.empty() != (plain >= qvrm7_driver::kIoctlArmGetRegistrationNames)) continue;
      calls.push_back({what[plain - qvrm7_driver::kIoctlArmGet] +
                           std::string(code & kExBit ? "Ex" : "") + (map.empty() ? "" : " ") + map,
                       [code, map, value = map.empty() ? count : 0](sim::RegisterClient& client) {
                         return registerCall(client, code, map, kFirstRegister, value);
                       },
                       m >= 1 && m <= count ? map : std::string(),
                       m <= count           ? 0
                       : map == kUnknownMap ? kRegistrationNotFound
                                            : kVersionRequired});
    }
  }
  return calls;
}

inline bool answered(sim::RegisterReply const& reply) {
  return reply.ioctl == 0 && reply.status >= 0;
}

// What keeps the calls, answered with the replies, short of their reach:
// a listed map that answered none of its calls, or a refusal case that was
// not refused as it must be. Empty when nothing.
inline std::string reachShortfall(std::vector<RegisterCall> const& calls,
                                  std::vector<sim::RegisterReply> const& replies) {
  std::vector<std::string> unreached;
  std::string shortfall;
  for (size_t i = 0; i < calls.size() && i < replies.size(); ++i) {
    RegisterCall const& call = calls[i];
    if (call.refusal != 0 && (replies[i].ioctl != 0 || replies[i].status != call.refusal))
      shortfall += "  " + call.name + " was not refused\n";
    if (!call.reaches.empty() &&
        std::find(unreached.begin(), unreached.end(), call.reaches) == unreached.end())
      unreached.push_back(call.reaches);
  }
  for (size_t i = 0; i < calls.size() && i < replies.size(); ++i)
    if (answered(replies[i])) std::erase(unreached, calls[i].reaches);
  for (std::string const& map : unreached) shortfall += "  " + map + " answered no call\n";
  if (calls.size() != replies.size()) shortfall += "  a reply is missing for some calls\n";
  return shortfall;
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
