// CDeviceWatch: the watch for a device that left, beside the run. A thread of its own looks for
// the KX-7 in the enumeration every 250 ms, opens its filters and pins at the run's current rate
// when it is back, and signals; the streaming thread stops the watch and takes the device over.
//
// Threads: Start, Stop, Take and FoundEvent on the streaming thread; ThreadId on any.
#pragma once

#include <atomic>

#include "driver/Kx7Device.h"
#include "platform/windows.h"

class CDeviceWatch {
 public:
  // `rate` is where the run keeps the rate its pins are to be made at; it outlives the watch.
  explicit CDeviceWatch(const std::atomic<double>* rate);
  ~CDeviceWatch();
  CDeviceWatch(const CDeviceWatch&) = delete;
  CDeviceWatch& operator=(const CDeviceWatch&) = delete;

  // Begins looking; without a thread the run's silence goes on until the host stops.
  void Start();
  // Ends the thread (its steps are bounded as the streaming thread's own requests are).
  void Stop();
  // Set when the device was found (auto-reset); null when the watch could not be made.
  HANDLE FoundEvent() const { return foundEvent; }
  // When the device was found: ends the watch and hands over the device and the rate its pins
  // were made at. False (the watch goes on) when none was found.
  bool Take(CKx7Device& into, double* madeAt);
  // After Stop: a device found and not taken is let go.
  void Discard();
  // The watch's thread while it looks, 0 otherwise.
  DWORD ThreadId() const { return threadId.load(std::memory_order_acquire); }

 private:
  static unsigned WINAPI ThreadProc(void* argument);
  void Look();

  const std::atomic<double>* const rate;
  HANDLE thread = nullptr;
  std::atomic<DWORD> threadId{0};
  HANDLE stopEvent = nullptr;   // manual-reset
  HANDLE foundEvent = nullptr;  // auto-reset: `found` holds the device
  std::atomic<bool> hasDevice{false};
  CKx7Device found;
  double foundRate = 0.0;  // the rate the found device's pins were made at
};
