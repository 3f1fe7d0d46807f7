// The six sample conversions against memcpy of the same bytes, per sample.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "streaming/SampleConverter.h"

namespace {

constexpr uint32_t kSamples = 2048;  // the largest buffer half

std::vector<int32_t> Ramp() {
  std::vector<int32_t> samples(kSamples);
  for (uint32_t i = 0; i < kSamples; ++i) samples[i] = static_cast<int32_t>(i * 2654435761u);
  return samples;
}

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kSamples);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kSamples * 4);
}

void BM_Memcpy(benchmark::State& state) {
  const std::vector<int32_t> source = Ramp();
  std::vector<int32_t> destination(kSamples);
  for (auto _ : state) {
    std::memcpy(destination.data(), source.data(), kSamples * 4);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_Int24PackedToInt32InPlace(benchmark::State& state) {
  const SampleConverter converter;
  std::vector<int32_t> buffer = Ramp();
  for (auto _ : state) {
    converter.Int24PackedToInt32InPlace(reinterpret_cast<uint8_t*>(buffer.data()), kSamples);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_Int32ToInt24PackedInPlace(benchmark::State& state) {
  const SampleConverter converter;
  std::vector<int32_t> buffer = Ramp();
  for (auto _ : state) {
    converter.Int32ToInt24PackedInPlace(buffer.data(), kSamples);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_Float32ToInt32InPlace(benchmark::State& state) {
  // In place destroys the input, so a stock of fresh copies is restored now and then, untimed.
  constexpr size_t kCopies = 64;
  const SampleConverter converter;
  std::vector<float> pristine(kSamples);
  const std::vector<int32_t> source = Ramp();
  converter.Int32ToFloat32(source.data(), pristine.data(), kSamples);
  std::vector<std::vector<float>> copies(kCopies, pristine);
  size_t next = 0;
  for (auto _ : state) {
    if (next == kCopies) {
      state.PauseTiming();
      for (auto& copy : copies) copy = pristine;
      next = 0;
      state.ResumeTiming();
    }
    converter.Float32ToInt32InPlace(copies[next++].data(), kSamples);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_Int32ToFloat32(benchmark::State& state) {
  const SampleConverter converter;
  const std::vector<int32_t> source = Ramp();
  std::vector<float> destination(kSamples);
  for (auto _ : state) {
    converter.Int32ToFloat32(source.data(), destination.data(), kSamples);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_CaptureInt32ToFloat(benchmark::State& state) {
  const SampleConverter converter;
  const std::vector<int32_t> source = Ramp();
  std::vector<float> destination(kSamples);
  for (auto _ : state) {
    converter.CaptureInt32ToFloat(source.data(), destination.data(), kSamples);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void BM_RenderFloatToInt32(benchmark::State& state) {
  const SampleConverter converter;
  std::vector<float> source(kSamples);
  const std::vector<int32_t> ramp = Ramp();
  converter.Int32ToFloat32(ramp.data(), source.data(), kSamples);
  std::vector<int32_t> destination(kSamples);
  for (auto _ : state) {
    for (uint32_t i = 0; i < kSamples; ++i)
      destination[i] = converter.RenderFloatToInt32(source[i]);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

BENCHMARK(BM_Memcpy);
BENCHMARK(BM_Int24PackedToInt32InPlace);
BENCHMARK(BM_Int32ToInt24PackedInPlace);
BENCHMARK(BM_Float32ToInt32InPlace);
BENCHMARK(BM_Int32ToFloat32);
BENCHMARK(BM_CaptureInt32ToFloat);
BENCHMARK(BM_RenderFloatToInt32);

}  // namespace

BENCHMARK_MAIN();
