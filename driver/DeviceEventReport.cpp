#include "driver/DeviceEventReport.h"

#include <cstdio>
#include <cstring>

double CDeviceEventReport::SecondsAt(DWORD time) const {
  // A signed difference: the 32-bit millisecond clock wraps, and a start's own events may come
  // just before it returned.
  const auto milliseconds = static_cast<int32_t>(time - startTime.load(std::memory_order_acquire));
  return milliseconds / 1000.0;
}

ASIOError CDeviceEventReport::Read(kx7::DeviceEventRead* read) const {
  if (read == nullptr || read->size != sizeof *read) return ASE_InvalidParameter;
  const uint32_t first = read->first;
  DeviceEventRecord records[kx7::kDeviceEventsPerRead];
  uint32_t next = first;
  const uint32_t count = log->Read(first, records, kx7::kDeviceEventsPerRead, &next);
  std::memset(read->events, 0, sizeof read->events);
  for (uint32_t i = 0; i < count; ++i) {
    read->events[i].seconds = SecondsAt(records[i].time);
    std::snprintf(read->events[i].name, sizeof read->events[i].name, "%s",
                  DeviceEventName(records[i].event));
  }
  read->count = count;
  read->next = next;
  read->recorded = log->Count();
  // A `first` beyond the events recorded reads nothing and skips nothing.
  read->skipped = static_cast<int32_t>(next - first) > 0 ? next - first - count : 0;
  return ASE_SUCCESS;
}

bool CDeviceEventReport::LatestEvent(const char** name, double* seconds) const {
  DeviceEventRecord latest{};
  if (!log->Latest(&latest)) return false;
  *name = DeviceEventName(latest.event);
  *seconds = SecondsAt(latest.time);
  return true;
}
