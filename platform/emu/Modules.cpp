// Modules: shared libraries through the dynamic loader, plus the modules the emulation provides
// itself ("Avrt.dll", "ksuser.dll"), whose exports their own files register in a table here.
#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "platform/emu/builtin_modules.h"
#include "platform/emu/errors.h"
#include "platform/emu/module.h"
#include "platform/emu/test_hooks.h"

namespace {

struct BuiltinModule {
  std::map<std::string, FARPROC> exports;
  bool missing = false;
};

struct Builtins {
  std::mutex lock;
  std::map<std::string, BuiltinModule> modules;  // by lower-case name with ".dll"
};

Builtins& State() {
  static Builtins* state = new Builtins;
  return *state;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return text;
}

// "Avrt", "avrt.dll" and "AVRT.DLL" all name the same built-in module.
std::string BuiltinName(const char* name) {
  std::string lower = Lower(name);
  if (lower.size() < 4 || lower.compare(lower.size() - 4, 4, ".dll") != 0) lower += ".dll";
  return lower;
}

BuiltinModule* FindBuiltin(const std::string& name) {
  auto found = State().modules.find(name);
  return found == State().modules.end() ? nullptr : &found->second;
}

bool IsBuiltin(HMODULE module) {
  for (auto& [name, builtin] : State().modules) {
    if (reinterpret_cast<HMODULE>(&builtin) == module) return true;
  }
  return false;
}

// A library name as Windows takes it: no extension means the platform's own.
std::string LibraryFileName(const char* name) {
  std::string file(name);
  const size_t slash = file.find_last_of('/');
  const size_t dot = file.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) file += ".so";
  return file;
}

// File names are not case-sensitive on Windows, and registration stores library paths lower-cased:
// finds the file whose path matches `path` letter for letter, ignoring case.
std::string CaseInsensitivePath(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string resolved;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    std::string match = part;
    if (DIR* folder = opendir(resolved.empty() ? "/" : resolved.c_str())) {
      while (dirent* entry = readdir(folder)) {
        if (strcasecmp(entry->d_name, part.c_str()) == 0) {
          match = entry->d_name;
          if (match == part) break;
        }
      }
      closedir(folder);
    }
    resolved += "/" + match;
    start = end + 1;
  }
  return resolved;
}

struct ModuleSearch {
  std::string wanted;
  std::string path;
};

int MatchLoadedModule(struct dl_phdr_info* info, size_t, void* data) {
  auto* search = static_cast<ModuleSearch*>(data);
  if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
  const char* base = std::strrchr(info->dlpi_name, '/');
  base = base != nullptr ? base + 1 : info->dlpi_name;
  if (strcasecmp(base, search->wanted.c_str()) != 0) return 0;
  search->path = info->dlpi_name;
  return 1;
}

// A loaded library's handle without changing its reference count.
HMODULE HandleOfLoaded(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (handle != nullptr) dlclose(handle);
  return static_cast<HMODULE>(handle);
}

std::string ProgramPath() {
  char path[4096] = {};
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

}  // namespace

namespace emu_test {

void SetModuleMissing(const char* moduleName, bool missing) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().modules[BuiltinName(moduleName)].missing = missing;
}

}  // namespace emu_test

extern "C" {

void PlatformRegisterBuiltinExport(LPCSTR moduleName, LPCSTR procName, FARPROC proc) {
  std::lock_guard<std::mutex> guard(State().lock);
  State().modules[BuiltinName(moduleName)].exports[procName] = proc;
}

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> guard(State().lock);
    if (BuiltinModule* builtin = FindBuiltin(BuiltinName(fileName))) {
      if (builtin->missing) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
      }
      return reinterpret_cast<HMODULE>(builtin);
    }
  }
  const std::string file = LibraryFileName(fileName);
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr && file.find('/') != std::string::npos) {
    handle = dlopen(CaseInsensitivePath(file).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (handle == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return static_cast<HMODULE>(handle);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) return FALSE;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    if (IsBuiltin(module)) return TRUE;
  }
  return dlclose(module) == 0 ? TRUE : FALSE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  if (module == nullptr || procName == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> guard(State().lock);
    for (auto& [name, builtin] : State().modules) {
      if (reinterpret_cast<HMODULE>(&builtin) != module) continue;
      auto found = builtin.exports.find(procName);
      if (found == builtin.exports.end()) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
      }
      return found->second;
    }
  }
  void* symbol = dlsym(module, procName);
  if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

HMODULE GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return static_cast<HMODULE>(dlopen(nullptr, RTLD_LAZY));
  ModuleSearch search{LibraryFileName(moduleName), {}};
  const char* slash = std::strrchr(search.wanted.c_str(), '/');
  if (slash != nullptr) search.wanted = slash + 1;
  if (dl_iterate_phdr(MatchLoadedModule, &search) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return HandleOfLoaded(search.path);
}

BOOL GetModuleHandleExA(DWORD flags, LPCSTR moduleNameOrAddress, HMODULE* module) {
  if (module == nullptr) return FALSE;
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    *module = GetModuleHandleA(moduleNameOrAddress);
    return *module != nullptr;
  }
  Dl_info info{};
  if (dladdr(moduleNameOrAddress, &info) == 0 || info.dli_fname == nullptr) {
    *module = nullptr;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  // Without UNCHANGED_REFCOUNT the caller holds a reference it lets go of with FreeLibrary.
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) == 0) {
    *module = static_cast<HMODULE>(dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD));
  } else {
    *module = HandleOfLoaded(info.dli_fname);
  }
  if (*module == nullptr) *module = GetModuleHandleA(nullptr);  // the program itself
  return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  std::string path;
  if (module == nullptr || module == GetModuleHandleA(nullptr)) {
    path = ProgramPath();
  } else {
    struct link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr ||
        map->l_name[0] == '\0') {
      path = ProgramPath();
    } else {
      path = map->l_name;
    }
  }
  if (fileName == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

BOOL DisableThreadLibraryCalls(HMODULE) { return TRUE; }

}  // extern "C"
