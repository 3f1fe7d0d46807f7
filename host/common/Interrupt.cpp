#include "host/common/Interrupt.h"

#include <csignal>

namespace kx7host {

namespace {

volatile std::sig_atomic_t interrupted = 0;
void (*previous)(int) = SIG_DFL;

void OnInterrupt(int) { interrupted = 1; }

}  // namespace

InterruptGuard::InterruptGuard() {
  interrupted = 0;
  previous = std::signal(SIGINT, OnInterrupt);
}

InterruptGuard::~InterruptGuard() { std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous); }

bool InterruptGuard::Interrupted() { return interrupted != 0; }

}  // namespace kx7host
