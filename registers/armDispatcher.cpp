#include "registers/armDispatcher.h"

#include "platform/userBuffer.h"

namespace qvregitools {
// Every registry of register maps shares one copy of the templates.
template class DispatcherBase<RegistrationWrapper<arm::tDynamicAccessInterface>>;
template class WrapperDispatcher<arm::tDynamicAccessInterface>;
template class Dispatcher<arm::tDynamicAccessInterface, WrapperDispatcher>;
}  // namespace qvregitools

namespace armki {

using qvrm7_driver::u8;
using qvrm7_driver::nQVWEND000::tUserBuffer;

void ARMDispatcher::getRegisterFormat(tEventDescriptor const& context, void* userName,
                                      unsigned long nameSize, u32 registerId, u32& count,
                                      void* userTypes, void* userMasks, tStatus& status) {
  tDynamicAccessInterface* map = nullptr;
  qvrm7_driver::nQVWEND000::tMutex* mutex = nullptr;
  getRegistration(context, userName, nameSize, &map, status, &mutex);
  if (map == nullptr || mutex == nullptr) return;

  mutex->acquire();
  arm::FieldType types[kLargestFieldCount];
  u64 masks[kLargestFieldCount];
  count = kLargestFieldCount;
  map->getRegisterFormat(registerId, count, types, masks, status);
  // A map never reports more fields than it was given room for; should one,
  // the copies stay inside the arrays.
  u32 const fields = count < kLargestFieldCount ? count : kLargestFieldCount;
  u8 typeBytes[kLargestFieldCount];
  for (u32 i = 0; i < fields; ++i) typeBytes[i] = static_cast<u8>(types[i]);
  tUserBuffer(context, reinterpret_cast<uintptr_t>(userTypes), fields)
      .write(0, typeBytes, fields, status);
  tUserBuffer(context, reinterpret_cast<uintptr_t>(userMasks), fields * sizeof(u64))
      .write(0, masks, fields * sizeof(u64), status);
  mutex->release();
}

}  // namespace armki
