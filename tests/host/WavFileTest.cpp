// WAV files: what the writer records reads back sample for sample, every supported format is
// decoded to left-aligned samples, and malformed files are refused with a reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/stream/WavFile.h"
#include "support/TestSupport.h"

namespace kx7host {
namespace {

void Put16(std::vector<uint8_t>& b, uint16_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void PutTag(std::vector<uint8_t>& b, const char* tag) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(tag[i]));
}

// A file with a format chunk (plain or extensible) and a data chunk of the given bytes.
std::vector<uint8_t> MakeWav(uint16_t tag, uint16_t channels, uint16_t bits,
                             const std::vector<uint8_t>& data, bool extensible = false,
                             uint32_t dataSizeClaimed = 0xFFFFFFFFu) {
  std::vector<uint8_t> fmt;
  Put16(fmt, extensible ? 0xFFFE : tag);
  Put16(fmt, channels);
  Put32(fmt, 48000);
  Put32(fmt, 48000u * channels * bits / 8);
  Put16(fmt, static_cast<uint16_t>(channels * bits / 8));
  Put16(fmt, bits);
  if (extensible) {
    Put16(fmt, 22);
    Put16(fmt, bits);
    Put32(fmt, 3);
    Put16(fmt, tag);  // sub-format GUID, first two bytes
    static const uint8_t rest[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    fmt.insert(fmt.end(), rest, rest + 14);
  }
  std::vector<uint8_t> b;
  PutTag(b, "RIFF");
  Put32(b, 0);
  PutTag(b, "WAVE");
  PutTag(b, "LIST");  // an unknown chunk of odd size, with its pad byte, comes first
  Put32(b, 3);
  b.insert(b.end(), {'a', 'b', 'c', 0});
  PutTag(b, "fmt ");
  Put32(b, static_cast<uint32_t>(fmt.size()));
  b.insert(b.end(), fmt.begin(), fmt.end());
  PutTag(b, "data");
  Put32(b, dataSizeClaimed == 0xFFFFFFFFu ? static_cast<uint32_t>(data.size()) : dataSizeClaimed);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}

std::string TempPath(const std::string& name) { return kx7test::PathNextToExecutable(name); }

TEST(WavFile, WrittenFilesReadBackWithTheTopBitsOfEachSample) {
  const std::vector<int32_t> samples = {0,         1 << 8,     -(1 << 8), 0x7FFFFFFF,
                                        INT32_MIN, 0x12345678, -2,        0x00000080};
  for (uint16_t bits : {uint16_t{24}, uint16_t{32}}) {
    const std::string path = TempPath("wav-roundtrip-" + std::to_string(bits) + ".wav");
    WavWriter writer;
    std::string why;
    ASSERT_TRUE(writer.Open(path, 96000, 2, bits, &why)) << why;
    ASSERT_TRUE(writer.Write(samples.data(), 2));
    ASSERT_TRUE(writer.Write(samples.data() + 4, 2));
    EXPECT_EQ(writer.FramesWritten(), 4u);
    ASSERT_TRUE(writer.Close());

    WavData wav;
    ASSERT_TRUE(ReadWavFile(path, &wav, &why)) << why;
    EXPECT_EQ(wav.sampleRate, 96000u);
    EXPECT_EQ(wav.channels, 2);
    EXPECT_EQ(wav.bitsPerSample, bits);
    ASSERT_EQ(wav.samples.size(), samples.size());
    const uint32_t mask = bits == 24 ? 0xFFFFFF00u : 0xFFFFFFFFu;
    for (size_t i = 0; i < samples.size(); ++i) {
      EXPECT_EQ(static_cast<uint32_t>(wav.samples[i]), static_cast<uint32_t>(samples[i]) & mask)
          << bits << "-bit sample " << i;
    }
    std::remove(path.c_str());
  }
}

TEST(WavFile, OddSizedDataGetsItsPadByteAndStaysReadable) {
  const std::string path = TempPath("wav-odd.wav");
  WavWriter writer;
  std::string why;
  ASSERT_TRUE(writer.Open(path, 44100, 1, 24, &why)) << why;
  const int32_t sample = 0x11223300;
  ASSERT_TRUE(writer.Write(&sample, 1));
  ASSERT_TRUE(writer.Close());
  std::FILE* file = std::fopen(path.c_str(), "rb");
  ASSERT_NE(file, nullptr);
  std::vector<uint8_t> bytes(64);
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  std::fclose(file);
  ASSERT_EQ(bytes.size(), 44u + 3 + 1);
  EXPECT_EQ(bytes[4], 44 - 8 + 3 + 1);  // RIFF size counts the pad byte
  EXPECT_EQ(bytes[40], 3);              // data size does not
  WavData wav;
  ASSERT_TRUE(ParseWavBytes(bytes, &wav, &why)) << why;
  EXPECT_EQ(wav.samples, std::vector<int32_t>{sample});
  std::remove(path.c_str());
}

TEST(WavFile, DecodesEachSupportedFormatLeftAligned) {
  WavData wav;
  std::string why;
  ASSERT_TRUE(ParseWavBytes(MakeWav(1, 1, 8, {0x00, 0x80, 0xFF}), &wav, &why)) << why;
  EXPECT_EQ(wav.samples, (std::vector<int32_t>{INT32_MIN, 0, 0x7F000000}));

  ASSERT_TRUE(ParseWavBytes(MakeWav(1, 2, 16, {0x01, 0x80, 0xFF, 0x7F}), &wav, &why)) << why;
  EXPECT_EQ(wav.samples, (std::vector<int32_t>{static_cast<int32_t>(0x80010000), 0x7FFF0000}));
  EXPECT_EQ(wav.Frames(), 1u);

  ASSERT_TRUE(ParseWavBytes(MakeWav(1, 1, 24, {0x56, 0x34, 0x12}, true), &wav, &why)) << why;
  EXPECT_EQ(wav.samples, std::vector<int32_t>{0x12345600});

  std::vector<uint8_t> floats(12);
  const float values[3] = {0.5f, -1.0f, 2.0f};  // the last is clipped to full scale
  std::memcpy(floats.data(), values, sizeof values);
  ASSERT_TRUE(ParseWavBytes(MakeWav(3, 1, 32, floats), &wav, &why)) << why;
  EXPECT_TRUE(wav.isFloat);
  EXPECT_EQ(wav.samples, (std::vector<int32_t>{0x40000000, INT32_MIN, INT32_MAX}));
}

TEST(WavFile, ADataChunkCutShortKeepsItsWholeFrames) {
  // Claims 12 bytes (two stereo 24-bit frames) but holds 9.
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  WavData wav;
  std::string why;
  ASSERT_TRUE(ParseWavBytes(MakeWav(1, 2, 24, data, false, 12), &wav, &why)) << why;
  EXPECT_EQ(wav.Frames(), 1u);
}

TEST(WavFile, MalformedFilesAreRefusedWithAReason) {
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> noData = MakeWav(1, 1, 16, {1, 2});
  noData.resize(noData.size() - 10);  // the data chunk's header is cut
  std::vector<uint8_t> noFormat = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  std::vector<uint8_t> badAlign = MakeWav(1, 2, 16, {1, 2, 3, 4});
  badAlign[12 + 12 + 8 + 12] = 3;  // the format's block alignment
  const Case cases[] = {
      {"empty", {}},
      {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!'}},
      {"no format", noFormat},
      {"no data", noData},
      {"ADPCM", MakeWav(2, 1, 4, {1, 2})},
      {"12-bit", MakeWav(1, 1, 12, {1, 2})},
      {"64-bit integers", MakeWav(1, 1, 64, std::vector<uint8_t>(8))},
      {"no channels", MakeWav(1, 0, 16, {1, 2})},
      {"block alignment", badAlign},
      {"no whole frame", MakeWav(1, 2, 24, {1, 2, 3})},
  };
  for (const Case& c : cases) {
    WavData wav;
    std::string why;
    EXPECT_FALSE(ParseWavBytes(c.bytes, &wav, &why)) << c.what;
    EXPECT_FALSE(why.empty()) << c.what;
  }
  WavData wav;
  std::string why;
  EXPECT_FALSE(ReadWavFile(TempPath("no-such-file.wav"), &wav, &why));
  EXPECT_NE(why.find("cannot open"), std::string::npos) << why;
  WavWriter writer;
  EXPECT_FALSE(writer.Open(TempPath("no-such-folder/x.wav"), 48000, 2, 24, &why));
  EXPECT_FALSE(writer.Open(TempPath("bits.wav"), 48000, 2, 16, &why));
}

}  // namespace
}  // namespace kx7host
