// The switch device's ioctl interface, "qvrm7_driver_qvrm7": the generated
// decoder of the device's operation codes. Each code has one argument and
// one result record (registerIoctls.h), both required at exactly their
// size; the decoder copies the arguments in, starts the operation from the
// caller's status, and copies the results and the status out. An operation
// that changes anything runs only once its result can reach the caller: a
// blank result record goes out first, so a caller whose output cannot be
// written learns of no change, and none is made. A query changes nothing and
// its result goes out once. A code the decoder does not know goes to the
// platform's decoder, which ends in the device's deviceIOControl.
#pragma once

#include "platform/deviceInterface.h"
#include "source/qvrm7_driver/interface/ioctlRecords.h"
#include "source/qvrm7_driver/interface/registerIoctls.h"

namespace qvrm7_driver {

inline constexpr char kSwitchInterfaceName[] = "qvrm7_driver_qvrm7";

template <class tDeviceClass, class tSessionClass>
class tInterfaceTemplate_qvrm7 : public nQVWEND000::tDeviceInterface {
  using tContext = nQVWEND000::tEventDescriptor const&;
  using tStatus = nQVWEND000::tStatus;

 public:
  explicit tInterfaceTemplate_qvrm7(tDeviceClass* device)
      : tDeviceInterface(device, kSwitchInterfaceName) {}

  // Slot 2. The status is the transport's: what the operation itself ended
  // with travels in the result record.
  u32 decodeIOControl(tContext context, u32 code, void const* input, u64 inputSize, void* output,
                      u64 outputSize, tStatus& status) override {
    tRequest const request{context, input, inputSize, output, outputSize};
    switch (code) {
      case kIoctlArmGet:
        return unmarshall_arm_get(request, status);
      case kIoctlArmGetEx:
        return unmarshall_arm_getEx(request, status);
      case kIoctlArmSet:
        return unmarshall_arm_set(request, status);
      case kIoctlArmSetEx:
        return unmarshall_arm_setEx(request, status);
      case kIoctlArmRead:
        return unmarshall_arm_read(request, status);
      case kIoctlArmReadEx:
        return unmarshall_arm_readEx(request, status);
      case kIoctlArmWrite:
        return unmarshall_arm_write(request, status);
      case kIoctlArmWriteEx:
        return unmarshall_arm_writeEx(request, status);
      case kIoctlArmFlushRegister:
        return unmarshall_arm_flushRegister(request, status);
      case kIoctlArmFlushRegisterEx:
        return unmarshall_arm_flushRegisterEx(request, status);
      case kIoctlArmRefreshRegister:
        return unmarshall_arm_refreshRegister(request, status);
      case kIoctlArmRefreshRegisterEx:
        return unmarshall_arm_refreshRegisterEx(request, status);
      case kIoctlArmFlushRegMap:
        return unmarshall_arm_flushRegMap(request, status);
      case kIoctlArmGetRegisterFormat:
        return unmarshall_arm_getRegisterFormat(request, status);
      case kIoctlArmGetRegistrationNames:
        return unmarshall_arm_getRegistrationNames(request, status);
      case kIoctlArmGetRegistrationList:
        return unmarshall_arm_getRegistrationList(request, status);
      case kIoctlArmGetSizeOfRegistrationList:
        return unmarshall_arm_getSizeOfRegistrationList(request, status);
      default:
        return tDeviceInterface::decodeIOControl(context, code, input, inputSize, output,
                                                 outputSize, status);
    }
  }

 private:
  using tRequest = tIoctlRequest;
  enum class tEffect { changes, query };

  tDeviceClass& owner() { return *static_cast<tDeviceClass*>(tDeviceInterface::device()); }

  // operation(arguments, result, status) with the status the caller sent.
  template <class Arguments, class Result, tEffect effect = tEffect::changes, class Operation>
  u32 unmarshall(tRequest const& request, tStatus& status, Operation operation) {
    // Read only once the caller's record has been copied over it whole.
    Arguments arguments;
    Result result{};
    if (!copyArgumentsIn(request, &arguments, sizeof arguments, sizeof result, status)) return 0;
    if (effect == tEffect::changes && copyResultOut(request, &result, sizeof result, status) == 0)
      return 0;
    tStatus operationStatus = callerStatus(arguments.status);
    operation(arguments, result, operationStatus);
    result.status = callerStatusCode(operationStatus);
    return copyResultOut(request, &result, sizeof result, status);
  }

  u32 unmarshall_arm_get(tRequest const& r, tStatus& status) {
    return unmarshall<tArmRegisterArguments, tArmValueResult, tEffect::query>(
        r, status, [&](auto const& in, auto& out, tStatus& s) {
          owner().arm_get(r.context, in.map, in.id, out.value, 0, s);
        });
  }
  u32 unmarshall_arm_getEx(tRequest const& r, tStatus& status) {
    return unmarshall<tArmRegisterExArguments, tArmValueResult, tEffect::query>(
        r, status, [&](auto const& in, auto& out, tStatus& s) {
          owner().arm_get(r.context, in.map, in.id, out.value, in.index, s);
        });
  }
  u32 unmarshall_arm_set(tRequest const& r, tStatus& status) {
    return unmarshall<tArmSetArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_set(r.context, in.map, in.id, in.value, 0, s);
        });
  }
  u32 unmarshall_arm_setEx(tRequest const& r, tStatus& status) {
    return unmarshall<tArmSetExArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_set(r.context, in.map, in.id, in.value, in.index, s);
        });
  }
  u32 unmarshall_arm_read(tRequest const& r, tStatus& status) {
    return unmarshall<tArmRegisterArguments, tArmValueResult>(
        r, status, [&](auto const& in, auto& out, tStatus& s) {
          owner().arm_read(r.context, in.map, in.id, out.value, 0, s);
        });
  }
  u32 unmarshall_arm_readEx(tRequest const& r, tStatus& status) {
    return unmarshall<tArmRegisterExArguments, tArmValueResult>(
        r, status, [&](auto const& in, auto& out, tStatus& s) {
          owner().arm_read(r.context, in.map, in.id, out.value, in.index, s);
        });
  }
  u32 unmarshall_arm_write(tRequest const& r, tStatus& status) {
    return unmarshall<tArmWriteArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_write(r.context, in.map, in.id, in.value, in.force != 0, 0, s);
        });
  }
  u32 unmarshall_arm_writeEx(tRequest const& r, tStatus& status) {
    return unmarshall<tArmWriteExArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_write(r.context, in.map, in.id, in.value, in.force != 0, in.index, s);
        });
  }
  u32 unmarshall_arm_flushRegister(tRequest const& r, tStatus& status) {
    return unmarshall<tArmFlushArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_flushRegister(r.context, in.map, in.id, in.force != 0, 0, s);
        });
  }
  u32 unmarshall_arm_flushRegisterEx(tRequest const& r, tStatus& status) {
    return unmarshall<tArmFlushExArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_flushRegister(r.context, in.map, in.id, in.force != 0, in.index, s);
        });
  }
  u32 unmarshall_arm_refreshRegister(tRequest const& r, tStatus& status) {
    return unmarshall<tArmRegisterArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_refreshRegister(r.context, in.map, in.id, 0, s);
        });
  }
  u32 unmarshall_arm_refreshRegisterEx(tRequest const& r, tStatus& status) {
    return unmarshall<tArmRegisterExArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_refreshRegister(r.context, in.map, in.id, in.index, s);
        });
  }
  u32 unmarshall_arm_flushRegMap(tRequest const& r, tStatus& status) {
    return unmarshall<tArmFlushMapArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_flushRegMap(r.context, in.map, in.force != 0, s);
        });
  }
  u32 unmarshall_arm_getRegisterFormat(tRequest const& r, tStatus& status) {
    return unmarshall<tArmFormatArguments, tArmFormatResult>(
        r, status, [&](auto const& in, auto& out, tStatus& s) {
          owner().arm_getRegisterFormat(r.context, in.map, in.id, out.count, in.types, in.typesSize,
                                        in.masks, in.masksSize, s);
        });
  }
  u32 unmarshall_arm_getRegistrationNames(tRequest const& r, tStatus& status) {
    return unmarshall<tArmListingArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_getRegistrationNames(r.context, in.buffer, in.size, s);
        });
  }
  u32 unmarshall_arm_getRegistrationList(tRequest const& r, tStatus& status) {
    return unmarshall<tArmListingArguments, tArmStatusResult>(
        r, status, [&](auto const& in, auto&, tStatus& s) {
          owner().arm_getRegistrationList(r.context, in.buffer, in.size, s);
        });
  }
  u32 unmarshall_arm_getSizeOfRegistrationList(tRequest const& r, tStatus& status) {
    return unmarshall<tArmStatusArguments, tArmSizeResult, tEffect::query>(
        r, status, [&](auto const&, auto& out, tStatus& s) {
          owner().arm_getSizeOfRegistrationList(r.context, out.size, s);
        });
  }
};

}  // namespace qvrm7_driver
