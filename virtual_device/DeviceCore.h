// The device model's state behind one lock (internal): descriptions, open pin instances with
// their queued stream requests, clock, microphone, faults, counters and the record.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include "virtual_device/SignalSource.h"
#include "virtual_device/VirtualKsDevice.h"

namespace vkx7 {
namespace detail {

// One stream request a pin holds: the caller's header, what it said when it was queued, and
// the way back to the caller.
struct StreamRequest {
  PKSSTREAM_HEADER header = nullptr;
  BYTE* data = nullptr;
  ULONG dataUsed = 0;
  ULONG frameExtent = 0;
  ULONG headerSize = 0;
  vk::PendingIo io;
  ULONG done = 0;        // bytes played (writes) or filled (reads) so far
  uint64_t dueTick = 0;  // reads held back: the packet at which they complete
};

// One created pin.
struct PinInstance {
  size_t filter = 0;
  ULONG pinId = 0;
  bool render = false;  // the device consumes (data flow in) rather than produces
  std::vector<BYTE> waveFormat;
  WAVEFORMATEX wfx = {};
  ULONG blockAlign = 1;
  ULONG state = KSSTATE_STOP;
  bool resetting = false;
  bool closed = false;
  uint64_t generation = 0;
  std::deque<StreamRequest> queue;
  std::deque<StreamRequest> late;  // filled reads waiting for their late completion
  uint64_t bytesDone = 0;          // played or captured since the last stop
  uint64_t bytesQueued = 0;        // written or read in total since the last stop
};

struct PropertyFault {
  PropertyMatch match;
  bool replace = false;
  DWORD error = ERROR_GEN_FAILURE;
  int count = kForever;
  std::vector<BYTE> reply;
};

struct Core {
  explicit Core(DeviceDescription deviceDescription);

  std::mutex lock;
  DeviceDescription description;
  std::vector<vk::Registration> registrations;
  bool plugged = false;
  uint64_t generation = 1;  // bumped by every removal; handles of an older one are dead

  std::vector<std::shared_ptr<PinInstance>> pins;           // open instances, in creation order
  std::map<std::tuple<size_t, ULONG, LONG>, LONG> volumes;  // filter, node, channel
  std::map<std::tuple<size_t, ULONG, LONG>, LONG> mutes;

  uint64_t ticks = 0;
  std::vector<StreamRequest> playedWrites;  // completed at the end of the tick
  HANDLE clockThread = nullptr;
  HANDLE clockStop = nullptr;

  MicrophoneSource source;
  SignalSource signal;
  std::vector<int32_t> loopLine;  // left channel played, by frame modulo its size

  unsigned withholdCapture = 0;
  unsigned delayCount = 0;
  unsigned delayPackets = 0;
  bool renderStalled = false;
  int rejectReads = 0;
  DWORD rejectReadError = ERROR_GEN_FAILURE;
  int rejectWrites = 0;
  DWORD rejectWriteError = ERROR_GEN_FAILURE;
  std::vector<PropertyFault> propertyFaults;
  bool refuseExtensible = false;
  bool refusePlainPcm = false;

  uint64_t underruns = 0;
  uint64_t overruns = 0;
  DeviceRecord record;

  // Everything below is called with `lock` held.
  // A fault for a property request, or null. Replaced replies answer get requests only.
  PropertyFault* FindPropertyFault(int filter, bool onPinHandle, ULONG pinId, const GUID& set,
                                   ULONG id, ULONG flags);
  // Open instances of one pin.
  ULONG InstanceCount(size_t filter, ULONG pinId) const;
  // Completes every queued request of a pin with `error`.
  void CancelRequests(PinInstance& pin, DWORD error);
  // Fails everything queued on every pin: the device is gone.
  void RemoveAll();
  // Moves the device by one packet.
  void Tick();
  // The rate the clock runs at (0 when no pin runs).
  ULONG ClockRate() const;

 private:
  void RenderTick(PinInstance& pin);
  void CaptureTick(PinInstance& pin);
  void CompleteLate(PinInstance& pin);
};

// A wave format's validity against one pin's ranges: ERROR_SUCCESS or an error number.
DWORD CheckFormat(const PinDescription& pin, const BYTE* dataFormat, ULONG formatSize);

// Encodes a sample (left-aligned in 32 bits) into `bits` little-endian bytes, and back.
void PutSample(BYTE* out, ULONG bits, int32_t sample);
int32_t GetSample(const BYTE* in, ULONG bits);

// The file objects the virtual kernel hands out for an open filter and a created pin.
std::shared_ptr<vk::FileObject> NewFilterFile(std::shared_ptr<Core> core, size_t filter);
std::shared_ptr<vk::FileObject> NewPinFile(std::shared_ptr<Core> core,
                                           std::shared_ptr<PinInstance> pin);

}  // namespace detail
}  // namespace vkx7
