// A caller's open file on a device interface the driver published, driven
// the way a kernel drives it: open, ioctl through the 32-byte request header
// in the caller's memory, memory maps, close. Any thread may use its own
// file; one file is not shared between threads.
#pragma once

#include <cstdint>
#include <string>

namespace sim {

class UserFile {
 public:
  UserFile() = default;
  ~UserFile();  // closes a file that is still open
  UserFile(UserFile const&) = delete;
  UserFile& operator=(UserFile const&) = delete;

  // Opens the live interface registered under this name: the open
  // callback's result, or -51256 when no driver publishes such an interface
  // on a device of the bus. The open file holds the device: an unplug
  // meanwhile removes it, and destroys it only at the last close.
  // With a kernel parent (sim::PciDevice::kernelParent), only that device's
  // interface is opened.
  int32_t open(std::string const& interfaceName, uint64_t kernelParent = 0);
  bool isOpen() const { return open_; }

  // The ioctl callback's result. The buffers and the header are the calling
  // thread's call memory (sim::CallMemory); bytesReturned receives what the
  // driver stored in the header.
  int32_t ioctl(uint32_t code, void const* input, uint32_t inputSize, void* output,
                uint32_t outputSize, uint32_t* bytesReturned = nullptr);

  // The two transfer callbacks over the caller's buffer (call memory);
  // transferred receives the count the driver reported.
  int32_t transferA(void* buffer, uint64_t size, uint64_t* transferred = nullptr);
  int32_t transferB(void* buffer, uint64_t size, uint64_t* transferred = nullptr);

  // A file that is not open answers ioctl, the transfers and mmap with -51009.
  // Maps the user map (sim::createUserMap) at the given offset word; on
  // success mapObject is what unmap takes back.
  int32_t mmap(uint64_t userMap, uint64_t offset, uint64_t* mapObject);
  void unmap(uint64_t mapObject);

  void close();

 private:
  int32_t transfer(bool second, void* buffer, uint64_t size, uint64_t* transferred);

  void* context_ = nullptr;  // the interface before open, the session after
  uint64_t device_ = 0;      // the kernel parent of the device the open holds
  bool open_ = false;
};

}  // namespace sim
