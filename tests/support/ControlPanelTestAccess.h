// The panel tests' way into a control panel's private state: the friend of CControlPanel,
// handing out references to the panel thread's records and to the settings the panel shows.
#pragma once

#include "panel/ControlPanel.h"

class CControlPanelTestAccess {
 public:
  explicit CControlPanelTestAccess(CControlPanel& panel)
      : panelOpenedByHost(panel.panelOpenedByHost),
        panelOpenTime(panel.panelOpenTime),
        panelStarting(panel.panelStarting),
        panelThread(panel.panelThread),
        settings(*panel.settings) {}

  decltype(CControlPanel::panelOpenedByHost)& panelOpenedByHost;
  decltype(CControlPanel::panelOpenTime)& panelOpenTime;
  decltype(CControlPanel::panelStarting)& panelStarting;
  decltype(CControlPanel::panelThread)& panelThread;
  // The settings the panel shows and changes (the driver's, for the driver's panel).
  DriverSettings& settings;
};

// The private state of `panel`, for example PanelInternals(panel).panelThread.
inline CControlPanelTestAccess PanelInternals(CControlPanel& panel) {
  return CControlPanelTestAccess(panel);
}
