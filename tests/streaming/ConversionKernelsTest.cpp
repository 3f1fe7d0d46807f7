// Every kernel set that this CPU runs gives the same bytes as the original one-sample-at-a-time
// conversions, kept here as the reference: on floats of every class, on random buffers of every
// length up to the largest buffer half, at odd offsets, and without touching a byte beyond.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "streaming/ConversionKernels.h"

namespace {

// --- The reference: the scalar conversions as the driver has always done them. ---

constexpr float kTwoPowMinus31 = 4.656612873077393e-10f;
constexpr float kMinusTwoPow31 = -2147483648.0f;

int32_t TruncateSaturated(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483648.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

void ReferenceExpand(uint8_t* buffer, uint32_t count) {
  for (uint32_t i = count; i-- > 0;) {
    const uint8_t* in = buffer + 3u * i;
    const uint32_t value = (static_cast<uint32_t>(in[2]) << 24) |
                           (static_cast<uint32_t>(in[1]) << 16) |
                           (static_cast<uint32_t>(in[0]) << 8);
    std::memcpy(buffer + 4u * i, &value, sizeof value);
  }
}

void ReferencePack(uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t value;
    std::memcpy(&value, bytes + 4u * i, sizeof value);
    uint8_t* out = bytes + 3u * i;
    out[0] = static_cast<uint8_t>(value >> 8);
    out[1] = static_cast<uint8_t>(value >> 16);
    out[2] = static_cast<uint8_t>(value >> 24);
  }
}

void ReferenceFloatToHost(uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    float sample;
    std::memcpy(&sample, bytes + 4u * i, sizeof sample);
    const int32_t value = TruncateSaturated(static_cast<double>(sample) * 2147483647.49999);
    std::memcpy(bytes + 4u * i, &value, sizeof value);
  }
}

void ReferenceIntToFloat(const int32_t* source, float* destination, uint32_t count, float scale) {
  for (uint32_t i = 0; i < count; ++i) destination[i] = static_cast<float>(source[i]) * scale;
}

int32_t ReferenceRenderSample(float sample) {
  return TruncateSaturated(static_cast<double>(sample * kMinusTwoPow31));
}

// The streaming loop's render block, with the fade-in confined to its 64 frames.
void ReferenceRender(const float* left, const float* right, int32_t* block, uint32_t frames,
                     bool fadeIn) {
  for (uint32_t f = 0; f < frames; ++f) {
    int32_t* frame = block + 2 * f;
    frame[0] = left != nullptr ? ReferenceRenderSample(left[f]) : 0;
    frame[1] = right != nullptr ? ReferenceRenderSample(right[f]) : 0;
    if (fadeIn && f < 64) {
      const float gain = static_cast<float>(f) * 0.015625f;
      frame[0] = static_cast<int32_t>(static_cast<float>(frame[0]) * gain);
      frame[1] = static_cast<int32_t>(static_cast<float>(frame[1]) * gain);
    }
  }
}

// --- Inputs ---

float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint32_t ToBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Floats of every class, both signs: zeros, denormals, normals around every saturation boundary
// of both scalings, full scale, infinities, and NaNs with payloads.
std::vector<float> SpecialFloats() {
  std::vector<uint32_t> bits = {
      0x00000000, 0x00000001, 0x00000002, 0x00400000, 0x007FFFFF,  // zero and denormals
      0x00800000, 0x00800001, 0x30000000, 0x3B800000,              // tiny normals, 2^-31, 2^-8
      0x3EFFFFFF, 0x3F000000, 0x3F000001,                          // around 0.5
      0x3F7FFFFE, 0x3F7FFFFF, 0x3F800000, 0x3F800001, 0x3F800002,  // around 1.0
      0x3FC00000, 0x40000000, 0x4EFFFFFF, 0x4F000000, 0x4F000001,  // 1.5, 2, 2^31 itself
      0x7F7FFFFF, 0x7F800000,                                      // largest finite, infinity
      0x7F800001, 0x7FA5A5A5, 0x7FBFFFFF,                          // signalling NaNs
      0x7FC00000, 0x7FC00001, 0x7FE12345, 0x7FFFFFFF,              // quiet NaNs
  };
  std::vector<float> values;
  for (const uint32_t b : bits) {
    values.push_back(FromBits(b));
    values.push_back(FromBits(b | 0x80000000u));
  }
  // The products nearest to 2^31 after each scaling, one float step at a time.
  for (const float base : {1.0f, 2147483648.0f / 2147483647.49999f}) {
    float below = base;
    float above = base;
    for (int k = 0; k < 4; ++k) {
      below = std::nextafter(below, 0.0f);
      above = std::nextafter(above, 2.0f);
      for (const float v : {below, above}) {
        values.push_back(v);
        values.push_back(-v);
      }
    }
  }
  return values;
}

// Integers at the edges of the range and of single precision's rounding, and the same with
// their middle bits changed.
std::vector<int32_t> SpecialInts() {
  std::vector<int32_t> values = {0,          1,          -1,         255,
                                 256,        -256,       0x00FFFFFF, 0x01000000,
                                 0x01000001, 0x01000003, 0x7FFFFF00, 0x7FFFFF40,
                                 0x7FFFFF80, 0x7FFFFFC0, INT32_MAX,  INT32_MIN};
  const size_t count = values.size();
  for (size_t i = 0; i < count; ++i) values.push_back(values[i] ^ 0x5A5A5A00);
  return values;
}

class Inputs {
 public:
  explicit Inputs(uint32_t seed) : random(seed) {}

  std::vector<uint8_t> Bytes(size_t count) {
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
  }

  // Audio within full scale, with one value in `rarity` taken from any bit pattern or the
  // special floats: kernels that take a shorter path while every sample is in range meet both
  // long clean runs and runs with a single outsider.
  float Float(uint32_t rarity) {
    if (random() % rarity == 0) {
      return random() % 2 == 0 ? FromBits(random()) : specials[random() % specials.size()];
    }
    return std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
  }

  int32_t Int() {
    if (random() % 8 == 0) return ints[random() % ints.size()];
    return static_cast<int32_t>(random());
  }

 private:
  std::mt19937 random;
  const std::vector<float> specials = SpecialFloats();
  const std::vector<int32_t> ints = SpecialInts();
};

// A buffer that starts `offset` bytes into its storage, with guard bytes before and after; the
// whole storage is compared, so a kernel that writes outside its samples is caught.
struct Buffer {
  Buffer(const std::vector<uint8_t>& content, size_t offset)
      : storage(offset, 0xC5), start(offset) {
    storage.insert(storage.end(), content.begin(), content.end());
    storage.insert(storage.end(), 32, 0xC5);
  }
  uint8_t* data() { return storage.data() + start; }
  std::vector<uint8_t> storage;
  size_t start;
};

template <typename T>
std::vector<uint8_t> AsBytes(const std::vector<T>& values) {
  std::vector<uint8_t> bytes(values.size() * sizeof(T));
  if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

// --- The kernel sets ---

std::vector<const ConversionKernels*> KernelSets() {
  const ConversionKernelList list = SupportedConversionKernels();
  return {list.sets, list.sets + list.count};
}

class KernelSetTest : public testing::TestWithParam<const ConversionKernels*> {
 protected:
  const ConversionKernels& kernels = *GetParam();

  // Runs an in-place kernel and its reference on the same bytes at `offset` and compares.
  template <typename Kernel>
  void ExpectInPlace(Kernel kernel, void (*reference)(uint8_t*, uint32_t),
                     const std::vector<uint8_t>& content, uint32_t count, size_t offset,
                     const char* what) {
    Buffer actual(content, offset);
    Buffer expected(content, offset);
    kernel(actual.data(), count);
    reference(expected.data(), count);
    ASSERT_EQ(actual.storage, expected.storage)
        << what << ", " << count << " samples, offset " << offset;
  }

  // Packing in place, and from one buffer into another that starts at a different offset.
  void ExpectPack(const std::vector<uint8_t>& content, uint32_t count, size_t offset) {
    ExpectInPlace([this](uint8_t* bytes, uint32_t n) { kernels.packTo24(bytes, bytes, n); },
                  ReferencePack, content, count, offset, "pack in place");
    Buffer packed(content, 0);
    ReferencePack(packed.data(), count);
    const size_t start = (offset + 1) % 4;
    const Buffer expected({packed.data(), packed.data() + 3u * count}, start);
    Buffer actual(std::vector<uint8_t>(3u * count, 0x5D), start);
    Buffer source(content, offset);
    kernels.packTo24(source.data(), actual.data(), count);
    ASSERT_EQ(actual.storage, expected.storage) << "pack into another buffer, " << count;
    ASSERT_EQ(source.storage, Buffer(content, offset).storage) << "the source is left as it was";
  }

  void ExpectIntToFloat(const std::vector<int32_t>& source, size_t offset) {
    const auto count = static_cast<uint32_t>(source.size());
    for (const float scale : {kTwoPowMinus31, -kTwoPowMinus31}) {
      std::vector<float> actual(count + offset + 8, 7.0f);
      std::vector<float> expected = actual;
      kernels.intToFloat(source.data(), actual.data() + offset, count, scale);
      ReferenceIntToFloat(source.data(), expected.data() + offset, count, scale);
      ASSERT_EQ(AsBytes(actual), AsBytes(expected)) << count << " samples, scale " << scale;
    }
  }

  // Both channels, one of them silent, and with and without the fade-in.
  void ExpectRender(const std::vector<float>& left, const std::vector<float>& right,
                    size_t offset) {
    const auto frames = static_cast<uint32_t>(left.size());
    for (int variant = 0; variant < 4; ++variant) {
      const float* l = variant == 2 ? nullptr : left.data();
      const float* r = variant == 3 ? nullptr : right.data();
      const bool fadeIn = variant % 2 == 1;
      std::vector<int32_t> actual(2 * frames + offset + 8, 0x3C3C3C3C);
      std::vector<int32_t> expected = actual;
      kernels.renderFrames(l, r, actual.data() + offset, frames, fadeIn);
      ReferenceRender(l, r, expected.data() + offset, frames, fadeIn);
      ASSERT_EQ(actual, expected) << frames << " frames, variant " << variant;
    }
  }
};

TEST_P(KernelSetTest, ValuesOfEveryClassInEveryLane) {
  const std::vector<float> floats = SpecialFloats();
  const std::vector<int32_t> ints = SpecialInts();
  // Each value passes through every vector lane and through the scalar tail.
  for (size_t shift = 0; shift < 9; ++shift) {
    std::vector<float> values(shift, 0.25f);
    values.insert(values.end(), floats.begin(), floats.end());
    const auto count = static_cast<uint32_t>(values.size());
    ExpectInPlace(kernels.floatToHost, ReferenceFloatToHost, AsBytes(values), count, 0,
                  "float to host");
    ExpectRender(values, {values.rbegin(), values.rend()}, 0);

    std::vector<int32_t> integers(shift, 0x11111111);
    integers.insert(integers.end(), ints.begin(), ints.end());
    ExpectIntToFloat(integers, 0);
    const std::vector<uint8_t> bytes = AsBytes(integers);
    ExpectPack(bytes, static_cast<uint32_t>(integers.size()), 0);
    ExpectInPlace(kernels.expandPacked24, ReferenceExpand, bytes,
                  static_cast<uint32_t>(integers.size()), 0, "expand");
  }
}

TEST_P(KernelSetTest, FloatsAcrossTheWholeBitSpace) {
  // Every 4099th bit pattern (odd, so all low bits vary): about a million values of every class.
  std::vector<float> values;
  for (uint64_t bits = 0; bits <= 0xFFFFFFFFu; bits += 4099) {
    values.push_back(FromBits(static_cast<uint32_t>(bits)));
  }
  const auto count = static_cast<uint32_t>(values.size());
  ExpectInPlace(kernels.floatToHost, ReferenceFloatToHost, AsBytes(values), count, 0,
                "float to host");
  std::vector<int32_t> ints(values.size());
  for (size_t i = 0; i < values.size(); ++i) ints[i] = static_cast<int32_t>(ToBits(values[i]));
  ExpectIntToFloat(ints, 0);
  const std::vector<float> right(values.rbegin(), values.rend());
  std::vector<int32_t> actual(2 * values.size());
  std::vector<int32_t> expected(2 * values.size());
  kernels.renderFrames(values.data(), right.data(), actual.data(), count, false);
  ReferenceRender(values.data(), right.data(), expected.data(), count, false);
  EXPECT_EQ(actual, expected);
}

// Kernels that convert a block on a short path and redo it in full when a sample saturates or
// is NaN: one such sample in either channel, in the faded frames, just past them, in a vector
// step's last frame or in the tail, must give the whole block as the reference does.
TEST_P(KernelSetTest, OneOutsiderAnywhereInARenderBlock) {
  for (const uint32_t frames : {7u, 8u, 24u, 64u, 71u, 80u, 135u}) {
    for (const uint32_t at : {0u, 7u, 15u, 63u, 64u, 79u, 134u}) {
      if (at >= frames) continue;
      for (const float outsider : {1.0f, 2.0f, -std::numeric_limits<float>::infinity(),
                                   std::numeric_limits<float>::quiet_NaN()}) {
        std::vector<float> inside(frames);
        for (uint32_t f = 0; f < frames; ++f) inside[f] = 0.9f - 0.013f * static_cast<float>(f);
        std::vector<float> outside = inside;
        outside[at] = outsider;
        ExpectRender(outside, inside, 0);
        ExpectRender(inside, outside, 1);
      }
    }
  }
}

TEST_P(KernelSetTest, RandomBuffersOfEveryLengthAtOddOffsets) {
  Inputs inputs(2048);
  for (uint32_t count = 0; count <= 2048; ++count) {
    // Packed buffers start 0 to 3 bytes into their storage; sample buffers 0 to 7 samples in,
    // so every position relative to a vector's width comes up.
    const size_t byteOffset = count % 4;
    const size_t sampleOffset = count % 8;
    const std::vector<uint8_t> packed = inputs.Bytes(4u * count);
    ExpectInPlace(kernels.expandPacked24, ReferenceExpand, packed, count, byteOffset, "expand");
    ExpectPack(packed, count, byteOffset);

    const uint32_t rarity = count % 3 == 0 ? 4 : count % 3 == 1 ? 300 : 1u << 30;
    std::vector<float> left(count);
    std::vector<float> right(count);
    for (uint32_t i = 0; i < count; ++i) {
      left[i] = inputs.Float(rarity);
      right[i] = inputs.Float(rarity);
    }
    ExpectInPlace(kernels.floatToHost, ReferenceFloatToHost, AsBytes(left), count, byteOffset,
                  "float to host");
    ExpectRender(left, right, sampleOffset);

    std::vector<int32_t> ints(count);
    for (auto& value : ints) value = inputs.Int();
    ExpectIntToFloat(ints, sampleOffset);
  }
}

INSTANTIATE_TEST_SUITE_P(Cpu, KernelSetTest, testing::ValuesIn(KernelSets()),
                         [](const testing::TestParamInfo<const ConversionKernels*>& set) {
                           return std::string(set.param->name);
                         });

}  // namespace
