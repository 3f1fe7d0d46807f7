#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "product/ProductInfo.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kx7test {

void DeleteRegistryTree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  std::vector<std::string> children;
  char name[260];
  for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
    children.emplace_back(name);
  }
  RegCloseKey(key);
  for (const std::string& child : children) DeleteRegistryTree(root, path + "\\" + child);
  RegDeleteKeyA(root, path.c_str());
}

std::string PathNextToExecutable(const std::string& fileName) {
  char path[1024] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string folder(path);
  const size_t slash = folder.find_last_of("\\/");
  folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
#ifdef _WIN32
  return folder + "\\" + fileName;
#else
  return folder + "/" + fileName;
#endif
}

std::string DriverLibraryFileName() {
#ifdef _WIN32
  return KX7_FILE_NAME;
#else
  return KX7_MODULE_BASE_NAME ".so";
#endif
}

namespace {

#ifndef _WIN32
// Each test process gets a registry of its own: the emulation keeps it under the user's
// configuration folder, which is pointed at a fresh temporary folder before any test runs.
struct IsolatedConfigurationFolder {
  IsolatedConfigurationFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/kx7-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) {
      folder = buffer.data();
      setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
    }
  }
  ~IsolatedConfigurationFolder() {
    std::error_code ignored;
    if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
  }
  std::string folder;
};

IsolatedConfigurationFolder isolatedConfigurationFolder;
#endif

}  // namespace

}  // namespace kx7test
