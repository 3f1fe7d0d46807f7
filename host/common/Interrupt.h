// Ctrl-C while streaming ends the run early but cleanly: the driver is still stopped, disposed
// and released, and the report printed.
#pragma once

namespace kx7host {

class InterruptGuard {
 public:
  InterruptGuard();   // installs the handler
  ~InterruptGuard();  // restores the previous one
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  static bool Interrupted();
};

}  // namespace kx7host
