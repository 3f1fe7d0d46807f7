// Shared by the KS-layer and virtual-device tests: a plugged virtual KX-7, wave formats as the
// driver builds them, stream packets with their events, and the trace lines of a call.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ks/KsLayer.h"
#include "platform/device_access.h"
#include "virtual_device/VirtualKsDevice.h"
#ifndef _WIN32
#include "platform/emu/test_hooks.h"
#endif

namespace kx7test {

// The driver's first-choice format: WAVE_FORMAT_EXTENSIBLE, PCM, `bits` in 3-byte containers.
inline WAVEFORMATEXTENSIBLE ExtensibleFormat(WORD channels, DWORD rate, WORD bits = 24,
                                             WORD validBits = 24) {
  WAVEFORMATEXTENSIBLE format = {};
  format.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
  format.Format.nChannels = channels;
  format.Format.nSamplesPerSec = rate;
  format.Format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format.Format.nAvgBytesPerSec = rate * format.Format.nBlockAlign;
  format.Format.wBitsPerSample = bits;
  format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  format.Samples.wValidBitsPerSample = validBits;
  format.dwChannelMask =
      channels == 1 ? SPEAKER_FRONT_CENTER : SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
  format.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  return format;
}

// The driver's second choice: the same as plain WAVE_FORMAT_PCM.
inline WAVEFORMATEX PcmFormat(WORD channels, DWORD rate, WORD bits = 24) {
  WAVEFORMATEX format = {};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  format.wBitsPerSample = bits;
  return format;
}

inline const WAVEFORMATEX* AsWfx(const WAVEFORMATEXTENSIBLE& format) { return &format.Format; }

// One stream transfer as the stream objects keep it: header, OVERLAPPED with its own event.
struct TestPacket {
  KSSTREAM_HEADER header = {};
  OVERLAPPED overlapped = {};
  std::vector<BYTE> data;

  TestPacket(size_t bytes, bool write) : data(bytes) {
    header.Size = sizeof header;
    header.PresentationTime.Numerator = 1;
    header.PresentationTime.Denominator = 1;
    header.FrameExtent = static_cast<ULONG>(bytes);
    header.DataUsed = write ? static_cast<ULONG>(bytes) : 0;
    header.Data = data.data();
    overlapped.hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  ~TestPacket() { CloseHandle(overlapped.hEvent); }
  TestPacket(const TestPacket&) = delete;
  TestPacket& operator=(const TestPacket&) = delete;

  bool Done(DWORD milliseconds = 0) {
    return WaitForSingleObject(overlapped.hEvent, milliseconds) == WAIT_OBJECT_0;
  }
};

// A plugged KX-7 in its two-filter layout, whose open handles are checked at the end of every
// test.
class Kx7Test : public ::testing::Test {
 protected:
  void SetUp() override {
    handlesBefore_ = vk::OpenHandleCount();
    device.Plug();
    g_nKsTraceLevel = 0;
#ifndef _WIN32
    emu_test::ClearDebugOutput();
#endif
  }
  void TearDown() override {
    g_nKsTraceLevel = 0;
    EXPECT_EQ(vk::OpenHandleCount(), handlesBefore_) << "a virtual kernel handle was left open";
  }

  // A filter of the KX-7 opened with its pins enumerated, as the driver's enumerators do.
  template <typename Filter>
  std::unique_ptr<Filter> OpenFilter(size_t index) {
    HRESULT hr = E_FAIL;
    auto filter = std::make_unique<Filter>(device.FilterPath(index).c_str(), &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(filter->Instantiate(), S_OK);
    EXPECT_EQ(filter->EnumeratePins(), S_OK);
    return filter;
  }

  vkx7::VirtualKx7 device{vkx7::Kx7Layout::TwoFilter};

 private:
  size_t handlesBefore_ = 0;
};

#ifndef _WIN32
// The trace text written since the last call (lines are not separated on the debug output).
inline std::string TakeTrace() {
  std::string text = emu_test::DebugOutput();
  emu_test::ClearDebugOutput();
  return text;
}

inline std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line;
  return text;
}
#endif

}  // namespace kx7test
