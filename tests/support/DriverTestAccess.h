// The tests' and benchmarks' one way into a driver object's private state, its settings and its
// control panel: the friend of CAsioDriver and CControlPanel, handing out references to the
// members they read or set.
#pragma once

#include "driver/AsioDriver.h"

class CAsioDriverTestAccess {
 public:
  explicit CAsioDriverTestAccess(CAsioDriver& driver)
      : activeInputs(driver.activeInputs),
        activeOutputs(driver.activeOutputs),
        asioTime(driver.asioTime),
        autoOpenPanel(driver.settings.autoOpenPanel),
        bufferSize(driver.bufferSize),
        callbacks(driver.callbacks),
        deviceEvents(driver.deviceEvents),
        dropOutCount(driver.dropOutCount),
        inputBuffers(driver.inputBuffers),
        inputChannels(driver.inputChannels),
        latencyCount(driver.latencyCount),
        modelessPanel(driver.settings.modelessPanel),
        outputBuffers(driver.outputBuffers),
        outputFloatBuffers(driver.outputFloatBuffers),
        panelLock(driver.panel.panelLock),
        panelOpenedByHost(driver.panel.panelOpenedByHost),
        panelOpenTime(driver.panel.panelOpenTime),
        panelStarting(driver.panel.panelStarting),
        panelThread(driver.panel.panelThread),
        panelWindow(driver.panel.panelWindow),
        preferredBufferSize(driver.settings.preferredBufferSize),
        running(driver.running),
        samplePosition(driver.samplePosition),
        sampleRate(driver.sampleRate),
        showMetrics(driver.settings.showMetrics),
        streamThreadId(driver.streamThreadId),
        systemTime(driver.systemTime),
        timeInfoMode(driver.timeInfoMode),
        transportOwner(driver.transportOwner),
        owner(driver) {}

  void OpenControlPanel(bool noWait) { owner.OpenControlPanel(noWait); }
  // Whether a run exists, and its render pin; read only while no host call runs.
  bool HasStream() const { return owner.stream != nullptr; }
  CKsAudPin* RenderPin() const { return owner.stream ? owner.stream->RenderPin() : nullptr; }
  void CloseControlPanel() { owner.CloseControlPanel(); }
  static void GetProductVersionText(char* text, size_t size) {
    CControlPanel::GetProductVersionText(text, size);
  }

  decltype(CAsioDriver::activeInputs)& activeInputs;
  decltype(CAsioDriver::activeOutputs)& activeOutputs;
  decltype(CAsioDriver::asioTime)& asioTime;
  decltype(DriverSettings::autoOpenPanel)& autoOpenPanel;
  decltype(CAsioDriver::bufferSize)& bufferSize;
  decltype(CAsioDriver::callbacks)& callbacks;
  decltype(CAsioDriver::deviceEvents)& deviceEvents;
  decltype(CAsioDriver::dropOutCount)& dropOutCount;
  decltype(CAsioDriver::inputBuffers)& inputBuffers;
  decltype(CAsioDriver::inputChannels)& inputChannels;
  decltype(CAsioDriver::latencyCount)& latencyCount;
  decltype(DriverSettings::modelessPanel)& modelessPanel;
  decltype(CAsioDriver::outputBuffers)& outputBuffers;
  decltype(CAsioDriver::outputFloatBuffers)& outputFloatBuffers;
  decltype(CControlPanel::panelLock)& panelLock;
  decltype(CControlPanel::panelOpenedByHost)& panelOpenedByHost;
  decltype(CControlPanel::panelOpenTime)& panelOpenTime;
  decltype(CControlPanel::panelStarting)& panelStarting;
  decltype(CControlPanel::panelThread)& panelThread;
  decltype(CControlPanel::panelWindow)& panelWindow;
  decltype(DriverSettings::preferredBufferSize)& preferredBufferSize;
  decltype(CAsioDriver::running)& running;
  decltype(CAsioDriver::samplePosition)& samplePosition;
  decltype(CAsioDriver::sampleRate)& sampleRate;
  decltype(DriverSettings::showMetrics)& showMetrics;
  decltype(CAsioDriver::streamThreadId)& streamThreadId;
  decltype(CAsioDriver::systemTime)& systemTime;
  decltype(CAsioDriver::timeInfoMode)& timeInfoMode;
  decltype(CAsioDriver::transportOwner)& transportOwner;

 private:
  CAsioDriver& owner;
};

// The private state of `driver`, for example Internals(*driver).dropOutCount.
inline CAsioDriverTestAccess Internals(CAsioDriver& driver) {
  return CAsioDriverTestAccess(driver);
}
