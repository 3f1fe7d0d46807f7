// The driver's cost per buffer switch: the real streaming loop against the virtual KX-7's
// stepped clock, run as fast as the device can be stepped, beside a floor that does the same
// conversions and copies of one half with no loop, thread or device around them. The loop's run
// also gives the streaming thread's CPU time per switch, split into the host's callback and the
// rest, and the platform calls the thread makes per 64-frame packet.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "driver/AsioDriver.h"
#include "host/stream/ThreadCpuMeter.h"
#include "platform/emu/test_hooks.h"
#include "product/Kx7Facts.h"
#include "streaming/SampleConverter.h"
#include "support/DeviceStepping.h"
#include "support/DriverTestAccess.h"
#include "virtual_device/VirtualKsDevice.h"

namespace {

constexpr int kPacketFrames = static_cast<int>(kx7::kPacketFrames);

struct Host {
  static inline int32_t* outputs[2][2] = {};
  static inline int32_t bufferSize = 0;
  static inline kx7host::ThreadCpuMeter* meter = nullptr;
  static inline std::atomic<DWORD> threadId{0};
  static void BufferSwitch(int32_t index, ASIOBool) {
    meter->CallbackBegins();
    threadId.store(GetCurrentThreadId(), std::memory_order_relaxed);
    for (auto& output : outputs) {
      int32_t* half = output[index];
      for (int32_t f = 0; f < bufferSize; ++f) half[f] = f << 16;
    }
    meter->CallbackEnds();
  }
  static int32_t Message(int32_t, int32_t, void*, double*) { return 0; }
};

void WaitFor(vkx7::VirtualKx7& device, size_t queuedWrites) {
  while (device.QueuedWrites() != queuedWrites) std::this_thread::yield();
}

// One packet of device time, each completion in it answered by the streaming thread.
bool StepPacket(vkx7::VirtualKx7& device, CAsioDriver& driver) {
  return kx7test::StepFrames(device, kx7::kPacketFrames,
                             [&driver] { return Internals(driver).streamThreadId.load(); });
}

// The streaming thread's platform calls per packet as benchmark counters, one per call it made.
void CountCalls(benchmark::State& state, uint64_t packets) {
  using emu_test::PlatformCall;
  for (int i = 0; i < static_cast<int>(PlatformCall::Count); ++i) {
    const auto call = static_cast<PlatformCall>(i);
    const uint64_t count = emu_test::CountedPlatformCalls(call);
    if (count == 0) continue;
    state.counters[emu_test::PlatformCallName(call)] =
        static_cast<double>(count) / static_cast<double>(packets);
  }
}

void BM_StreamLoopPerSwitch(benchmark::State& state) {
  const auto bufferSize = static_cast<int32_t>(state.range(0));
  const int packetsPerHalf = bufferSize / kPacketFrames;
  kx7host::ThreadCpuMeter meter;
  Host::meter = &meter;
  vkx7::VirtualKx7 device;
  device.SetMicrophone(vkx7::MicrophoneSource::Loopback(0));
  device.Plug();
  emu_test::FreezeTime(1000);
  HRESULT hr = S_OK;
  auto* driver = new CAsioDriver(nullptr, &hr);
  driver->NonDelegatingAddRef();
  driver->init(nullptr);
  ASIOBufferInfo infos[4] = {
      {ASIOTrue, 0, {}}, {ASIOTrue, 1, {}}, {ASIOFalse, 0, {}}, {ASIOFalse, 1, {}}};
  ASIOCallbacks callbacks{Host::BufferSwitch, nullptr, Host::Message, nullptr};
  driver->createBuffers(infos, 4, bufferSize, &callbacks);
  for (int c = 0; c < 2; ++c) {
    Host::outputs[c][0] = static_cast<int32_t*>(infos[2 + c].buffers[0]);
    Host::outputs[c][1] = static_cast<int32_t*>(infos[2 + c].buffers[1]);
  }
  Host::bufferSize = bufferSize;
  auto started = std::async(std::launch::async, [driver] { return driver->start(); });
  while (device.PinState(vkx7::Direction::Capture) != KSSTATE_RUN) {
    std::this_thread::yield();
  }
  WaitFor(device, kx7::StreamPacketsFor(static_cast<uint32_t>(bufferSize)));
  for (int p = 0; p < 8 * packetsPerHalf + 64 &&
                  started.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
       ++p) {
    StepPacket(device, *driver);
  }
  if (started.get() != ASE_OK) state.SkipWithError("start failed");
  emu_test::CountPlatformCalls(Host::threadId.load(std::memory_order_relaxed));
  meter.Begin();
  for (auto _ : state) {
    for (int p = 0; p < packetsPerHalf; ++p) StepPacket(device, *driver);
  }
  meter.End();
  CountCalls(state, static_cast<uint64_t>(state.iterations()) * packetsPerHalf);
  emu_test::CountPlatformCalls(0);
  const kx7host::ThreadCpuFigures cpu = meter.Figures();
  state.counters["cpu_us/switch"] = cpu.UsPerSwitch();
  state.counters["callback_us"] = cpu.CallbackUsPerSwitch();
  state.counters["rest_us"] = cpu.RestUsPerSwitch();
  state.counters["underruns"] = static_cast<double>(device.RenderUnderruns());
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * bufferSize);
  driver->stop();
  driver->disposeBuffers();
  driver->Release();
  emu_test::UnfreezeTime();
}

// The conversions and copies of one half, as the loop does them, with nothing around them.
void BM_HalfFloor(benchmark::State& state) {
  const auto frames = static_cast<uint32_t>(state.range(0));
  const SampleConverter converter;
  std::vector<uint8_t> packed(frames * 4, 0x5A);
  std::vector<int32_t> captured(frames);
  std::vector<float> inputs[2] = {std::vector<float>(frames), std::vector<float>(frames)};
  std::vector<int32_t> host(frames, 1 << 20);
  std::vector<float> outputs[2] = {std::vector<float>(frames), std::vector<float>(frames)};
  std::vector<int32_t> block(2 * kPacketFrames);
  std::vector<uint8_t> packet(3 * block.size());
  for (auto _ : state) {
    converter.Int24PackedToInt32InPlace(packed.data(), frames);
    converter.CaptureInt32ToFloat(reinterpret_cast<int32_t*>(packed.data()), inputs[0].data(),
                                  frames);
    std::copy(inputs[0].begin(), inputs[0].end(), inputs[1].begin());
    for (auto& input : inputs) converter.Float32ToInt32InPlace(input.data(), frames);
    for (auto& output : outputs) converter.Int32ToFloat32(host.data(), output.data(), frames);
    for (uint32_t f = 0; f < frames; f += kPacketFrames) {
      converter.RenderFloatToInt32Block(outputs[0].data() + f, outputs[1].data() + f, block.data(),
                                        kPacketFrames, false);
      converter.Int32ToInt24Packed(block.data(), packet.data(), 2 * kPacketFrames);
    }
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * frames);
}

}  // namespace

BENCHMARK(BM_StreamLoopPerSwitch)->Arg(64)->Arg(128)->Arg(2048)->UseRealTime();
BENCHMARK(BM_HalfFloor)->Arg(64)->Arg(128)->Arg(2048);

int main(int argc, char** argv) {
  // The driver stores its settings on release: keep them out of the user's registry.
  std::string folder = "/tmp/kx7-bench-XXXXXX";
  if (mkdtemp(folder.data()) != nullptr) setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
