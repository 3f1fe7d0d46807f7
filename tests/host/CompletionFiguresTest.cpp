// The figures a diagnosis draws from completion logs, on logs made to order: batching, gaps in
// which a pin ran dry, short and empty packets, the phase across a grid's wrap, and the profile
// named for them.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/diagnose/CompletionFigures.h"
#include "host/diagnose/DiagnoseVerdict.h"
#include "host/diagnose/KsText.h"

namespace kx7host {
namespace {

constexpr uint32_t kPacketBytes = 192;

CompletionRecord At(double ms, uint32_t dataUsed = kPacketBytes) {
  CompletionRecord record;
  record.timeNs = static_cast<int64_t>(ms * 1e6 + 0.5);
  record.dataUsed = dataUsed;
  return record;
}

// `bursts` bursts of `size` completions, one every `periodMs`, starting at `startMs`.
std::vector<CompletionRecord> Bursts(size_t bursts, size_t size, double periodMs,
                                     double startMs = 0.0) {
  std::vector<CompletionRecord> log;
  for (size_t b = 0; b < bursts; ++b) {
    for (size_t k = 0; k < size; ++k) log.push_back(At(startMs + b * periodMs));
  }
  return log;
}

TEST(CompletionFigures, BurstsGiveTheBatchingAndPacketsPerBurst) {
  // Three packets every 4 ms at 48000 Hz: the URBs of 4 ms.
  const PinFigures figures = SummarizeCompletions(Bursts(100, 3, 4.0), 48000, kPacketBytes);
  EXPECT_EQ(figures.completions, 300u);
  EXPECT_EQ(figures.bursts, 100u);
  EXPECT_DOUBLE_EQ(figures.packetsPerBurst, 3.0);
  EXPECT_EQ(figures.largestBurst, 3u);
  EXPECT_NEAR(figures.batchingMs, 4.0, 1e-6);
  EXPECT_DOUBLE_EQ(figures.onGrid, 1.0);
  EXPECT_NEAR(figures.intervals.meanMs, 4.0 * 99 / 299, 1e-6);
  EXPECT_NEAR(figures.intervals.maxMs, 4.0, 1e-6);
  EXPECT_NEAR(figures.completedPerNominal, 1.0, 0.01) << "4 ms hold three 64-frame packets";
  EXPECT_EQ(figures.gaps, 0u);
  ASSERT_EQ(figures.histogram.size(), 2u);
  EXPECT_EQ(figures.histogram[0].fromMs, 0.0);
  EXPECT_EQ(figures.histogram[0].count, 200u);
  EXPECT_EQ(figures.histogram[1].fromMs, 4.0);
  EXPECT_EQ(NearestProfile(figures, 48000), "urb-4ms");

  // One packet per packet time: no batching at all.
  const PinFigures ideal = SummarizeCompletions(Bursts(200, 1, 64000.0 / 44100), 44100, 192);
  EXPECT_NEAR(ideal.batchingMs, 1.4512, 1e-3);
  EXPECT_EQ(NearestProfile(ideal, 44100), "ideal");
}

TEST(CompletionFigures, IntervalsLongerThanThePacketsInFlightAreCountedAsLostFrames) {
  // At 96000 Hz four packets last 2.667 ms; bursts of 4 every 4 ms leave 1.333 ms, 128 frames,
  // without anything to play.
  const PinFigures figures = SummarizeCompletions(Bursts(50, 4, 4.0), 96000, kPacketBytes);
  EXPECT_EQ(figures.gaps, 49u);
  EXPECT_EQ(figures.framesLost, 49u * 128);
  EXPECT_NEAR(figures.completedPerNominal, 4.0 / 6.0, 0.02);
  // A single stall in a steady stream.
  std::vector<CompletionRecord> log = Bursts(40, 1, 1.0);
  for (CompletionRecord& record : log) {
    if (record.timeNs >= 20000000) record.timeNs += 10000000;
  }
  const PinFigures stalled = SummarizeCompletions(log, 48000, kPacketBytes);
  EXPECT_EQ(stalled.gaps, 1u);
  EXPECT_EQ(stalled.framesLost, static_cast<uint64_t>((11.0 - 256.0 / 48) * 48 + 0.5));
}

TEST(CompletionFigures, ShortEmptyAndFailedPacketsAndHeaderFlagsAreCounted) {
  std::vector<CompletionRecord> log = {At(0, 0), At(1, 0), At(2, 96), At(3), At(4)};
  log[3].optionsFlags = 0x110;
  log[4].error = 995;  // cancelled: neither empty nor short
  log[4].dataUsed = 0;
  const PinFigures figures = SummarizeCompletions(log, 48000, kPacketBytes);
  EXPECT_EQ(figures.emptyPackets, 2u);
  EXPECT_EQ(figures.shortPackets, 1u);
  EXPECT_EQ(figures.failedRequests, 1u);
  EXPECT_EQ(figures.timeValid, 1u);
  EXPECT_EQ(figures.durationValid, 1u);
  EXPECT_EQ(NearestProfile(figures, 48000), "") << "too few completions to name a profile";
  const PinFigures nothing = SummarizeCompletions({}, 48000, kPacketBytes);
  EXPECT_EQ(nothing.completions, 0u);
  EXPECT_EQ(nothing.batchingMs, 0.0);
}

TEST(CompletionFigures, CompletionsOffAnyGridAreJitterAndOddGridsKeepTheirLength) {
  // Completions 64 frames apart, each late by up to 16 frames (a fixed spread pattern).
  const double frameMs = 1000.0 / 48000;
  const int lateness[] = {0, 16, 3, 11, 7, 14, 1, 9, 5, 12};
  std::vector<CompletionRecord> log;
  for (int i = 0; i < 200; ++i) log.push_back(At((64 * i + lateness[i % 10]) * frameMs));
  const std::string jitter = NearestProfile(SummarizeCompletions(log, 48000, 192), 48000);
  EXPECT_EQ(jitter.rfind("jitter-", 0), 0u) << jitter;
  EXPECT_EQ(NearestProfile(SummarizeCompletions(Bursts(100, 2, 3.0), 48000, 192), 48000),
            "urb-3ms");
}

TEST(CompletionFigures, ThePhaseIsCircularOnTheGrid) {
  const std::vector<CompletionRecord> render = Bursts(100, 1, 1.0);
  PhaseFigures phase = CapturePhase(Bursts(100, 1, 1.0, 0.5), render, 1.0);
  ASSERT_TRUE(phase.known);
  EXPECT_NEAR(phase.ms, 0.5, 1e-6);
  // Capture a hair before render on some completions and a hair after on others: 0, not half.
  std::vector<CompletionRecord> capture = Bursts(100, 1, 1.0);
  for (size_t i = 0; i < capture.size(); ++i) capture[i].timeNs += i % 2 == 0 ? 10000 : -10000;
  phase = CapturePhase(capture, render, 1.0);
  EXPECT_LT(std::min(phase.ms, 1.0 - phase.ms), 1e-3);
  EXPECT_NEAR(CapturePhase(render, render, 1.0).ms, 0.0, 1e-12);
  EXPECT_FALSE(CapturePhase({}, render, 1.0).known);
  EXPECT_FALSE(CapturePhase(render, render, 0.0).known);
}

TEST(KsText, ResultsNameTheirErrorAndPinNamesAreUtf16) {
  EXPECT_EQ(ResultText(HRESULT_FROM_WIN32(ERROR_BAD_COMMAND)), "0x80070016 (ERROR_BAD_COMMAND)");
  EXPECT_EQ(ResultText(E_FAIL), "0x80004005 (E_FAIL)");
  EXPECT_EQ(ResultText(static_cast<HRESULT>(0x8007ABCDu)), "0x8007ABCD (43981)");
  EXPECT_EQ(GuidText(KSCATEGORY_AUDIO), "{6994AD04-93EF-11D0-A3CC-00A0C9223196}");
  EXPECT_EQ(NamedGuid(KSNODETYPE_MUTE), GuidText(KSNODETYPE_MUTE) + " KSNODETYPE_MUTE");
  const char name[] = {'M', 0, 'i', 0, static_cast<char>(0xE9), 0, 0, 0, 'x', 0};
  EXPECT_EQ(Utf16Text(name, sizeof name), "Mi\xc3\xa9") << "ends at the first zero unit";
  EXPECT_EQ(Utf16Text(name, 3), "M") << "an odd byte at the end is no unit";
}

}  // namespace
}  // namespace kx7host
