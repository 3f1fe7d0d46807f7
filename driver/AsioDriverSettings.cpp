// The four user preferences: read by init, written by the destructor.
#include "driver/AsioDriver.h"
#include "panel/SettingsStore.h"

namespace {

constexpr char kSettingsKey[] = "SOFTWARE\\Norva\\KX-7 ASIO\\1.00";
constexpr char kBufferSizePreferred[] = "Buffer Size Preferred";
constexpr char kModelessControlPanel[] = "Modeless Control Panel";
constexpr char kAutoOpenControlPanel[] = "Auto-open Control Panel";
constexpr char kShowMetrics[] = "Show Metrics";

void LoadFlag(const SettingsStore& store, const char* name, std::atomic<bool>* flag) {
  if (auto value = store.Read(name)) flag->store(*value != 0);
}

}  // namespace

void CAsioDriver::LoadSettings() {
  const SettingsStore store(kSettingsKey);
  LoadFlag(store, kShowMetrics, &showMetrics);
  LoadFlag(store, kModelessControlPanel, &modelessPanel);
  LoadFlag(store, kAutoOpenControlPanel, &autoOpenPanel);
  if (auto value = store.Read(kBufferSizePreferred)) preferredBufferSize.store(*value);
}

void CAsioDriver::SaveSettings() {
  // "Show Metrics" is only ever put there from outside and is never written.
  const SettingsStore store(kSettingsKey);
  store.Write(kModelessControlPanel, modelessPanel.load() ? 1 : 0);
  store.Write(kAutoOpenControlPanel, autoOpenPanel.load() ? 1 : 0);
  store.Write(kBufferSizePreferred, preferredBufferSize.load());
}
