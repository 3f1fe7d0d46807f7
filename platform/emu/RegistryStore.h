// The registry's hives as trees of keys and values, kept in files under the user's
// configuration folder. Every change is written to a temporary file and renamed over the old
// one, so a crash never leaves a torn file; a change made by another process is read back.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/emu/types.h"

namespace emu {

struct RegistryValue {
  std::string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

struct RegistryKey {
  std::string name;
  std::vector<std::unique_ptr<RegistryKey>> children;  // in creation order
  std::vector<RegistryValue> values;

  RegistryKey* Child(const std::string& childName) const;
  RegistryValue* Value(const std::string& valueName);
};

// Names compare without regard to ASCII case, as Windows does.
bool SameName(const std::string& a, const std::string& b);
// Splits "A\B\C" into its parts; empty parts are dropped.
std::vector<std::string> SplitPath(const std::string& path);

class RegistryHive {
 public:
  // `standardKeys` exist in every hive of that kind on Windows (HKLM\SOFTWARE, HKCR\CLSID ...).
  RegistryHive(std::string hiveFile, std::vector<std::string> standard)
      : fileName(std::move(hiveFile)), standardKeys(std::move(standard)) {}
  // The root, read again from disk when the file changed since it was last read or written.
  RegistryKey& Root();
  // The key at `path` below the root, or null.
  RegistryKey* Find(const std::vector<std::string>& path);
  // Writes the hive out after a change.
  void Save();

 private:
  std::string FilePath() const;
  void Load(const std::string& path);

  std::string fileName;
  std::vector<std::string> standardKeys;
  std::string loadedPath;
  long long loadedStamp = -1;
  RegistryKey root;
};

std::mutex& RegistryLock();

// Held around every registry call: the process's lock, and an advisory lock on a file in the
// registry folder, so that no other process's read-modify-write interleaves with this one.
class RegistryGuard {
 public:
  RegistryGuard();
  ~RegistryGuard();
  RegistryGuard(const RegistryGuard&) = delete;
  RegistryGuard& operator=(const RegistryGuard&) = delete;

 private:
  std::lock_guard<std::mutex> lock_;
  int file_ = -1;
};
// The hive of a predefined root key, or null.
RegistryHive* HiveOf(HKEY root);

}  // namespace emu
