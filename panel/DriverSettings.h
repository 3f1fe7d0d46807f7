// The four user preferences the driver keeps per user: read by init (or by a panel opened before
// init), written back by the destructor only when they were read, shown and changed by the panel.
#pragma once

#include <atomic>
#include <cstdint>

struct DriverSettings {
  // Reads what is stored; a missing or unreadable value leaves its default.
  void Load();
  // Stores the preferences once they were loaded; "Show Metrics" is only ever put there from
  // outside and never written.
  void SaveIfLoaded() const;
  bool Loaded() const { return loaded.load(); }

  std::atomic<uint32_t> preferredBufferSize{128};
  std::atomic<bool> modelessPanel{false};
  std::atomic<bool> autoOpenPanel{false};
  std::atomic<bool> showMetrics{false};

 private:
  std::atomic<bool> loaded{false};
};
