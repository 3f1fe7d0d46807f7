#include "host/session/DriverSession.h"

#include <algorithm>

#include "host/common/ExitStatus.h"
#include "host/common/JsonWriter.h"
#include "host/session/AsioText.h"
#include "platform/com.h"

namespace kx7host {

namespace {

std::string SizesText(const DriverSetup& s) {
  std::string text = std::to_string(s.minSize) + " to " + std::to_string(s.maxSize);
  if (s.granularity == -1) return text + " frames in powers of two";
  if (s.granularity > 0) return text + " frames in steps of " + std::to_string(s.granularity);
  return "only " + std::to_string(s.preferredSize) + " frames";
}

}  // namespace

DriverSession::~DriverSession() { Close(); }

bool DriverSession::BufferSizeAllowed(int32_t size, int32_t minSize, int32_t maxSize,
                                      int32_t preferredSize, int32_t granularity) {
  if (size <= 0) return false;
  if (granularity == 0) return size == preferredSize;
  if (size < minSize || size > maxSize) return false;
  if (granularity == -1) return (size & (size - 1)) == 0;
  if (granularity > 0) return (size - minSize) % granularity == 0;
  return size == preferredSize;
}

std::string DriverSession::ErrorMessage() {
  char text[256] = {};
  driver_->getErrorMessage(text);
  text[sizeof text - 1] = '\0';
  return text;
}

int DriverSession::Create(const std::string& driverName, std::ostream& err) {
  const DriverList list = ListAsioDrivers();
  std::string why;
  const AsioDriverEntry* entry = SelectDriver(list, driverName, &why);
  if (entry == nullptr) {
    err << "kx7-host: " << why << '\n';
    return kExitFailed;
  }
  setup_.keyName = entry->name;
  comInitialised_ = SUCCEEDED(CoInitialize(nullptr));
  if (FAILED(CreateAsioDriver(*entry, &driver_, &why))) {
    err << "kx7-host: " << why << '\n';
    return kExitFailed;
  }
  char name[256] = {};
  driver_->getDriverName(name);
  name[sizeof name - 1] = '\0';
  setup_.driverName = name;
  if (driver_->init(nullptr) != ASIOTrue) {
    err << "kx7-host: init of '" << entry->name << "' failed: " << ErrorMessage() << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

int DriverSession::Configure(int inputs, int outputs, int32_t bufferSize, double sampleRate,
                             std::ostream& err) {
  int32_t offeredInputs = 0, offeredOutputs = 0;
  ASIOError result = driver_->getChannels(&offeredInputs, &offeredOutputs);
  if (result != ASE_OK || offeredInputs < inputs || offeredOutputs < outputs) {
    err << "kx7-host: the driver offers " << offeredInputs << " inputs and " << offeredOutputs
        << " outputs (getChannels: " << AsioErrorText(result) << "); streaming needs " << inputs
        << " and " << outputs << '\n';
    return kExitFailed;
  }
  DriverSetup& s = setup_;
  result = driver_->getBufferSize(&s.minSize, &s.maxSize, &s.preferredSize, &s.granularity);
  if (result != ASE_OK) {
    err << "kx7-host: getBufferSize failed: " << AsioErrorText(result) << '\n';
    return kExitFailed;
  }
  sizeGiven_ = bufferSize != 0;
  s.bufferSize = sizeGiven_ ? bufferSize : s.preferredSize;
  if (!BufferSizeAllowed(s.bufferSize, s.minSize, s.maxSize, s.preferredSize, s.granularity)) {
    err << "kx7-host: the driver does not offer a buffer of " << s.bufferSize
        << " frames; it offers " << SizesText(s) << '\n';
    return sizeGiven_ ? kExitUsage : kExitFailed;
  }
  if (sampleRate > 0.0) {
    result = driver_->canSampleRate(sampleRate);
    if (result != ASE_OK) {
      err << "kx7-host: the driver cannot run at " << JsonNumber(sampleRate)
          << " Hz (canSampleRate: " << AsioErrorText(result) << ")\n";
      return kExitUsage;
    }
    result = driver_->setSampleRate(sampleRate);
    if (result != ASE_OK) {
      err << "kx7-host: setSampleRate(" << JsonNumber(sampleRate)
          << ") failed: " << AsioErrorText(result) << '\n';
      return kExitUsage;
    }
  }
  result = driver_->getSampleRate(&s.sampleRate);
  if (result != ASE_OK || !(s.sampleRate > 0.0)) {
    err << "kx7-host: getSampleRate failed: " << AsioErrorText(result) << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

int DriverSession::CreateBuffers(ASIOBufferInfo* infos, int32_t count, ASIOCallbacks* callbacks,
                                 std::ostream& err) {
  const ASIOError result = driver_->createBuffers(infos, count, setup_.bufferSize, callbacks);
  if (result != ASE_OK) {
    const int32_t inputs = static_cast<int32_t>(std::count_if(
        infos, infos + count, [](const ASIOBufferInfo& info) { return info.isInput; }));
    err << "kx7-host: createBuffers for " << inputs << " inputs and " << count - inputs
        << " outputs of " << setup_.bufferSize << " frames failed: " << AsioErrorText(result)
        << '\n';
    return sizeGiven_ && result == ASE_InvalidParameter ? kExitUsage : kExitFailed;
  }
  buffersCreated_ = true;
  for (int32_t i = 0; i < count; ++i) {
    const ASIOBufferInfo& info = infos[i];
    const char* what = info.isInput ? "input " : "output ";
    if (info.buffers[0] == nullptr || info.buffers[1] == nullptr) {
      err << "kx7-host: createBuffers gave no buffer for " << what << info.channelNum << '\n';
      return kExitFailed;
    }
    ASIOChannelInfo channel = {};
    channel.channel = info.channelNum;
    channel.isInput = info.isInput;
    const ASIOError infoResult = driver_->getChannelInfo(&channel);
    if (infoResult != ASE_OK || channel.type != ASIOSTInt32LSB) {
      const char* type = SampleTypeName(channel.type);
      err << "kx7-host: " << what << info.channelNum << " is of sample type "
          << (type != nullptr ? type : std::to_string(channel.type).c_str())
          << " (getChannelInfo: " << AsioErrorText(infoResult)
          << "); kx7-host streams ASIOSTInt32LSB only\n";
      return kExitFailed;
    }
  }
  const ASIOError latencies = driver_->getLatencies(&setup_.inputLatency, &setup_.outputLatency);
  if (latencies != ASE_OK) {
    err << "kx7-host: getLatencies failed: " << AsioErrorText(latencies) << '\n';
    return kExitFailed;
  }
  return kExitOk;
}

int DriverSession::Start(std::ostream& err) {
  const ASIOError result = driver_->start();
  if (result != ASE_OK) {
    const std::string message = ErrorMessage();
    err << "kx7-host: start failed: " << AsioErrorText(result)
        << (message.empty() ? "" : "; the driver says: " + message) << '\n';
    // A failed start can leave the device open until stop.
    driver_->stop();
    return kExitFailed;
  }
  started_ = true;
  return kExitOk;
}

void DriverSession::Stop() {
  if (!started_) return;
  driver_->stop();
  started_ = false;
}

void DriverSession::Close() {
  if (driver_ != nullptr) {
    Stop();
    if (buffersCreated_) driver_->disposeBuffers();
    buffersCreated_ = false;
    ReleaseAsioDriver(driver_);
    driver_ = nullptr;
  }
  if (comInitialised_) CoUninitialize();
  comInitialised_ = false;
}

int DriverSession::Open(const std::string& driverName, int inputs, int outputs, int32_t bufferSize,
                        double sampleRate, std::ostream& err) {
  const int status = Create(driverName, err);
  return status == kExitOk ? Configure(inputs, outputs, bufferSize, sampleRate, err) : status;
}

}  // namespace kx7host
