// What getErrorMessage says after a start that failed, one line each, by what failed.
#pragma once

inline constexpr char kHardwareNotFoundText[] = "NORVA KX-7 hardware not found.";
inline constexpr char kUsbAudio2Text[] =
    "NORVA KX-7 runs on the USB Audio 2.0 driver, which this driver cannot stream through.";
inline constexpr char kPinInUseText[] = "NORVA KX-7 is in use by another application.";
// With the sample rate in Hz.
inline constexpr char kFormatRefusedText[] = "NORVA KX-7 refused 24-bit audio at %u Hz.";
inline constexpr char kStreamRefusedText[] =
    "NORVA KX-7 could not start streaming: no USB bandwidth for it, or the device failed.";
inline constexpr char kStreamSilentText[] = "NORVA KX-7 did not start streaming in time.";
inline constexpr char kNoBuffersText[] = "Buffers must be created before start.";
inline constexpr char kHeldByEndedStreamText[] =
    "NORVA KX-7 is still held by a stream that has not ended.";
inline constexpr char kDisconnectedText[] = "NORVA KX-7 was disconnected.";
// Once the device is back and streaming.
inline constexpr char kNoErrorText[] = "ASIO OK";
