// Property requests that pend: their answers are ready when the request arrives, and the
// device's own thread hands them back a moment later, after the caller has seen
// ERROR_IO_PENDING.
#include <memory>

#include "virtual_device/DeviceCore.h"

namespace vkx7 {
namespace detail {
namespace {

// How long an answer waits before it is handed back.
constexpr DWORD kReplyDelayMs = 1;

struct ReplyThreadArgs {
  std::shared_ptr<Core> core;
  HANDLE wake;
};

DWORD WINAPI ReplyMain(LPVOID parameter) {
  const std::unique_ptr<ReplyThreadArgs> args(static_cast<ReplyThreadArgs*>(parameter));
  Core& core = *args->core;
  while (true) {
    WaitForSingleObject(args->wake, INFINITE);
    Sleep(kReplyDelayMs);
    std::deque<DeferredReply> due;
    bool stop = false;
    {
      std::lock_guard<std::mutex> guard(core.lock);
      due.swap(core.deferred);
      stop = core.replyStop;
    }
    for (DeferredReply& reply : due) reply.io.Complete(reply.status.error, reply.status.bytes);
    if (stop) return 0;
  }
}

}  // namespace

void StartReplyThread(const std::shared_ptr<Core>& core) {
  std::lock_guard<std::mutex> guard(core->lock);
  if (core->replyThread != nullptr) return;
  core->replyWake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (core->replyWake == nullptr) return;
  core->replyStop = false;
  auto* args = new ReplyThreadArgs{core, core->replyWake};
  core->replyThread = CreateThread(nullptr, 0, ReplyMain, args, 0, nullptr);
  if (core->replyThread == nullptr) {
    delete args;
    CloseHandle(core->replyWake);
    core->replyWake = nullptr;
  }
}

void StopReplyThread(Core& core) {
  HANDLE thread = nullptr;
  HANDLE wake = nullptr;
  {
    std::lock_guard<std::mutex> guard(core.lock);
    std::swap(thread, core.replyThread);
    std::swap(wake, core.replyWake);
    core.replyStop = true;
    core.pendProperties = false;
  }
  if (thread == nullptr) return;
  // The thread hands back whatever is still waiting before it ends.
  SetEvent(wake);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  CloseHandle(wake);
}

}  // namespace detail
}  // namespace vkx7
