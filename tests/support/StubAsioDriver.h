// A driver that answers every IASIO call with success and nothing else, for tests of the host's
// own code: a test derives from it and answers the calls it is about.
#pragma once

#include "asio/asio.h"

namespace kx7test {

class StubAsioDriver : public IASIO {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  ASIOBool init(void*) override { return ASIOTrue; }
  void getDriverName(char* name) override { name[0] = '\0'; }
  int32_t getDriverVersion() override { return 1; }
  void getErrorMessage(char* text) override { text[0] = '\0'; }
  ASIOError start() override { return ASE_OK; }
  ASIOError stop() override { return ASE_OK; }
  ASIOError getChannels(int32_t*, int32_t*) override { return ASE_OK; }
  ASIOError getLatencies(int32_t*, int32_t*) override { return ASE_OK; }
  ASIOError getBufferSize(int32_t*, int32_t*, int32_t*, int32_t*) override { return ASE_OK; }
  ASIOError canSampleRate(ASIOSampleRate) override { return ASE_OK; }
  ASIOError getSampleRate(ASIOSampleRate*) override { return ASE_OK; }
  ASIOError setSampleRate(ASIOSampleRate) override { return ASE_OK; }
  ASIOError getClockSources(ASIOClockSource*, int32_t*) override { return ASE_OK; }
  ASIOError setClockSource(int32_t) override { return ASE_OK; }
  ASIOError getSamplePosition(ASIOSamples*, ASIOTimeStamp*) override { return ASE_OK; }
  ASIOError getChannelInfo(ASIOChannelInfo*) override { return ASE_OK; }
  ASIOError createBuffers(ASIOBufferInfo*, int32_t, int32_t, ASIOCallbacks*) override {
    return ASE_OK;
  }
  ASIOError disposeBuffers() override { return ASE_OK; }
  ASIOError controlPanel() override { return ASE_OK; }
  ASIOError future(int32_t, void*) override { return ASE_OK; }
  ASIOError outputReady() override { return ASE_NotPresent; }
};

}  // namespace kx7test
