// The four user preferences the driver keeps per user: read by init, written by the destructor,
// shown and changed by the control panel.
#pragma once

#include <atomic>
#include <cstdint>

struct DriverSettings {
  // Reads what is stored; a missing or unreadable value leaves its default.
  void Load();
  // Stores the preferences; "Show Metrics" is only ever put there from outside and never written.
  void Save() const;

  std::atomic<uint32_t> preferredBufferSize{128};
  std::atomic<bool> modelessPanel{false};
  std::atomic<bool> autoOpenPanel{false};
  std::atomic<bool> showMetrics{false};
};
