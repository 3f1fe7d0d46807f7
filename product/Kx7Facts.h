// What the driver, the host, the virtual device, the benchmarks and the tests share about the
// KX-7 and its driver: the packet scheme, the rates and buffer sizes offered, the hardware ID and
// the names of the stored settings.
#pragma once

#include <cstdint>

namespace kx7 {

// Frames the device moves per packet in each direction, and the packets a diagnosis keeps queued
// on each pin.
inline constexpr uint32_t kPacketFrames = 64;
inline constexpr uint32_t kPacketsInFlight = 4;

// The driver's output timing for a host buffer of `bufferSize` frames: at each buffer switch the
// device still holds the margin beyond one whole half, so the host has its whole period and the
// margin for its callback. The output latency is what the device holds then; each pin's ring
// holds that and the half the host has just filled.
inline constexpr uint32_t kOutputMarginFrames = 192;
constexpr uint32_t OutputLatencyFrames(uint32_t bufferSize) {
  return bufferSize + kOutputMarginFrames;
}
constexpr uint32_t StreamPacketsFor(uint32_t bufferSize) {
  return (OutputLatencyFrames(bufferSize) + bufferSize + kPacketFrames - 1) / kPacketFrames;
}
// Packets each ring has beyond those, free at the start: they carry the next frames while the
// device holds on to packets it has done with until the end of its transfer (up to 8 ms at
// 96 kHz), so a device that hands back in bursts costs no latency.
inline constexpr uint32_t kSpareStreamPackets = 12;
// Packed 24-bit PCM: one capture channel (the microphone), two render channels.
inline constexpr uint32_t kBytesPerSample = 3;
inline constexpr uint32_t kCaptureChannels = 1;
inline constexpr uint32_t kRenderChannels = 2;
inline constexpr uint32_t kCapturePacketBytes = kPacketFrames * kCaptureChannels * kBytesPerSample;
inline constexpr uint32_t kRenderPacketBytes = kPacketFrames * kRenderChannels * kBytesPerSample;

// The device runs at any rate in this range; these are the usual ones.
inline constexpr uint32_t kMinSampleRate = 44100;
inline constexpr uint32_t kMaxSampleRate = 96000;
inline constexpr uint32_t kStandardSampleRates[] = {44100, 48000, 88200, 96000};

// The buffer sizes offered: 64 to 2048 frames in powers of two.
inline constexpr uint32_t kMinBufferSize = 64;
inline constexpr uint32_t kMaxBufferSize = 2048;
inline constexpr uint32_t kOfferedBufferSizeCount = 6;

constexpr uint32_t OfferedBufferSize(uint32_t index) { return kMinBufferSize << index; }

// Where a stored preference falls among the offered sizes: the index of the smallest at or above
// it, kOfferedBufferSizeCount when it lies above them all.
constexpr uint32_t OfferedBufferSizeIndex(uint32_t preferred) {
  uint32_t index = 0;
  while (index < kOfferedBufferSizeCount && OfferedBufferSize(index) < preferred) ++index;
  return index;
}

// The offered size a stored preference stands for: as above, and the largest above the range.
constexpr uint32_t PreferredOfferedBufferSize(uint32_t preferred) {
  const uint32_t index = OfferedBufferSizeIndex(preferred);
  return OfferedBufferSize(index < kOfferedBufferSizeCount ? index : kOfferedBufferSizeCount - 1);
}

// The KX-7's hardware-ID fragment, lower case; its device paths carry it in any letter case.
inline constexpr char kHardwareId[] = "usb#vid_fa57&pid_0e1a";

// The per-user settings: their registry key (under HKEY_CURRENT_USER) and value names.
inline constexpr char kSettingsKey[] = "SOFTWARE\\Norva\\KX-7 ASIO\\1.00";
inline constexpr char kBufferSizePreferredValue[] = "Buffer Size Preferred";
inline constexpr char kModelessControlPanelValue[] = "Modeless Control Panel";
inline constexpr char kAutoOpenControlPanelValue[] = "Auto-open Control Panel";
inline constexpr char kShowMetricsValue[] = "Show Metrics";

}  // namespace kx7
