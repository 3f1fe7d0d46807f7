// The life of one run: its thread's start, set-up at time-critical priority inside the "Pro Audio"
// scheduling task, its end, and how the driver lets go of a thread that does not end in time.
#include "driver/RunningStream.h"

#include <cassert>
#include <new>

#include "ks/KsLayer.h"
#include "platform/module_of.h"

namespace {

// The run the calling thread streams for, if it is a streaming thread.
thread_local CRunningStream* currentStream = nullptr;
// How often a driver that could not let a thread go yet looks again: the thread is then in the
// driver's own bounded code.
constexpr DWORD kDetachPollMs = 2;

}  // namespace

CRunningStream::CRunningStream(IStreamOwner* owner_, std::shared_ptr<CHostBuffers> host_,
                               double rate_, CKx7Device& from)
    : owner(owner_), host(std::move(host_)) {
  device.TakeFrom(from);
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  startedEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  rate.store(rate_, std::memory_order_relaxed);
  controlEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  rateAnswered = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

CRunningStream::~CRunningStream() {
  // The last reference may be the thread's own: its handle can be closed from the thread itself.
  if (thread != nullptr) CloseHandle(thread);
  for (HANDLE event : {stopEvent, startedEvent, controlEvent, rateAnswered}) {
    if (event != nullptr) CloseHandle(event);
  }
  // Held still only when the thread never ran.
  if (avrtModule != nullptr) FreeLibrary(avrtModule);
}

bool CRunningStream::StartThread(const std::shared_ptr<CRunningStream>& self) {
  auto* reference = new (std::nothrow) std::shared_ptr<CRunningStream>(self);
  if (reference == nullptr || self->stopEvent == nullptr || self->startedEvent == nullptr) {
    delete reference;
    return false;
  }
  unsigned id = 0;
  // The thread's own reference to the module its code is in: the thread lets go of it as it exits.
  self->module = HoldModuleForThread(reinterpret_cast<const void*>(&CRunningStream::ThreadProc));
  self->avrtModule = LoadLibraryA("Avrt.dll");
  const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadProc, reference, 0, &id);
  if (handle == 0) {
    if (self->module != nullptr) FreeLibrary(self->module);
    self->module = nullptr;
    delete reference;
    self->deviceReleased.store(true, std::memory_order_release);
    return false;
  }
  self->thread = reinterpret_cast<HANDLE>(handle);
  self->threadId.store(id, std::memory_order_relaxed);
  return true;
}

unsigned WINAPI CRunningStream::ThreadProc(void* argument) {
  // The thread's own reference keeps the run, and with it the module, alive until it returns.
  std::shared_ptr<CRunningStream> self =
      std::move(*static_cast<std::shared_ptr<CRunningStream>*>(argument));
  delete static_cast<std::shared_ptr<CRunningStream>*>(argument);
  self->Run();
  const HMODULE module = self->module;
  self.reset();
  // The module may be unloaded the moment its last object has gone: the thread leaves its code
  // and the module together.
  ExitThreadReleasingModule(module, 0);
  return 0;
}

void CRunningStream::Run() {
  threadId.store(GetCurrentThreadId(), std::memory_order_relaxed);
  currentStream = this;
  const HRESULT comResult = CoInitialize(nullptr);
  SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
  PFN_AvSetMmThreadCharacteristicsA enterTask = nullptr;
  PFN_AvRevertMmThreadCharacteristics leaveTask = nullptr;
  if (avrtModule != nullptr) {
    enterTask = reinterpret_cast<PFN_AvSetMmThreadCharacteristicsA>(
        reinterpret_cast<void*>(GetProcAddress(avrtModule, "AvSetMmThreadCharacteristicsA")));
    leaveTask = reinterpret_cast<PFN_AvRevertMmThreadCharacteristics>(
        reinterpret_cast<void*>(GetProcAddress(avrtModule, "AvRevertMmThreadCharacteristics")));
  }
  HANDLE task = nullptr;
  if (enterTask != nullptr && leaveTask != nullptr) {
    DWORD taskIndex = 0;
    task = enterTask("Pro Audio", &taskIndex);
  }
  RunLoop();
  Detach();
  ReleaseDevice();
  // The host's blocks go with the last of their users, even while the driver keeps this run.
  host.reset();
  if (task != nullptr) leaveTask(task);
  if (avrtModule != nullptr) FreeLibrary(avrtModule);
  avrtModule = nullptr;
  // Only a successful CoInitialize is balanced.
  if (SUCCEEDED(comResult)) CoUninitialize();
  currentStream = nullptr;
  threadEnded.store(true, std::memory_order_release);
}

void CRunningStream::ReleaseDevice() {
  device.ReleaseEnumerators();
  deviceReleased.store(true, std::memory_order_release);
}

void CRunningStream::Detach() {
  uint32_t expected = kWorking;
  phase.compare_exchange_strong(expected, kDetached, std::memory_order_acq_rel);
}

void CRunningStream::RequestStop() {
  stopRequested.store(true, std::memory_order_relaxed);
  if (stopEvent != nullptr) SetEvent(stopEvent);
}

bool CRunningStream::EndWithin(DWORD milliseconds) {
  assert(!OnThread());
  RequestStop();
  if (thread == nullptr) return true;
  if (WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0) return true;
  // Not ended in time. A thread inside the host's callback, or past the last use of the driver,
  // is let go; one in the driver's own code gets there within its bounded steps.
  while (true) {
    uint32_t seen = phase.load(std::memory_order_acquire);
    if (seen == kInHost &&
        phase.compare_exchange_strong(seen, kAbandoned, std::memory_order_acq_rel)) {
      return false;
    }
    if (seen == kDetached || seen == kAbandoned) return false;
    if (WaitForSingleObject(thread, kDetachPollMs) == WAIT_OBJECT_0) return true;
  }
}

void CRunningStream::AbandonFromCallback() {
  assert(OnThread());
  RequestStop();
  phase.store(kAbandoned, std::memory_order_release);
}

bool CRunningStream::OnThread() const { return currentStream == this; }

bool CRunningStream::Ended() const { return threadEnded.load(std::memory_order_acquire); }

CRunningStream* CRunningStream::Current() { return currentStream; }

bool CRunningStream::StopRequested() const { return stopRequested.load(std::memory_order_relaxed); }

void CRunningStream::EnterHost() {
  assert(OnThread());
  phase.store(kInHost, std::memory_order_release);
}

bool CRunningStream::LeaveHost() {
  uint32_t expected = kInHost;
  if (phase.compare_exchange_strong(expected, kWorking, std::memory_order_acq_rel)) return true;
  // Let go inside the callback: an owner's release that waited for this ends now.
  if (afterHost.exchange(kOutOfHost, std::memory_order_acq_rel) == kReleaseDeferred) {
    owner->ReleaseAfterHost();
  }
  return false;
}

bool CRunningStream::DeferOwnerRelease() {
  if (phase.load(std::memory_order_acquire) != kAbandoned) return false;
  uint32_t expected = kNoRelease;
  return afterHost.compare_exchange_strong(expected, kReleaseDeferred, std::memory_order_acq_rel);
}

bool CRunningStream::AwaitStarted(DWORD milliseconds) const {
  if (startedEvent != nullptr) WaitForSingleObject(startedEvent, milliseconds);
  return Cycles() >= kStartedCycles;
}
