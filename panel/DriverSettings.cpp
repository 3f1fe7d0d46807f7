#include "panel/DriverSettings.h"

#include "panel/SettingsStore.h"
#include "product/Kx7Facts.h"

namespace {

void LoadFlag(const SettingsStore& store, const char* name, std::atomic<bool>* flag) {
  if (auto value = store.Read(name)) flag->store(*value != 0);
}

}  // namespace

void DriverSettings::Load() {
  loaded.store(true);
  const SettingsStore store(kx7::kSettingsKey);
  LoadFlag(store, kx7::kShowMetricsValue, &showMetrics);
  LoadFlag(store, kx7::kModelessControlPanelValue, &modelessPanel);
  LoadFlag(store, kx7::kAutoOpenControlPanelValue, &autoOpenPanel);
  if (auto value = store.Read(kx7::kBufferSizePreferredValue)) preferredBufferSize.store(*value);
}

void DriverSettings::SaveIfLoaded() const {
  if (!loaded.load()) return;
  const SettingsStore store(kx7::kSettingsKey);
  store.Write(kx7::kModelessControlPanelValue, modelessPanel.load() ? 1 : 0);
  store.Write(kx7::kAutoOpenControlPanelValue, autoOpenPanel.load() ? 1 : 0);
  store.Write(kx7::kBufferSizePreferredValue, preferredBufferSize.load());
}
