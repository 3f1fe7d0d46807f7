// The device's life in a run: presence in the virtual kernel, and the scheduled moments at which
// it leaves, returns, sleeps and wakes, stops delivering, or is taken by another application.
#include <algorithm>
#include <cmath>
#include <limits>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {

LifeTiming LifeTiming::ThirdOfRun(double seconds) {
  LifeTiming timing;
  timing.triggerSeconds = seconds / 3.0;
  return timing;
}

LifeTiming LifeTiming::ThirdOfRunFrames(uint64_t frames) { return AfterFrames(frames / 3); }

LifeTiming LifeTiming::AfterFrames(uint64_t frames) {
  LifeTiming timing;
  timing.inFrames = true;
  timing.triggerFrames = frames;
  return timing;
}

uint64_t LifeTiming::TriggerFrames(ULONG rate) const {
  if (inFrames) return triggerFrames;
  return static_cast<uint64_t>(std::llround(std::max(triggerSeconds, 0.0) * rate));
}

namespace detail {

void Core::Attach() {
  if (plugged) return;
  plugged = true;
  registrations.clear();
  // The virtual kernel's lock is taken last of all, so registering under ours is safe.
  for (size_t i = 0; i < description.filters.size(); ++i) {
    registrations.push_back(vk::RegisterInterface(description.filters[i].deviceInterface,
                                                  NewFilterNode(shared_from_this(), i)));
  }
}

void Core::Detach() {
  if (!plugged) return;
  plugged = false;
  ++generation;
  RemoveAll();
  for (vk::Registration registration : registrations) vk::UnregisterInterface(registration);
  registrations.clear();
}

void Core::Note(const char* what) {
  const double seconds =
      lifeRate == 0 ? 0.0 : static_cast<double>(frames - lifeStart) / static_cast<double>(lifeRate);
  lifeEvents.push_back(LifeEvent{frames, seconds, what});
}

void Core::Schedule(uint64_t from, double seconds, LifeAction action) {
  const uint64_t at = from + static_cast<uint64_t>(std::llround(seconds * lifeRate));
  LifeStep step{at, action};
  const auto place =
      std::upper_bound(lifeSteps.begin(), lifeSteps.end(), step,
                       [](const LifeStep& a, const LifeStep& b) { return a.frame < b.frame; });
  lifeSteps.insert(place, step);
}

void Core::PinRunning(PinInstance& pin) {
  pin.ran = true;
  if (asleep) {
    pin.state = KSSTATE_PAUSE;
    pin.sleeping = true;
  }
  if (lifeArmed) return;
  lifeArmed = true;
  lifeRate = pin.wfx.nSamplesPerSec;
  lifeStart = frames;
  const double trigger =
      static_cast<double>(life.timing.TriggerFrames(lifeRate)) / static_cast<double>(lifeRate);
  if (life.leaves) {
    Schedule(frames, trigger, LifeAction::Remove);
    if (life.returns) Schedule(frames, trigger + kAbsentSeconds, LifeAction::Arrive);
  }
  if (life.sleeps) {
    Schedule(frames, trigger, LifeAction::Sleep);
    if (life.reenumerates) Schedule(frames, trigger + kAsleepSeconds / 2, LifeAction::Remove);
    Schedule(frames, trigger + kAsleepSeconds, LifeAction::Wake);
    if (life.reenumerates) Schedule(frames, trigger + kAsleepSeconds, LifeAction::Arrive);
  }
  if (life.readsEmpty) Schedule(frames, trigger, LifeAction::EmptyReads);
}

void Core::PinStopped(PinInstance& pin) {
  pin.sleeping = false;
  std::fill(loopLine.begin(), loopLine.end(), 0);
  if (!life.takenAfterStop || takenOnce || !pin.ran || pin.generation != generation) return;
  takenOnce = true;
  taken = true;
  Note("taken");
  Schedule(frames, kTakenSeconds, LifeAction::Free);
}

uint64_t Core::NextLifeStep() const {
  return lifeSteps.empty() ? std::numeric_limits<uint64_t>::max() : lifeSteps.front().frame;
}

bool Core::RunLifeSteps() {
  bool completed = false;
  while (!lifeSteps.empty() && lifeSteps.front().frame <= frames) {
    const LifeAction action = lifeSteps.front().action;
    lifeSteps.erase(lifeSteps.begin());
    switch (action) {
      case LifeAction::Remove:
        for (const auto& pin : pins) {
          completed = completed || !pin->queue.empty() || !pin->finished.empty();
        }
        Detach();
        Note("removed");
        break;
      case LifeAction::Arrive:
        Attach();
        Note("arrived");
        break;
      case LifeAction::Sleep:
        asleep = true;
        for (const auto& pin : pins) {
          if (pin->generation != generation || pin->state != KSSTATE_RUN) continue;
          pin->state = KSSTATE_PAUSE;
          pin->sleeping = true;
        }
        Note("asleep");
        break;
      case LifeAction::Wake:
        asleep = false;
        for (const auto& pin : pins) {
          if (!pin->sleeping) continue;
          pin->sleeping = false;
          if (pin->generation != generation) continue;
          // The packet under way when it wakes was not heard or played.
          pin->state = KSSTATE_RUN;
          pin->runsFrom = frames;
        }
        Note("awake");
        break;
      case LifeAction::EmptyReads:
        readsEmptyForGood = true;
        completed = EmptyQueuedReads() || completed;
        Note("reads-empty");
        break;
      case LifeAction::Free:
        taken = false;
        Note("freed");
        break;
    }
  }
  return completed;
}

}  // namespace detail

void VirtualKsDevice::SetLife(const DeviceLife& life) {
  std::lock_guard<std::mutex> guard(core_->lock);
  core_->life = life;
}

DeviceLife VirtualKsDevice::GetLife() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->life;
}

std::vector<LifeEvent> VirtualKsDevice::LifeEvents() const {
  std::lock_guard<std::mutex> guard(core_->lock);
  return core_->lifeEvents;
}

}  // namespace vkx7
