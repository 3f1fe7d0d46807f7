// A stream session bound to the driver that calls it back: activates the session, gives the
// driver its buffer records and callbacks, and lets the driver go before the session goes, so
// that no callback can reach a session that is gone.
#pragma once

#include <ostream>

#include "host/session/DriverSession.h"
#include "host/stream/StreamSession.h"

namespace kx7host {

class DriverStream {
 public:
  DriverStream(DriverSession& driver, StreamSession& session)
      : driver_(driver), session_(session) {}
  ~DriverStream() { Close(); }
  DriverStream(const DriverStream&) = delete;
  DriverStream& operator=(const DriverStream&) = delete;

  // kExitOk, or the exit status after writing the reason to `err`.
  int CreateBuffers(std::ostream& err) {
    session_.Activate(driver_.Driver());
    return driver_.CreateBuffers(session_.BufferInfos(), session_.BufferInfoCount(),
                                 session_.Callbacks(), err);
  }
  // Stops and releases the driver, then stops the callbacks serving the session.
  void Close() {
    driver_.Close();
    session_.Deactivate();
  }

 private:
  DriverSession& driver_;
  StreamSession& session_;
};

}  // namespace kx7host
