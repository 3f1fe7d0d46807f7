// kx7-host's command line: which command to run and its options.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx7host {

enum class CommandKind {
  kHelp,
  kRegister,
  kUnregister,
  kList,
  kProbe,
  kStream,
  kLatency,
  kDiagnose,
};

// The virtual KX-7 exists only where the driver and the host share the emulated platform.
#ifdef _WIN32
inline constexpr bool kHasVirtualDevice = false;
#else
inline constexpr bool kHasVirtualDevice = true;
#endif

// What the virtual KX-7's microphone hears while streaming.
enum class MicrophoneKind { kLoopback, kTone, kSilence };

struct StreamOptions {
  double seconds = 5.0;
  int32_t bufferSize = 0;   // 0: the driver's preferred size
  double sampleRate = 0.0;  // 0: the driver's current rate
  double toneHz = 1000.0;   // played on both outputs unless a WAV file is given
  std::string wavPath;      // played on the outputs instead of the tone
  int inputs = 2;           // inputs 0 .. inputs-1 are streamed (stream: 0 to 2)
  int outputs = 2;          // outputs 0 .. outputs-1 are streamed (stream: 0 to 2, not both 0)
  std::string recordPath;   // the streamed inputs are recorded here when not empty
  int recordBits = 24;      // 24 or 32
  double callbackLoad = 0;  // stream: percent of each period the callback busy-waits
  MicrophoneKind microphone = MicrophoneKind::kLoopback;
  // The virtual KX-7's timing profile and named scenarios (see DeviceUnderTest.h).
  std::string deviceProfile = "ideal";
  std::vector<std::string> deviceScenarios;
};

// diagnose: the device below the driver.
struct DiagnoseArguments {
  double seconds = 2.0;         // of streaming at each rate
  std::vector<uint32_t> rates;  // empty: 44100, 48000, 88200 and 96000 Hz
  std::string outPath = "kx7-diagnose.json";
};

struct HostCommand {
  CommandKind kind = CommandKind::kHelp;
  std::string library;     // register, unregister: the driver library to load
  std::string driverName;  // --driver: key name under SOFTWARE\ASIO; empty picks the default
  bool json = false;       // --json
  StreamOptions stream;    // stream, latency; the virtual KX-7's set-up for diagnose too
  DiagnoseArguments diagnose;
};

struct ParsedArguments {
  bool ok = false;
  HostCommand command;
  std::string error;  // why the arguments were refused, when !ok
};

// Parses the arguments that follow the program name.
ParsedArguments ParseArguments(const std::vector<std::string>& args);

// The usage text, ending with a newline.
const char* UsageText();

}  // namespace kx7host
