// The sample conversions at 64, 128, 1024 and 2048 samples, each in samples per second and as a
// ratio to memcpy of the same bytes (4 per sample) timed beside it in the same iterations
// (`vs_memcpy`). The render block (two float halves to the packed bytes of a render packet) is
// also compared with the float-to-integer conversion of as many samples (`vs_float_to_int`).
// The conversions run the widest kernel set the CPU supports, as SampleConverter does, or the
// set named by `--kernels=NAME` (portable, sse2, avx2, avx512), so that a narrower set can be
// timed on a CPU that has a wider one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "streaming/ConversionKernels.h"
#include "streaming/ConversionScalar.h"

namespace {

const ConversionKernels* gKernels = nullptr;

// SampleConverter's conversions, through the chosen kernel set.
class Converter {
 public:
  void Int24PackedToInt32InPlace(uint8_t* buffer, uint32_t count) const {
    gKernels->expandPacked24(buffer, count);
  }
  void Int32ToInt24PackedInPlace(int32_t* buffer, uint32_t count) const {
    auto* bytes = reinterpret_cast<uint8_t*>(buffer);
    gKernels->packTo24(bytes, bytes, count);
  }
  void Int32ToInt24Packed(const int32_t* source, uint8_t* destination, uint32_t count) const {
    gKernels->packTo24(reinterpret_cast<const uint8_t*>(source), destination, count);
  }
  void Float32ToInt32InPlace(float* buffer, uint32_t count) const {
    gKernels->floatToHost(reinterpret_cast<uint8_t*>(buffer), count);
  }
  void Int32ToFloat32(const int32_t* source, float* destination, uint32_t count) const {
    gKernels->intToFloat(source, destination, count, conversion::kTwoPowMinus31);
  }
  void CaptureInt32ToFloat(const int32_t* source, float* destination, uint32_t count) const {
    gKernels->intToFloat(source, destination, count, -conversion::kTwoPowMinus31);
  }
  void RenderFloatToInt32Block(const float* left, const float* right, int32_t* block,
                               uint32_t frames, bool fadeIn) const {
    gKernels->renderFrames(left, right, block, frames, fadeIn);
  }
};

using Clock = std::chrono::steady_clock;

// Each iteration converts a batch of buffers of this many bytes in all: long enough to time,
// and small enough that the batch, its pristine copy and memcpy's target stay in the
// first-level cache, where memcpy runs at its fastest.
constexpr size_t kBatchBytes = 8 * 1024;

// Audio-like samples: the host's integers spread over the whole range, and their floats.
std::vector<int32_t> HostSamples(size_t count) {
  std::vector<int32_t> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<int32_t>(i * 2654435761u);
  return samples;
}

std::vector<float> FloatSamples(size_t count) {
  const std::vector<int32_t> host = HostSamples(count);
  std::vector<float> samples(count);
  Converter().Int32ToFloat32(host.data(), samples.data(), static_cast<uint32_t>(count));
  return samples;
}

template <typename T>
std::vector<uint8_t> Bytes(const std::vector<T>& values) {
  std::vector<uint8_t> bytes(values.size() * sizeof(T));
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

std::vector<uint8_t> PackedSamples(size_t count) {
  std::vector<int32_t> samples = HostSamples(count);
  Converter().Int32ToInt24PackedInPlace(samples.data(), static_cast<uint32_t>(count));
  return Bytes(samples);
}

// The shortest time between two readings of the clock, taken off every timed span.
double ClockCost() {
  static const double cost = [] {
    double shortest = 1;
    for (int k = 0; k < 10000; ++k) {
      const Clock::time_point from = Clock::now();
      shortest = std::min(shortest, std::chrono::duration<double>(Clock::now() - from).count());
    }
    return shortest;
  }();
  return cost;
}

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::max(0.0, std::chrono::duration<double>(to - from).count() - ClockCost());
}

// One conversion's batch: `copies` buffers of `samples` samples (the work), a pristine copy of
// their bytes that in-place conversions are restored from before each iteration (untimed), the
// target of the memcpy timed beside the conversion, and spare regions for conversions' outputs.
class Batch {
 public:
  enum Region { kWork, kPristine, kCopy, kSpare };

  Batch(benchmark::State& state, const std::vector<uint8_t>& content)
      : samples(static_cast<uint32_t>(state.range(0))),
        bytes(4u * samples),
        copies(std::max<size_t>(1, kBatchBytes / bytes)),
        // Regions lie a few odd cache lines apart modulo 4 KiB, so that no load waits on an
        // unrelated store to the same offset in another page.
        regionBytes(copies * bytes + 3 * 64),
        storage(8 * regionBytes + 64) {
    for (size_t k = 0; k < copies; ++k) std::memcpy(At(kPristine, k), content.data(), bytes);
    std::memcpy(At(kWork, 0), At(kPristine, 0), copies * bytes);
  }

  // Buffer k of a region; spare regions are kSpare, kSpare + 1, ...
  uint8_t* At(int region, size_t k = 0) {
    return storage.data() + static_cast<size_t>(region) * regionBytes + k * bytes;
  }

  // Times `convert(k)` for every buffer k of the batch, then memcpy of the same bytes from the
  // pristine copy, each iteration; `restore` puts the pristine bytes back first (untimed).
  template <typename Convert>
  void Run(benchmark::State& state, bool restore, Convert convert) {
    Run(state, restore, convert, nullptr, [](uint8_t*) {});
  }

  // The same, and then `reference` on each memcpy'd copy of the pristine bytes, reported as
  // the counter `vs_<name>`: the reference's time over the conversion's.
  template <typename Convert, typename Reference>
  void Run(benchmark::State& state, bool restore, Convert convert, const char* name,
           Reference reference) {
    double convertSeconds = 0;
    double memcpySeconds = 0;
    double referenceSeconds = 0;
    for (auto _ : state) {
      if (restore) std::memcpy(At(kWork), At(kPristine), copies * bytes);
      const Clock::time_point start = Clock::now();
      for (size_t k = 0; k < copies; ++k) convert(k);
      benchmark::ClobberMemory();
      const Clock::time_point converted = Clock::now();
      for (size_t k = 0; k < copies; ++k) std::memcpy(At(kCopy, k), At(kPristine, k), bytes);
      benchmark::ClobberMemory();
      const Clock::time_point copied = Clock::now();
      if (name != nullptr) {
        for (size_t k = 0; k < copies; ++k) reference(At(kCopy, k));
        benchmark::ClobberMemory();
        referenceSeconds += Seconds(copied, Clock::now());
      }
      state.SetIterationTime(Seconds(start, converted));
      convertSeconds += Seconds(start, converted);
      memcpySeconds += Seconds(converted, copied);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * copies * samples));
    if (convertSeconds <= 0) return;
    state.counters["vs_memcpy"] = memcpySeconds / convertSeconds;
    if (name != nullptr) {
      state.counters[std::string("vs_") + name] = referenceSeconds / convertSeconds;
    }
  }

  const uint32_t samples;
  const size_t bytes;
  const size_t copies;

 private:
  const size_t regionBytes;
  std::vector<uint8_t> storage;
};

void BM_Memcpy(benchmark::State& state) {
  Batch batch(state, Bytes(HostSamples(state.range(0))));
  batch.Run(state, false, [&](size_t k) {
    std::memcpy(batch.At(Batch::kSpare, k), batch.At(Batch::kWork, k), batch.bytes);
  });
}

void BM_Int24PackedToInt32InPlace(benchmark::State& state) {
  Batch batch(state, PackedSamples(state.range(0)));
  const Converter converter;
  batch.Run(state, true, [&](size_t k) {
    converter.Int24PackedToInt32InPlace(batch.At(Batch::kWork, k), batch.samples);
  });
}

void BM_Int32ToInt24PackedInPlace(benchmark::State& state) {
  Batch batch(state, Bytes(HostSamples(state.range(0))));
  const Converter converter;
  batch.Run(state, true, [&](size_t k) {
    converter.Int32ToInt24PackedInPlace(reinterpret_cast<int32_t*>(batch.At(Batch::kWork, k)),
                                        batch.samples);
  });
}

void BM_Float32ToInt32InPlace(benchmark::State& state) {
  Batch batch(state, Bytes(FloatSamples(state.range(0))));
  const Converter converter;
  batch.Run(state, true, [&](size_t k) {
    converter.Float32ToInt32InPlace(reinterpret_cast<float*>(batch.At(Batch::kWork, k)),
                                    batch.samples);
  });
}

void BM_Int32ToFloat32(benchmark::State& state) {
  Batch batch(state, Bytes(HostSamples(state.range(0))));
  const Converter converter;
  batch.Run(state, false, [&](size_t k) {
    converter.Int32ToFloat32(reinterpret_cast<const int32_t*>(batch.At(Batch::kWork, k)),
                             reinterpret_cast<float*>(batch.At(Batch::kSpare, k)), batch.samples);
  });
}

void BM_CaptureInt32ToFloat(benchmark::State& state) {
  Batch batch(state, Bytes(HostSamples(state.range(0))));
  const Converter converter;
  batch.Run(state, false, [&](size_t k) {
    converter.CaptureInt32ToFloat(reinterpret_cast<const int32_t*>(batch.At(Batch::kWork, k)),
                                  reinterpret_cast<float*>(batch.At(Batch::kSpare, k)),
                                  batch.samples);
  });
}

// The sixth conversion: `samples` / 2 frames of two float channels to an interleaved block.
void BM_RenderFloatToInt32Block(benchmark::State& state) {
  Batch batch(state, Bytes(FloatSamples(state.range(0))));
  const Converter converter;
  const uint32_t frames = batch.samples / 2;
  batch.Run(state, false, [&](size_t k) {
    const auto* halves = reinterpret_cast<const float*>(batch.At(Batch::kWork, k));
    converter.RenderFloatToInt32Block(halves, halves + frames,
                                      reinterpret_cast<int32_t*>(batch.At(Batch::kSpare, k)),
                                      frames, false);
  });
}

// The render block as the streaming loop and the render stream build it: the two output halves'
// floats to an interleaved block, packed to 24 bits into the packet. Beside it, the
// float-to-integer conversion of as many samples (`vs_float_to_int` of 0.5 or more: within 2x).
void BM_RenderBlock(benchmark::State& state) {
  Batch batch(state, Bytes(FloatSamples(state.range(0))));
  const Converter converter;
  const uint32_t frames = batch.samples / 2;
  auto* block = reinterpret_cast<int32_t*>(batch.At(Batch::kSpare));
  batch.Run(
      state, false,
      [&](size_t k) {
        const auto* halves = reinterpret_cast<const float*>(batch.At(Batch::kWork, k));
        converter.RenderFloatToInt32Block(halves, halves + frames, block, frames, false);
        converter.Int32ToInt24Packed(block, batch.At(Batch::kSpare + 1, k), batch.samples);
      },
      "float_to_int",
      [&](uint8_t* floats) {
        converter.Float32ToInt32InPlace(reinterpret_cast<float*>(floats), batch.samples);
      });
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
  for (const int samples : {64, 128, 1024, 2048}) benchmark->Arg(samples);
  benchmark->UseManualTime();
}

BENCHMARK(BM_Memcpy)->Apply(Sizes);
BENCHMARK(BM_Int24PackedToInt32InPlace)->Apply(Sizes);
BENCHMARK(BM_Int32ToInt24PackedInPlace)->Apply(Sizes);
BENCHMARK(BM_Float32ToInt32InPlace)->Apply(Sizes);
BENCHMARK(BM_Int32ToFloat32)->Apply(Sizes);
BENCHMARK(BM_CaptureInt32ToFloat)->Apply(Sizes);
BENCHMARK(BM_RenderFloatToInt32Block)->Apply(Sizes);
BENCHMARK(BM_RenderBlock)->Apply(Sizes);

// Takes `--kernels=NAME` out of the arguments; false when no supported set has that name.
bool ChooseKernels(int& argc, char** argv) {
  const ConversionKernelList supported = SupportedConversionKernels();
  gKernels = supported.sets[supported.count - 1];
  const std::string option = "--kernels=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.compare(0, option.size(), option) != 0) {
      argv[kept++] = argv[i];
      continue;
    }
    const std::string name = argument.substr(option.size());
    gKernels = nullptr;
    for (size_t k = 0; k < supported.count; ++k) {
      if (name == supported.sets[k]->name) gKernels = supported.sets[k];
    }
    if (gKernels == nullptr) {
      std::fprintf(stderr, "conversion_bench: this CPU runs no kernel set '%s'; it runs",
                   name.c_str());
      for (size_t k = 0; k < supported.count; ++k) {
        std::fprintf(stderr, " %s", supported.sets[k]->name);
      }
      std::fprintf(stderr, "\n");
      return false;
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (!ChooseKernels(argc, argv)) return 2;
  benchmark::AddCustomContext("kernels", gKernels->name);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
