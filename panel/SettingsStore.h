// A per-user store of named unsigned 32-bit values under one registry path (HKEY_CURRENT_USER).
#pragma once

#include <optional>

#include "platform/windows.h"

class SettingsStore {
 public:
  explicit SettingsStore(const char* keyPath) : path(keyPath) {}

  // The stored number, or nothing when the key or value is missing, not a REG_DWORD, or unreadable.
  std::optional<DWORD> Read(const char* valueName) const;
  // Creates the key (and its parents) when needed and stores the number; failures are ignored.
  void Write(const char* valueName, DWORD value) const;

 private:
  const char* path;
};
