#include "driver/DeviceWatch.h"

namespace {

constexpr DWORD kWatchPollMs = 250;

}  // namespace

CDeviceWatch::CDeviceWatch(const std::atomic<double>* rate_) : rate(rate_) {
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  foundEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

CDeviceWatch::~CDeviceWatch() {
  Stop();
  Discard();
  for (HANDLE event : {stopEvent, foundEvent}) {
    if (event != nullptr) CloseHandle(event);
  }
}

void CDeviceWatch::Start() {
  if (thread != nullptr || stopEvent == nullptr || foundEvent == nullptr) return;
  ResetEvent(stopEvent);
  hasDevice.store(false, std::memory_order_relaxed);
  unsigned id = 0;
  const uintptr_t handle = _beginthreadex(nullptr, 0, ThreadProc, this, 0, &id);
  if (handle == 0) return;
  thread = reinterpret_cast<HANDLE>(handle);
  threadId.store(id, std::memory_order_release);
}

void CDeviceWatch::Stop() {
  if (thread == nullptr) return;
  SetEvent(stopEvent);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  thread = nullptr;
  threadId.store(0, std::memory_order_release);
}

bool CDeviceWatch::Take(CKx7Device& into, double* madeAt) {
  if (!hasDevice.load(std::memory_order_acquire)) return false;
  Stop();
  hasDevice.store(false, std::memory_order_relaxed);
  into.TakeFrom(found);
  *madeAt = foundRate;
  return true;
}

void CDeviceWatch::Discard() {
  found.ReleaseEnumerators();
  hasDevice.store(false, std::memory_order_relaxed);
}

unsigned WINAPI CDeviceWatch::ThreadProc(void* argument) {
  static_cast<CDeviceWatch*>(argument)->Look();
  return 0;
}

void CDeviceWatch::Look() {
  while (WaitForSingleObject(stopEvent, kWatchPollMs) == WAIT_TIMEOUT) {
    CKx7Device candidate;
    if (!candidate.FindFilters()) continue;
    const double at = rate->load(std::memory_order_acquire);
    if (!candidate.CreatePins(at)) continue;
    found.TakeFrom(candidate);
    foundRate = at;
    hasDevice.store(true, std::memory_order_release);
    SetEvent(foundEvent);
    return;
  }
}
