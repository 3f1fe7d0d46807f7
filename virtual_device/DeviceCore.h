// The device model's state behind one lock (internal): descriptions, open pin instances with
// their queued stream requests, clock, microphone, faults, counters and the record.
#pragma once

#include <cstring>
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
  ULONG done = 0;            // bytes played (writes) or filled (reads) so far
  uint64_t firstFrame = 0;   // the pin's stream position at the request's first frame
  uint64_t handBack = 0;     // done requests: the device-clock frame at which they complete
  uint64_t minHandBack = 0;  // reads held back by a fault: not before this frame
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
  bool ran = false;       // has been in KSSTATE_RUN
  bool sleeping = false;  // held in KSSTATE_PAUSE by the device's sleep, to run at the resume
  uint64_t runsFrom = 0;  // resumed pins: the first frame of the first packet they move
  uint64_t generation = 0;
  std::deque<StreamRequest> queue;     // waiting to be played or filled
  std::deque<StreamRequest> finished;  // played or filled, waiting to be handed back
  uint64_t lastHandBack = 0;
  uint64_t bytesDone = 0;  // played or captured since the last stop
  // Capture: frames the pin has run through since the last stop, delivered or not. A read's
  // time stamp is taken from it, so a packet lost before it shows as a gap in the stamps.
  uint64_t framesRun = 0;
  uint64_t bytesQueued = 0;  // written or read in total since the last stop
};

// A property reply that is handed back later, from the device's own thread.
struct DeferredReply {
  vk::PendingIo io;
  vk::IoStatus status;
};

struct PropertyFault {
  PropertyMatch match;
  bool replace = false;
  DWORD error = ERROR_GEN_FAILURE;
  int count = kForever;
  std::vector<BYTE> reply;
};

// A moment of the device's life that is scheduled.
enum class LifeAction { Remove, Arrive, Sleep, Wake, EmptyReads, Free };
struct LifeStep {
  uint64_t frame = 0;
  LifeAction action = LifeAction::Remove;
};

struct Core : std::enable_shared_from_this<Core> {
  explicit Core(DeviceDescription deviceDescription);

  std::mutex lock;
  DeviceDescription description;
  std::vector<vk::Registration> registrations;
  bool plugged = false;
  uint64_t generation = 1;  // bumped by every removal; handles of an older one are dead

  std::vector<std::shared_ptr<PinInstance>> pins;           // open instances, in creation order
  std::map<std::tuple<size_t, ULONG, LONG>, LONG> volumes;  // filter, node, channel
  std::map<std::tuple<size_t, ULONG, LONG>, LONG> mutes;

  uint64_t frames = 0;  // the device clock in sample frames
  uint64_t ticks = 0;   // packet periods transferred (one per 64 frames)
  TimingProfile timing;
  uint32_t jitterSeed[2] = {0x2545F491u, 0x9E3779B9u};  // capture, render
  HANDLE clockThread = nullptr;
  HANDLE clockStop = nullptr;

  bool pendProperties = false;
  std::deque<DeferredReply> deferred;
  HANDLE replyThread = nullptr;
  HANDLE replyWake = nullptr;
  bool replyStop = false;

  MicrophoneSource source;
  SignalSource signal;
  std::vector<int32_t> loopLine;  // left channel played, by frame modulo its size

  unsigned withholdCapture = 0;
  unsigned delayCount = 0;
  unsigned delayPackets = 0;
  unsigned emptyReads = 0;
  bool strictHeaders = false;
  bool refuseBandwidth[2] = {false, false};  // by Direction
  bool heldPin[2] = {false, false};
  bool renderStalled = false;
  int rejectReads = 0;
  DWORD rejectReadError = ERROR_GEN_FAILURE;
  int rejectWrites = 0;
  DWORD rejectWriteError = ERROR_GEN_FAILURE;
  std::vector<PropertyFault> propertyFaults;
  bool refuseExtensible = false;
  bool refusePlainPcm = false;
  ULONG refusedRate = 0;

  DeviceLife life;
  bool lifeArmed = false;           // a pin ran: the life's moments are scheduled
  ULONG lifeRate = 0;               // the rate its seconds are counted at
  uint64_t lifeStart = 0;           // the frame at which a pin first ran
  std::vector<LifeStep> lifeSteps;  // still to come, in order
  std::vector<LifeEvent> lifeEvents;
  bool asleep = false;
  bool readsEmptyForGood = false;
  bool taken = false;      // another application holds the streaming pins
  bool takenOnce = false;  // and has had its turn

  uint64_t underruns = 0;
  uint64_t overruns = 0;
  uint64_t framesLost = 0;
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
  // Presence: registers the filters' interfaces with the virtual kernel (a new device
  // instance), or removes them, failing what is queued and killing every handle.
  void Attach();
  void Detach();
  // A pin entered KSSTATE_RUN: starts the life's clock at the first. Holds the pin paused while
  // the device sleeps.
  void PinRunning(PinInstance& pin);
  // A pin left the running states for KSSTATE_STOP or was closed: the loopback line forgets
  // what was played, and another application may take the pins.
  void PinStopped(PinInstance& pin);
  // Moves the device clock to `target`, playing and filling a packet at every multiple of 64
  // frames and handing requests back when they are due. With `stopAtHandBack` it stops at the
  // first moment something was handed back. True when something was.
  bool AdvanceTo(uint64_t target, bool stopAtHandBack);
  // The next frame at which something happens: a packet ends, requests are handed back, or a
  // moment of the device's life comes.
  uint64_t NextMoment() const;
  // The rate the clock runs at (0 when no pin runs).
  ULONG ClockRate() const;
  // Answers a property request now, or later when property requests pend.
  vk::IoStatus Reply(vk::PendingIo& pending, vk::IoStatus status);
  // Whether a pin is a streaming pin of the direction.
  static Direction DirectionOf(const PinInstance& pin);

 private:
  void Transfer();
  void RenderTick(PinInstance& pin);
  void RecordRendered(const BYTE* data, ULONG bytes);
  void CaptureTick(PinInstance& pin);
  uint64_t NextLifeStep() const;
  // Moves the front request of a pin's queue to its finished requests with its hand-back time.
  void Finish(PinInstance& pin);
  uint64_t NextHandBack() const;
  // Schedules a moment of the life `seconds` of device time after the frame `from`, after any
  // scheduled for the same frame.
  void Schedule(uint64_t from, double seconds, LifeAction action);
  void Note(const char* what);
  // Runs the life's moments due by now; true when requests were completed.
  bool RunLifeSteps();
  // Completes every read still queued, at once and empty.
  bool EmptyQueuedReads();
  // Completes every finished request due by now, capture pins first; true when any was.
  bool HandBackDue();
};

inline bool SameGuid(const GUID& a, const GUID& b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

// A wave format's validity against one pin's ranges: ERROR_SUCCESS or an error number.
DWORD CheckFormat(const PinDescription& pin, const BYTE* dataFormat, ULONG formatSize);

// Starts and ends the thread that hands deferred property replies back.
void StartReplyThread(const std::shared_ptr<Core>& core);
void StopReplyThread(Core& core);

// Writes one field of a caller's stream header, which need not be aligned.
template <typename T>
void WriteHeaderField(PKSSTREAM_HEADER header, size_t offset, const T& value) {
  std::memcpy(reinterpret_cast<BYTE*>(header) + offset, &value, sizeof value);
}

// Encodes a sample (left-aligned in 32 bits) into `bits` little-endian bytes, and back.
void PutSample(BYTE* out, ULONG bits, int32_t sample);
int32_t GetSample(const BYTE* in, ULONG bits);

// What CreateFileA opens for one filter's interface.
std::shared_ptr<vk::DeviceNode> NewFilterNode(std::shared_ptr<Core> core, size_t filter);
// The file objects the virtual kernel hands out for an open filter and a created pin.
std::shared_ptr<vk::FileObject> NewFilterFile(std::shared_ptr<Core> core, size_t filter);
std::shared_ptr<vk::FileObject> NewPinFile(std::shared_ptr<Core> core,
                                           std::shared_ptr<PinInstance> pin);

}  // namespace detail
}  // namespace vkx7
