// Counting the platform calls of one thread, for the test hook of test_hooks.h: each counted
// call opens a scope, and only the outermost scope of the counted thread counts, so calls that
// the emulation makes inside another call are not counted again.
#pragma once

#include "platform/emu/test_hooks.h"

namespace emu {

class CountedCall {
 public:
  explicit CountedCall(emu_test::PlatformCall call);
  ~CountedCall();
  CountedCall(const CountedCall&) = delete;
  CountedCall& operator=(const CountedCall&) = delete;
};

}  // namespace emu
