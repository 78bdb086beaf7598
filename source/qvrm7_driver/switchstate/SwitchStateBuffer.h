// A session's switch-state buffer: kernel pages that user space maps to
// write the relay state it wants, and that the driver later commits.
#pragma once

#include "platform/pageList.h"
#include "platform/status.h"
#include "platform/userBuffer.h"

namespace sass {

using qvrm7_driver::u32;
using qvrm7_driver::nQVWEND000::tPageList;
using qvrm7_driver::nQVWEND000::tStatus;
using qvrm7_driver::nQVWEND000::tUserMemoryMap;

class SwitchStateBuffer {
 public:
  // The selector of a memory map that asks for this buffer.
  static constexpr u32 kMapSelector = 1;

  SwitchStateBuffer() = default;
  SwitchStateBuffer(SwitchStateBuffer const&) = delete;
  SwitchStateBuffer& operator=(SwitchStateBuffer const&) = delete;

  bool allocated() const { return pages_.handle != 0; }

  // Takes pages the caller allocated: byteSize bytes of pages.size mapped
  // bytes. The pages stay the caller's to free.
  void adoptPages(tPageList const& pages, u32 byteSize);

  // Maps the whole buffer into the caller's memory. Refused, in this order,
  // when the buffer is not allocated, when the map asks for something else,
  // and when the map is larger than the buffer.
  void mapInto(tUserMemoryMap& map, tStatus& status);

 private:
  tPageList pages_{};
  u32 byteSize_ = 0;
};

}  // namespace sass
