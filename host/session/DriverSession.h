// One driver, driven as a host drives it for streaming: found and created, initialised, set to a
// buffer size and rate, given buffers for the inputs and outputs streamed, started and stopped. The
// destructor stops, disposes and releases whatever is still held, so every exit path lets the
// driver go.
#pragma once

#include <ostream>
#include <string>

#include "asio/asio.h"
#include "host/session/DriverDiscovery.h"

namespace kx7host {

// What the session set the driver to, and what the driver answered on the way.
struct DriverSetup {
  std::string keyName;     // under SOFTWARE\ASIO
  std::string driverName;  // getDriverName
  int32_t bufferSize = 0;
  double sampleRate = 0.0;
  int32_t inputLatency = 0;  // getLatencies after createBuffers
  int32_t outputLatency = 0;
  int32_t minSize = 0, maxSize = 0, preferredSize = 0, granularity = 0;
};

class DriverSession {
 public:
  DriverSession() = default;
  ~DriverSession();
  DriverSession(const DriverSession&) = delete;
  DriverSession& operator=(const DriverSession&) = delete;

  // Each step returns kExitOk, or the exit status after writing the reason to `err`.

  // Selects the driver (by key name, else the KX-7), creates it through COM and calls init.
  int Create(const std::string& driverName, std::ostream& err);
  // Checks that the driver has the channels to stream, checks the buffer size against
  // getBufferSize (0 takes the preferred size) and sets the rate (0 keeps the current one). A
  // size or rate the driver refuses is a usage error.
  int Configure(int inputs, int outputs, int32_t bufferSize, double sampleRate, std::ostream& err);
  // Create, then Configure: the driver ready for its buffers.
  int Open(const std::string& driverName, int inputs, int outputs, int32_t bufferSize,
           double sampleRate, std::ostream& err);
  // createBuffers for the channels `infos` name, with the host's callbacks (which must serve
  // until Close); then checks the sample types and reads the latencies.
  int CreateBuffers(ASIOBufferInfo* infos, int32_t count, ASIOCallbacks* callbacks,
                    std::ostream& err);
  int Start(std::ostream& err);
  void Stop();
  // Stops, disposes the buffers and releases the driver.
  void Close();

  const DriverSetup& Setup() const { return setup_; }
  // The driver as created; null before Create and after Close.
  IASIO* Driver() const { return driver_; }

  // Whether a buffer size is one that getBufferSize's answer allows.
  static bool BufferSizeAllowed(int32_t size, int32_t minSize, int32_t maxSize,
                                int32_t preferredSize, int32_t granularity);

 private:
  std::string ErrorMessage();

  IASIO* driver_ = nullptr;
  bool comInitialised_ = false;
  bool buffersCreated_ = false;
  bool started_ = false;
  bool sizeGiven_ = false;
  DriverSetup setup_;
};

}  // namespace kx7host
