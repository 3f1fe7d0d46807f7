// The probe against a driver that misbehaves: unterminated and overlong texts, absurd counts,
// failing calls. What it reports must stay in bounds and say which call failed.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "host/session/DriverDiscovery.h"
#include "host/session/Probe.h"

namespace kx7host {
namespace {

class UnrulyDriver : public IASIO {
 public:
  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override {
    ++releases;
    if (neverLetsGo) return 1;
    return --references;
  }

  ASIOBool init(void*) override {
    calls.push_back("init");
    return ASIOTrue;
  }
  void getDriverName(char* name) override {
    calls.push_back("getDriverName");
    std::memset(name, 'N', 40);  // longer than the published 32 and not terminated
  }
  int32_t getDriverVersion() override {
    calls.push_back("getDriverVersion");
    return 7;
  }
  void getErrorMessage(char* text) override {
    calls.push_back("getErrorMessage");
    std::strcpy(text, "said \"no\"\n");
  }
  ASIOError start() override { return ASE_NotPresent; }
  ASIOError stop() override { return ASE_NotPresent; }
  ASIOError getChannels(int32_t* inputs, int32_t* outputs) override {
    calls.push_back("getChannels");
    *inputs = 100000;
    *outputs = -3;
    return ASE_OK;
  }
  ASIOError getLatencies(int32_t* input, int32_t* output) override {
    calls.push_back("getLatencies");
    *input = 1;
    *output = 2;
    return ASE_OK;
  }
  ASIOError getBufferSize(int32_t*, int32_t*, int32_t*, int32_t*) override {
    calls.push_back("getBufferSize");
    return ASE_HWMalfunction;
  }
  ASIOError canSampleRate(ASIOSampleRate rate) override {
    ratesAsked.push_back(rate);
    return rate == 48000.0 ? ASE_OK : ASE_NoClock;
  }
  ASIOError getSampleRate(ASIOSampleRate* rate) override {
    calls.push_back("getSampleRate");
    *rate = std::nan("");
    return ASE_OK;
  }
  ASIOError setSampleRate(ASIOSampleRate) override { return ASE_NoClock; }
  ASIOError getClockSources(ASIOClockSource* clocks, int32_t* count) override {
    calls.push_back("getClockSources");
    for (int32_t i = 0; i < *count; ++i) {
      clocks[i].index = i;
      std::memset(clocks[i].name, 'C', sizeof clocks[i].name);
    }
    *count = 1000;  // more than the host made room for
    return ASE_OK;
  }
  ASIOError setClockSource(int32_t) override { return ASE_NotPresent; }
  ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_NotPresent; }
  ASIOError getChannelInfo(ASIOChannelInfo* info) override {
    if (info->isInput && info->channel == 1) return ASE_InvalidParameter;
    info->type = ASIOSTInt32LSB;
    info->isActive = ASIOFalse;
    std::memset(info->name, 'x', sizeof info->name);  // fills the record, no terminator
    info->channel = 99;                               // scribbles over what it was asked
    return ASE_OK;
  }
  ASIOError createBuffers(ASIOBufferInfo*, int32_t, int32_t, ASIOCallbacks*) override {
    return ASE_InvalidMode;
  }
  ASIOError disposeBuffers() override { return ASE_InvalidMode; }
  ASIOError controlPanel() override { return ASE_NotPresent; }
  ASIOError future(int32_t, void*) override { return ASE_NotPresent; }
  ASIOError outputReady() override { return ASE_NotPresent; }

  std::vector<std::string> calls;
  std::vector<ASIOSampleRate> ratesAsked;
  ULONG references = 1;
  int releases = 0;
  bool neverLetsGo = false;
};

TEST(HostProbe, AsksInAHostsOrderAndReadsTheErrorTextAfterInit) {
  UnrulyDriver driver;
  ProbeDriver(&driver);
  const std::vector<std::string> expected = {
      "getDriverName", "getDriverVersion", "init",          "getErrorMessage", "getChannels",
      "getBufferSize", "getLatencies",     "getSampleRate", "getClockSources"};
  EXPECT_EQ(driver.calls, expected);
  EXPECT_EQ(driver.ratesAsked,
            (std::vector<ASIOSampleRate>{32000, 44100, 48000, 88200, 96000, 192000}));
}

TEST(HostProbe, KeepsWhatAnUnrulyDriverWritesInBounds) {
  UnrulyDriver driver;
  const ProbeReport report = ProbeDriver(&driver);
  EXPECT_EQ(report.driverName, std::string(40, 'N'));
  EXPECT_EQ(report.driverVersion, 7);
  EXPECT_EQ(report.initResult, ASIOTrue);

  // 100000 inputs are reported as such, but only a bounded number is asked about; -3 outputs
  // means none.
  EXPECT_EQ(report.numInputChannels, 100000);
  EXPECT_EQ(report.channels.size(), 256u);
  for (size_t i = 0; i < report.channels.size(); ++i) {
    const ChannelReport& channel = report.channels[i];
    EXPECT_TRUE(channel.info.isInput);
    EXPECT_EQ(channel.info.channel, static_cast<int32_t>(i));
    if (i == 1) {
      EXPECT_EQ(channel.result, ASE_InvalidParameter);
    } else {
      EXPECT_EQ(channel.result, ASE_OK);
      EXPECT_EQ(std::string(channel.info.name), std::string(31, 'x'));
    }
  }
  EXPECT_EQ(report.bufferSizeResult, ASE_HWMalfunction);
  ASSERT_EQ(report.clockSources.size(), 32u);
  EXPECT_EQ(std::string(report.clockSources[31].name), std::string(31, 'C'));
  EXPECT_EQ(report.clockSources[31].index, 31);
}

TEST(HostProbe, JsonShowsFailedCallsAndEscapesTexts) {
  UnrulyDriver driver;
  const ProbeReport report = ProbeDriver(&driver);
  std::ostringstream out;
  PrintProbeJson({"Unruly \"Driver\"", "{X}", "C:\\drivers\\unruly"}, report, out);
  const std::string json = out.str();
  const auto has = [&](const std::string& part) { return json.find(part) != std::string::npos; };
  EXPECT_TRUE(has("\"name\": \"Unruly \\\"Driver\\\"\"")) << json;
  EXPECT_TRUE(has("\"Description\": \"C:\\\\drivers\\\\unruly\"")) << json;
  EXPECT_TRUE(has("\"getErrorMessage\": \"said \\\"no\\\"\\n\"")) << json;
  EXPECT_TRUE(has("\"getBufferSize\": {\n    \"error\": -999\n  }")) << json;
  EXPECT_TRUE(has("\"isInput\": 1,\n      \"error\": -998\n")) << json;
  EXPECT_TRUE(has("\"getSampleRate\": null")) << json;
  EXPECT_TRUE(has("\"48000\": 0")) << json;
  EXPECT_TRUE(has("\"192000\": -995")) << json;
  EXPECT_EQ(json.back(), '\n');

  std::ostringstream text;
  PrintProbeText({"Unruly", "{X}", ""}, report, text);
  EXPECT_NE(text.str().find("getBufferSize     failed: -999 (ASE_HWMalfunction)"),
            std::string::npos)
      << text.str();
}

TEST(HostProbe, ReleaseGoesOnUntilTheDriverIsGoneButNotForever) {
  UnrulyDriver driver;
  driver.references = 3;
  ReleaseAsioDriver(&driver);
  EXPECT_EQ(driver.references, 0u);
  EXPECT_EQ(driver.releases, 3);

  UnrulyDriver stubborn;
  stubborn.neverLetsGo = true;
  ReleaseAsioDriver(&stubborn);
  EXPECT_GT(stubborn.releases, 1);
  EXPECT_LE(stubborn.releases, 1000);
}

}  // namespace
}  // namespace kx7host
