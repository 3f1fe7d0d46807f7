// The command line: what is accepted, and that everything else gives the usage and exit status 2.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "host/cli/Arguments.h"
#include "host/cli/Commands.h"

namespace kx7host {
namespace {

// The options of the command parsed, which must be of that command.
template <class Options>
const Options& As(const ParsedArguments& parsed) {
  static const Options none{};
  const Options* options = std::get_if<Options>(&parsed.command);
  EXPECT_NE(options, nullptr) << "another command was parsed";
  return options != nullptr ? *options : none;
}

TEST(HostArguments, AcceptsEachCommandWithItsOptions) {
  ParsedArguments parsed = ParseArguments({"register", "NORVA-KX-7-ASIO-x64.dll"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<RegisterOptions>(parsed.command));
  EXPECT_EQ(As<RegisterOptions>(parsed).library, "NORVA-KX-7-ASIO-x64.dll");

  parsed = ParseArguments({"unregister", "lib.so"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<RegisterOptions>(parsed.command));

  parsed = ParseArguments({"list"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<ListOptions>(parsed.command));

  parsed = ParseArguments({"probe"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<ProbeOptions>(parsed.command));
  EXPECT_EQ(As<ProbeOptions>(parsed).driverName, "");
  EXPECT_FALSE(As<ProbeOptions>(parsed).json);

  parsed = ParseArguments({"probe", "--json", "--driver", "NORVA KX-7 ASIO Driver"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(As<ProbeOptions>(parsed).json);
  EXPECT_EQ(As<ProbeOptions>(parsed).driverName, "NORVA KX-7 ASIO Driver");

  parsed = ParseArguments({"probe", "--driver=Other Driver"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(As<ProbeOptions>(parsed).driverName, "Other Driver");
}

TEST(HostArguments, StreamAndLatencyTakeTheirOptionsInEitherSpelling) {
  ParsedArguments parsed = ParseArguments({"stream"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<StreamOptions>(parsed.command));
  EXPECT_EQ(As<StreamOptions>(parsed).seconds, 5.0);
  EXPECT_EQ(As<StreamOptions>(parsed).bufferSize, 0);
  EXPECT_EQ(As<StreamOptions>(parsed).sampleRate, 0.0);
  EXPECT_EQ(As<StreamOptions>(parsed).recordBits, 24);
  EXPECT_EQ(As<StreamOptions>(parsed).microphone, MicrophoneKind::kLoopback);
  EXPECT_EQ(As<StreamOptions>(parsed).inputs, 2);
  EXPECT_EQ(As<StreamOptions>(parsed).outputs, 2);

  parsed = ParseArguments({"stream", "--inputs", "2", "--outputs=0", "--record", "in.wav"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(As<StreamOptions>(parsed).inputs, 2);
  EXPECT_EQ(As<StreamOptions>(parsed).outputs, 0);
  parsed = ParseArguments({"stream", "--inputs=0", "--outputs", "1"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(As<StreamOptions>(parsed).inputs, 0);
  EXPECT_EQ(As<StreamOptions>(parsed).outputs, 1);

  parsed =
      ParseArguments({"stream", "--seconds", "0.5", "--buffer=64", "--rate", "96000", "--tone=440",
                      "--record", "out.wav", "--bits", "32", "--json", "--driver", "X"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  const StreamOptions& options = As<StreamOptions>(parsed);
  EXPECT_EQ(options.seconds, 0.5);
  EXPECT_EQ(options.bufferSize, 64);
  EXPECT_EQ(options.sampleRate, 96000.0);
  EXPECT_EQ(options.toneHz, 440.0);
  EXPECT_EQ(options.recordPath, "out.wav");
  EXPECT_EQ(options.recordBits, 32);
  EXPECT_TRUE(As<StreamOptions>(parsed).json);
  EXPECT_EQ(As<StreamOptions>(parsed).driverName, "X");

  parsed = ParseArguments({"stream", "--wav", "in.wav"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(As<StreamOptions>(parsed).wavPath, "in.wav");

  parsed = ParseArguments({"latency", "--buffer", "2048", "--rate=44100", "--json"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<LatencyOptions>(parsed.command));
  EXPECT_EQ(As<LatencyOptions>(parsed).bufferSize, 2048);
  EXPECT_EQ(As<LatencyOptions>(parsed).sampleRate, 44100.0);

  parsed = ParseArguments({"stream", "--device", "silence"});
  EXPECT_EQ(parsed.ok, kHasVirtualDevice) << parsed.error;
  if (kHasVirtualDevice) {
    EXPECT_EQ(As<StreamOptions>(parsed).microphone, MicrophoneKind::kSilence);
    parsed = ParseArguments({"stream", "--device=tone"});
    EXPECT_EQ(As<StreamOptions>(parsed).microphone, MicrophoneKind::kTone);
  }

  parsed = ParseArguments(
      {"latency", "--device-profile", "urb-4ms", "--device-scenario", "two-filter,strict-headers"});
  EXPECT_EQ(parsed.ok, kHasVirtualDevice) << parsed.error;
  if (kHasVirtualDevice) {
    EXPECT_EQ(As<LatencyOptions>(parsed).device.profile, "urb-4ms");
    EXPECT_EQ(As<LatencyOptions>(parsed).device.scenarios,
              (std::vector<std::string>{"two-filter", "strict-headers"}));
    parsed = ParseArguments({"stream"});
    EXPECT_EQ(As<StreamOptions>(parsed).device.profile, "ideal");
  }
}

TEST(HostArguments, BadArgumentsGiveTheUsageAndExitStatus2) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"register"},
      {"register", ""},
      {"unregister", "a.so", "b.so"},
      {"list", "--json"},
      {"probe", "--driver"},
      {"probe", "--driver="},
      {"probe", "--driver", "A", "--driver", "B"},
      {"probe", "--jsn"},
      {"probe", "extra"},
      {"help", "me"},
      {"--json", "probe"},
      {"probe", "--seconds", "1"},
      {"stream", "--frobnicate"},
      {"stream", "--seconds"},
      {"stream", "--seconds", "0"},
      {"stream", "--seconds", "-1"},
      {"stream", "--seconds", "1s"},
      {"stream", "--seconds", "nan"},
      {"stream", "--seconds", "inf"},
      {"stream", "--seconds", "100000"},
      {"stream", "--buffer", "0"},
      {"stream", "--buffer", "-64"},
      {"stream", "--buffer", "64.0"},
      {"stream", "--buffer", " 64"},
      {"stream", "--buffer", "99999999999999999999"},
      {"stream", "--rate", "fast"},
      {"stream", "--rate", "0"},
      {"stream", "--tone", "-440"},
      {"stream", "--tone", "440", "--wav", "a.wav"},
      {"stream", "--wav="},
      {"stream", "--record", ""},
      {"stream", "--bits", "16"},
      {"stream", "--device", "cable"},
      {"stream", "--inputs", "3"},
      {"stream", "--outputs", "-1"},
      {"stream", "--inputs", "one"},
      {"stream", "--inputs", "0", "--outputs", "0"},
      {"stream", "--inputs", "0", "--record", "in.wav"},
      {"latency", "--inputs", "1"},
      {"stream", "extra"},
      {"latency", "--seconds", "1"},
      {"latency", "--tone", "440"},
      {"latency", "--record", "x.wav"},
      {"latency", "--device", "loopback"},
      {"stream", "--device-profile", "usb-2ms"},
      {"stream", "--device-scenario", "strict-headers,"},
      {"stream", "--device-scenario", "fast"},
      {"probe", "--device-profile", "ideal"},
      {"diagnose", "--rates", "48000,"},
      {"diagnose", "--rates", "4000"},
      {"diagnose", "--rates", "48000.5"},
      {"diagnose", "--seconds", "0"},
      {"diagnose", "--seconds", "3601"},
      {"diagnose", "--out", ""},
      {"diagnose", "--buffer", "64"},
      {"diagnose", "--driver", "x"},
  };
  for (const std::vector<std::string>& args : bad) {
    std::string joined;
    for (const std::string& arg : args) joined += "[" + arg + "]";
    EXPECT_FALSE(ParseArguments(args).ok) << joined;

    std::ostringstream out, err;
    EXPECT_EQ(RunHost(args, out, err), kExitUsage) << joined;
    EXPECT_EQ(out.str(), "") << joined;
    EXPECT_NE(err.str().find("usage: kx7-host"), std::string::npos) << joined;
    // The first line says what was wrong before the usage follows.
    EXPECT_EQ(err.str().rfind("kx7-host: ", 0), 0u) << joined << err.str();
  }
}

TEST(HostArguments, DiagnoseTakesItsDurationRatesFileAndTheVirtualDevicesSetUp) {
  ParsedArguments parsed = ParseArguments({"diagnose"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_TRUE(std::holds_alternative<DiagnoseOptions>(parsed.command));
  EXPECT_EQ(As<DiagnoseOptions>(parsed).seconds, 2.0);
  EXPECT_TRUE(As<DiagnoseOptions>(parsed).rates.empty()) << "the default rates";
  EXPECT_EQ(As<DiagnoseOptions>(parsed).outPath, "kx7-diagnose.json");

  parsed = ParseArguments(
      {"diagnose", "--seconds=0.5", "--rates", "96000,44100", "--out", "d.json", "--json"});
  ASSERT_TRUE(parsed.ok) << parsed.error;
  EXPECT_EQ(As<DiagnoseOptions>(parsed).seconds, 0.5);
  EXPECT_EQ(As<DiagnoseOptions>(parsed).rates, (std::vector<uint32_t>{96000, 44100}));
  EXPECT_EQ(As<DiagnoseOptions>(parsed).outPath, "d.json");
  EXPECT_TRUE(As<DiagnoseOptions>(parsed).json);

  if (kHasVirtualDevice) {
    parsed = ParseArguments(
        {"diagnose", "--device-profile", "urb-4ms", "--device-scenario=two-filter,pin-in-use"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(As<DiagnoseOptions>(parsed).device.profile, "urb-4ms");
    EXPECT_EQ(As<DiagnoseOptions>(parsed).device.scenarios,
              (std::vector<std::string>{"two-filter", "pin-in-use"}));
    EXPECT_FALSE(ParseArguments({"diagnose", "--device-scenario", "uac3"}).ok);
  } else {
    EXPECT_FALSE(ParseArguments({"diagnose", "--device-profile", "ideal"}).ok);
  }
}

TEST(HostArguments, HelpPrintsTheUsageAndSucceeds) {
  for (const char* help : {"help", "--help", "-h"}) {
    std::ostringstream out, err;
    EXPECT_EQ(RunHost({help}, out, err), kExitOk);
    EXPECT_EQ(out.str(), UsageText());
    EXPECT_EQ(err.str(), "");
  }
}

}  // namespace
}  // namespace kx7host
