// register / unregister: the driver library registers itself through its own entry point.
#include <filesystem>

#include "host/session/AsioText.h"
#include "host/session/SessionCommands.h"
#include "platform/com.h"
#include "platform/windows.h"

namespace kx7host {

namespace {

typedef HRESULT(STDMETHODCALLTYPE* RegistrationEntryPoint)();

// An existing file is loaded by its full path, so that the path the library records for itself
// does not depend on the current folder; anything else goes to the loader's own search.
std::string PathToLoad(const std::string& library) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(library, error)) return library;
  const std::filesystem::path full = std::filesystem::absolute(library, error);
  return error ? library : full.lexically_normal().string();
}

}  // namespace

int Run(const RegisterOptions& options, std::ostream& out, std::ostream& err) {
  const std::string& library = options.library;
  const bool registering = options.registering;
  const char* entryName = registering ? "DllRegisterServer" : "DllUnregisterServer";
  const std::string path = PathToLoad(library);
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    const DWORD error = GetLastError();  // read before any output can change it
    err << "kx7-host: cannot load " << path << " (error " << error << ")\n";
    return kExitFailed;
  }
  auto entry = reinterpret_cast<RegistrationEntryPoint>(
      reinterpret_cast<void*>(GetProcAddress(module, entryName)));
  if (entry == nullptr) {
    err << "kx7-host: " << path << " was loaded, but " << entryName << " was not found in it\n";
    FreeLibrary(module);
    return kExitFailed;
  }
  const HRESULT comResult = CoInitialize(nullptr);
  const HRESULT hr = entry();
  if (SUCCEEDED(comResult)) CoUninitialize();
  FreeLibrary(module);
  if (hr != S_OK) {
    err << "kx7-host: " << entryName << " in " << path << " failed: " << HresultText(hr) << '\n';
    return kExitFailed;
  }
  out << entryName << " in " << path << " succeeded.\n";
  return kExitOk;
}

}  // namespace kx7host
