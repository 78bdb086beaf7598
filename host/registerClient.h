// A user-space client of the register ioctls over an open file, as switch
// software would write one: it fills the records of the public header,
// makes the names and listing buffers it points at its call memory, and
// hands back the ioctl's own result beside the operation's status.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/layer/user.h"
#include "host/layer/userFile.h"
#include "source/qvrm7_driver/interface/registerIoctls.h"

namespace sim {

struct RegisterReply {
  int32_t ioctl = 0;   // the transport
  int32_t status = 0;  // the operation, from the result record
  uint64_t value = 0;  // get and read: the value; format: the count; the list's size
  bool operator==(RegisterReply const&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, RegisterReply const& reply) {
  return out << "{ioctl " << reply.ioctl << ", status " << reply.status << ", value 0x" << std::hex
             << reply.value << std::dec << "}";
}

class RegisterClient {
  using Index = std::optional<uint32_t>;

 public:
  explicit RegisterClient(UserFile& file) : file_(&file) {}

  // Any record pair, with the name's bytes (when there are any) as user
  // memory for the call.
  template <class Arguments, class Result>
  int32_t exchange(uint32_t code, Arguments const& arguments, Result& result,
                   std::string const& name = {}) {
    CallMemory const nameMemory(name.data(), name.size());  // nothing when empty
    return file_->ioctl(code, &arguments, sizeof arguments, &result, sizeof result);
  }

  RegisterReply get(std::string const& map, uint32_t id, Index index = {}) {
    if (index) return value(qvrm7_driver::kIoctlArmGetEx, registerEx(map, id, *index), map);
    return value(qvrm7_driver::kIoctlArmGet, qvrm7_driver::tArmRegisterArguments{name(map), id, 0},
                 map);
  }
  RegisterReply read(std::string const& map, uint32_t id, Index index = {}) {
    if (index) return value(qvrm7_driver::kIoctlArmReadEx, registerEx(map, id, *index), map);
    return value(qvrm7_driver::kIoctlArmRead, qvrm7_driver::tArmRegisterArguments{name(map), id, 0},
                 map);
  }
  RegisterReply set(std::string const& map, uint32_t id, uint64_t v, Index index = {}) {
    if (index)
      return plain(qvrm7_driver::kIoctlArmSetEx,
                   qvrm7_driver::tArmSetExArguments{name(map), v, id, *index, 0, 0}, map);
    // The plain form's record holds the value's low 32 bits.
    return plain(qvrm7_driver::kIoctlArmSet,
                 qvrm7_driver::tArmSetArguments{name(map), static_cast<uint32_t>(v), id, 0, 0},
                 map);
  }
  RegisterReply write(std::string const& map, uint32_t id, uint64_t v, bool force,
                      Index index = {}) {
    if (index)
      return plain(qvrm7_driver::kIoctlArmWriteEx,
                   qvrm7_driver::tArmWriteExArguments{name(map), v, id, force, *index, 0}, map);
    return plain(qvrm7_driver::kIoctlArmWrite,
                 qvrm7_driver::tArmWriteArguments{name(map), v, id, force, 0, 0}, map);
  }
  RegisterReply flush(std::string const& map, uint32_t id, bool force, Index index = {}) {
    if (index)
      return plain(qvrm7_driver::kIoctlArmFlushRegisterEx,
                   qvrm7_driver::tArmFlushExArguments{name(map), id, force, *index, 0}, map);
    return plain(qvrm7_driver::kIoctlArmFlushRegister,
                 qvrm7_driver::tArmFlushArguments{name(map), id, force, 0, 0}, map);
  }
  RegisterReply refresh(std::string const& map, uint32_t id, Index index = {}) {
    if (index)
      return plain(qvrm7_driver::kIoctlArmRefreshRegisterEx, registerEx(map, id, *index), map);
    return plain(qvrm7_driver::kIoctlArmRefreshRegister,
                 qvrm7_driver::tArmRegisterArguments{name(map), id, 0}, map);
  }
  RegisterReply flushMap(std::string const& map, bool force) {
    return plain(qvrm7_driver::kIoctlArmFlushRegMap,
                 qvrm7_driver::tArmFlushMapArguments{name(map), force, 0}, map);
  }

  // The fields' types and masks, as many as the reply's count says.
  RegisterReply format(std::string const& map, uint32_t id,
                       std::vector<std::pair<uint8_t, uint64_t>>& fields) {
    uint8_t types[qvrm7_driver::kArmFormatFields] = {};
    uint64_t masks[qvrm7_driver::kArmFormatFields] = {};
    CallMemory typesRange(types, sizeof types);
    CallMemory masksRange(masks, sizeof masks);
    qvrm7_driver::tArmFormatArguments const arguments{
        name(map), address(types), sizeof types, address(masks), sizeof masks, id, 0};
    qvrm7_driver::tArmFormatResult result{};
    RegisterReply reply{exchange(qvrm7_driver::kIoctlArmGetRegisterFormat, arguments, result, map),
                        result.status, result.count};
    fields.clear();
    for (uint32_t i = 0; i < result.count && i < qvrm7_driver::kArmFormatFields; ++i)
      fields.emplace_back(types[i], masks[i]);
    return reply;
  }

  RegisterReply listSize() {
    qvrm7_driver::tArmSizeResult result{};
    int32_t const transport = exchange(qvrm7_driver::kIoctlArmGetSizeOfRegistrationList,
                                       qvrm7_driver::tArmStatusArguments{0}, result);
    return {transport, result.status, result.size};
  }
  // The tab-joined list, sized by listSize.
  RegisterReply list(std::string& text) {
    RegisterReply const size = listSize();
    text.assign(size.value > 1 ? size.value - 1 : 0, '\0');
    if (size.ioctl != 0 || size.status != 0) return size;
    RegisterReply reply = listing(qvrm7_driver::kIoctlArmGetRegistrationList, text);
    reply.value = size.value;
    return reply;
  }
  // count slots of 64 bytes, each cut at its NUL.
  RegisterReply names(uint64_t count, std::vector<std::string>& out) {
    std::string slots(count * qvrm7_driver::kArmNameSlotSize, '\0');
    RegisterReply const reply = listing(qvrm7_driver::kIoctlArmGetRegistrationNames, slots);
    out.clear();
    for (uint64_t i = 0; i < count; ++i) {
      std::string const slot =
          slots.substr(i * qvrm7_driver::kArmNameSlotSize, qvrm7_driver::kArmNameSlotSize);
      out.push_back(slot.substr(0, slot.find('\0')));
    }
    return reply;
  }

  // A listing into the caller's buffer, whatever its size.
  RegisterReply listing(uint32_t code, std::string& buffer) {
    CallMemory const bufferMemory(buffer.data(), buffer.size());
    return plain(
        code, qvrm7_driver::tArmListingArguments{address(buffer.data()), buffer.size(), 0, 0}, {});
  }

  static uint64_t address(void const* pointer) { return reinterpret_cast<uintptr_t>(pointer); }
  static qvrm7_driver::tArmMapName name(std::string const& map) {
    return {address(map.data()), map.size()};
  }

 private:
  static qvrm7_driver::tArmRegisterExArguments registerEx(std::string const& map, uint32_t id,
                                                          uint32_t index) {
    return {name(map), id, index, 0, 0};
  }
  template <class Arguments>
  RegisterReply value(uint32_t code, Arguments const& arguments, std::string const& map) {
    qvrm7_driver::tArmValueResult result{};
    int32_t const transport = exchange(code, arguments, result, map);
    return {transport, result.status, result.value};
  }
  template <class Arguments>
  RegisterReply plain(uint32_t code, Arguments const& arguments, std::string const& map) {
    qvrm7_driver::tArmStatusResult result{};
    int32_t const transport = exchange(code, arguments, result, map);
    return {transport, result.status, 0};
  }
  UserFile* file_;
};

}  // namespace sim
