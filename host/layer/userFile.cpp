#include "host/layer/userFile.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "host/layer/driverHost.h"
#include "host/layer/pci.h"
#include "host/layer/registration.h"
#include "host/layer/user.h"

namespace sim {

namespace {

constexpr int32_t kNoSuchInterface = -51256;
constexpr int32_t kNotOpen = -51009;

// The request header as it lies in the caller's memory.
struct RequestHeader {
  uint64_t input;
  uint64_t output;
  uint32_t inputSize;
  uint32_t outputSize;
  uint32_t bytesReturned;
  uint32_t unused;
};
static_assert(sizeof(RequestHeader) == 32);

nQVZOR200_tDriverRecord& driver() {
  nQVZOR200_tDriverRecord* record = registeredDriver();
  if (record == nullptr) {
    std::fprintf(stderr, "layer: a file is used while no driver is registered\n");
    std::abort();
  }
  return *record;
}

}  // namespace

UserFile::~UserFile() { close(); }

int32_t UserFile::open(std::string const& interfaceName, uint64_t kernelParent) {
  if (open_) return kNoSuchInterface;
  for (InterfaceRegistration const& registration : liveInterfaceRegistrations()) {
    if (registration.name != interfaceName) continue;
    if (kernelParent != 0 && registration.parent != kernelParent) continue;
    // Held before the open so that an unplug meanwhile cannot destroy the
    // device under it.
    if (!detail::holdDevice(registration.parent)) return kNoSuchInterface;
    void* context = registration.object;
    int32_t const result = driver().open(nullptr, &context);
    if (result < 0) {
      detail::releaseDevice(registration.parent);
      return result;
    }
    context_ = context;
    device_ = registration.parent;
    open_ = true;
    return result;
  }
  return kNoSuchInterface;
}

int32_t UserFile::ioctl(uint32_t code, void const* input, uint32_t inputSize, void* output,
                        uint32_t outputSize, uint32_t* bytesReturned) {
  if (!open_) return kNotOpen;
  RequestHeader header{reinterpret_cast<uintptr_t>(input),
                       reinterpret_cast<uintptr_t>(output),
                       inputSize,
                       outputSize,
                       0,
                       0};
  int32_t result;
  {
    CallMemory inputMemory(input, inputSize);
    CallMemory outputMemory(output, outputSize);
    CallMemory headerMemory(&header, sizeof header);
    result = driver().ioctl(context_, code, reinterpret_cast<uintptr_t>(&header));
  }
  if (bytesReturned != nullptr) *bytesReturned = header.bytesReturned;
  return result;
}

int32_t UserFile::transfer(bool second, void* buffer, uint64_t size, uint64_t* transferred) {
  if (!open_) return kNotOpen;
  uint64_t count = 0;
  CallMemory memory(buffer, size);
  auto const callback = second ? driver().transferB : driver().transferA;
  int32_t const result = callback(context_, reinterpret_cast<uintptr_t>(buffer), size, 0, &count);
  if (transferred != nullptr) *transferred = count;
  return result;
}

int32_t UserFile::transferA(void* buffer, uint64_t size, uint64_t* transferred) {
  return transfer(false, buffer, size, transferred);
}

int32_t UserFile::transferB(void* buffer, uint64_t size, uint64_t* transferred) {
  return transfer(true, buffer, size, transferred);
}

int32_t UserFile::mmap(uint64_t userMap, uint64_t offset, uint64_t* mapObject) {
  if (!open_) return kNotOpen;
  uint32_t made = 0;
  return driver().mmap(context_, offset, userMap, &made, mapObject);
}

void UserFile::unmap(uint64_t mapObject) { driver().unmap(mapObject); }

void UserFile::close() {
  if (!open_) return;
  open_ = false;
  driver().close(context_);
  context_ = nullptr;
  detail::releaseDevice(std::exchange(device_, 0));
}

}  // namespace sim
