#include "host/diagnose/Diagnose.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "host/diagnose/DiagnoseVerdict.h"
#include "host/diagnose/FilterSurvey.h"
#include "host/diagnose/KsText.h"
#include "host/diagnose/PinTrials.h"
#include "host/diagnose/RawStream.h"
#include "ks/KsLayer.h"

namespace kx7host {

namespace {

// How often the waiting thread reports progress and looks for an interrupt.
constexpr DWORD kProgressMs = 200;
// Beyond the run's own length, how long a stream may take before it is asked to end.
constexpr double kStreamGraceSeconds = 60.0;
// How long a stream asked to end may take to do so.
constexpr double kStopGraceSeconds = 30.0;

// The driver's picks, kept open for the whole run: destroying them closes every filter and pin.
struct DriverPicks {
  std::unique_ptr<CKsEnumFilters> captureEnum{KsNewEnumFilters()};
  std::unique_ptr<CKsEnumFilters> renderEnum{KsNewEnumFilters()};
  CKsAudFilter* capture = static_cast<CKsAudCapFilter*>(KsFindDeviceFilter(
      captureEnum.get(), FilterTypeCapture, KSCATEGORY_CAPTURE, g_szKx7HardwareId, TRUE));
  CKsAudFilter* render = static_cast<CKsAudRenFilter*>(KsFindDeviceFilter(
      renderEnum.get(), FilterTypeRender, KSCATEGORY_RENDER, g_szKx7HardwareId, TRUE));
};

std::string PathOf(const CKsFilter* filter) {
  return filter != nullptr ? std::string(filter->m_szFilterName) : std::string();
}

// Tries the formats, creates the pin the driver would and takes it to KSSTATE_PAUSE; null,
// with the reason in the run, when it cannot stream.
CKsAudPin* PreparePin(CKsAudFilter* filter, const char* direction, uint32_t rate, PinRun* run,
                      ULONG* frameBytes) {
  run->filterFound = filter != nullptr;
  if (filter == nullptr) {
    run->problem = std::string("the driver finds no ") + direction + " filter of the KX-7";
    return nullptr;
  }
  run->trials = TryFormats(filter, rate);
  run->busy = std::any_of(run->trials.begin(), run->trials.end(),
                          [](const FormatTrial& trial) { return PinIsBusy(trial.result); });
  CKsAudPin* pin = CreateStreamingPin(filter, rate, run->trials, &run->streamedFormat, frameBytes);
  if (pin == nullptr) {
    run->problem = run->busy ? "the pin is in use by another application"
                             : "the pin accepts neither of the driver's formats";
    run->streamedFormat.clear();
    return nullptr;
  }
  run->framing = ReadFraming(pin);
  for (KSSTATE state : {KSSTATE_ACQUIRE, KSSTATE_PAUSE}) {
    const HRESULT result = pin->SetState(state);
    run->states.push_back({static_cast<ULONG>(state), result});
    if (FAILED(result)) {
      run->problem =
          std::string("the pin would not go to ") + StateName(state) + ": " + ResultText(result);
      run->streamedFormat.clear();
      pin->ClosePin();
      return nullptr;
    }
  }
  return pin;
}

// Streams the pins that could be prepared and waits for the stream, showing progress. False
// when the stream thread would not end: it may still use the pins, which must then be left be.
bool StreamPins(CKsAudPin* capture, ULONG captureFrame, CKsAudPin* render, ULONG renderFrame,
                const DiagnosisPlan& options, CompletionClock& clock, DiagnoseMonitor& monitor,
                RateRun* run, bool* interrupted) {
  RawStream stream(clock);
  bool ready = true;
  if (capture != nullptr)
    ready = ready && stream.AddPin(capture, false, captureFrame, &run->capture);
  if (render != nullptr) ready = ready && stream.AddPin(render, true, renderFrame, &run->render);
  if (!ready || !stream.Start(run->rate, options.seconds)) {
    for (PinRun* pin : {&run->capture, &run->render}) {
      if (!pin->streamedFormat.empty()) pin->problem = "no memory, event or thread for the stream";
    }
    return true;
  }
  const auto started = std::chrono::steady_clock::now();
  double stopAskedAt = -1.0;
  bool ended = false;
  while (!(ended = stream.WaitEnd(kProgressMs))) {
    monitor.Streaming(run->rate, stream.SecondsStreamed(), options.seconds,
                      stream.Completions(false), stream.Completions(true));
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (stopAskedAt < 0.0 &&
        (monitor.Interrupted() || waited > options.seconds + kStreamGraceSeconds)) {
      *interrupted = *interrupted || monitor.Interrupted();
      stream.RequestStop();
      stopAskedAt = waited;
    }
    if (stopAskedAt >= 0.0 && waited > stopAskedAt + kStopGraceSeconds) break;
  }
  run->secondsRun = stream.SecondsStreamed();
  if (!ended) return false;
  // Closing cancels whatever a pin still holds, before the stream lets its packets go.
  if (capture != nullptr) capture->ClosePin();
  if (render != nullptr) render->ClosePin();
  return true;
}

// One rate: the trials, the stream and its figures. False when the stream would not end.
bool DiagnoseRate(const DriverPicks& picks, const DiagnosisPlan& options, CompletionClock& clock,
                  DiagnoseMonitor& monitor, RateRun* run, bool* interrupted) {
  ULONG captureFrame = 0, renderFrame = 0;
  CKsAudPin* capture =
      PreparePin(picks.capture, "capture", run->rate, &run->capture, &captureFrame);
  CKsAudPin* render = PreparePin(picks.render, "render", run->rate, &run->render, &renderFrame);
  if (capture != nullptr || render != nullptr) {
    if (!StreamPins(capture, captureFrame, render, renderFrame, options, clock, monitor, run,
                    interrupted)) {
      return false;
    }
  }
  for (PinRun* pin : {&run->capture, &run->render}) {
    pin->figures = SummarizeCompletions(pin->log, run->rate, pin->packetBytes);
  }
  const double period = run->render.figures.batchingMs > 0.0 ? run->render.figures.batchingMs
                                                             : run->capture.figures.batchingMs;
  run->phase = CapturePhase(run->capture.log, run->render.log, period);
  return true;
}

}  // namespace

Diagnosis Diagnose(const DiagnosisPlan& options, CompletionClock& clock, DiagnoseMonitor& monitor) {
  Diagnosis diagnosis;
  diagnosis.device = options.device;
  diagnosis.seconds = options.seconds;
  diagnosis.rates = options.rates;
  DriverPicks picks;
  diagnosis.filters = ListAudioFilters(PathOf(picks.capture), PathOf(picks.render));
  for (FilterListing& filter : diagnosis.filters) {
    if (!filter.kx7) {
      filter.why = PickReason(filter, nullptr);
      continue;
    }
    diagnosis.kx7Filters.push_back(ReadFilterDetails(filter.path));
    filter.why = PickReason(filter, &diagnosis.kx7Filters.back());
  }
  if (!diagnosis.kx7Filters.empty()) {
    for (uint32_t rate : options.rates) {
      if (diagnosis.interrupted || monitor.Interrupted()) {
        diagnosis.interrupted = true;
        break;
      }
      diagnosis.runs.emplace_back();
      diagnosis.runs.back().rate = rate;
      if (!DiagnoseRate(picks, options, clock, monitor, &diagnosis.runs.back(),
                        &diagnosis.interrupted)) {
        // A stream thread that will not end may still use the pins: they are left open.
        diagnosis.runs.back().capture.problem = diagnosis.runs.back().render.problem =
            "the stream did not end; the run was given up";
        diagnosis.interrupted = true;
        picks.captureEnum.release();
        picks.renderEnum.release();
        break;
      }
    }
  }
  diagnosis.verdict = JudgeDiagnosis(diagnosis);
  return diagnosis;
}

}  // namespace kx7host
