// COM basics: per-thread apartments, class identifier text and in-process creation through
// HKEY_CLASSES_ROOT\CLSID\{...}\InprocServer32, as Windows does it.
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/emu/com.h"
#include "platform/emu/module.h"
#include "platform/emu/registry.h"
#include "platform/emu/text.h"

extern "C" {
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
}

namespace {

thread_local int apartmentCount = 0;
thread_local DWORD apartmentModel = 0;

std::string ClassIdText(REFCLSID clsid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                clsid.Data1, clsid.Data2, clsid.Data3, clsid.Data4[0], clsid.Data4[1],
                clsid.Data4[2], clsid.Data4[3], clsid.Data4[4], clsid.Data4[5], clsid.Data4[6],
                clsid.Data4[7]);
  return text;
}

}  // namespace

extern "C" {

HRESULT CoInitializeEx(LPVOID, DWORD coInit) {
  const DWORD model = coInit & COINIT_APARTMENTTHREADED;
  if (apartmentCount > 0 && apartmentModel != model) return RPC_E_CHANGED_MODE;
  apartmentModel = model;
  return apartmentCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

void CoUninitialize(void) {
  if (apartmentCount > 0) --apartmentCount;
}

LPVOID CoTaskMemAlloc(SIZE_T size) { return std::malloc(size != 0 ? size : 1); }
void CoTaskMemFree(LPVOID memory) { std::free(memory); }

int StringFromGUID2(REFGUID guid, LPOLESTR text, int size) {
  const std::string narrow = ClassIdText(guid);
  if (text == nullptr || size < static_cast<int>(narrow.size() + 1)) return 0;
  for (size_t i = 0; i <= narrow.size(); ++i) text[i] = static_cast<OLECHAR>(narrow.c_str()[i]);
  return static_cast<int>(narrow.size() + 1);
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (text == nullptr) return E_INVALIDARG;
  *text = static_cast<LPOLESTR>(CoTaskMemAlloc(39 * sizeof(OLECHAR)));
  if (*text == nullptr) return E_OUTOFMEMORY;
  StringFromGUID2(clsid, *text, 39);
  return S_OK;
}

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
  char narrow[40] = {};
  for (int i = 0; i < 39 && text[i] != 0; ++i) narrow[i] = static_cast<char>(text[i]);
  unsigned data1 = 0, data2 = 0, data3 = 0, b[8] = {};
  char close = 0;
  if (std::sscanf(narrow, "{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x%c", &data1, &data2, &data3, &b[0],
                  &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7], &close) != 12 ||
      close != '}') {
    return static_cast<HRESULT>(0x800401F3L);  // CO_E_CLASSSTRING
  }
  clsid->Data1 = data1;
  clsid->Data2 = static_cast<uint16_t>(data2);
  clsid->Data3 = static_cast<uint16_t>(data3);
  for (int i = 0; i < 8; ++i) clsid->Data4[i] = static_cast<uint8_t>(b[i]);
  return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD, REFIID riid, LPVOID* object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (apartmentCount == 0) return CO_E_NOTINITIALIZED;
  const std::string serverKey = "CLSID\\" + ClassIdText(clsid) + "\\InprocServer32";
  HKEY key = nullptr;
  if (RegOpenKeyA(HKEY_CLASSES_ROOT, serverKey.c_str(), &key) != ERROR_SUCCESS) {
    return REGDB_E_CLASSNOTREG;
  }
  char path[1024] = {};
  DWORD size = sizeof path - 1;
  const LSTATUS status =
      RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || path[0] == '\0') return REGDB_E_CLASSNOTREG;

  HMODULE library = LoadLibraryA(path);  // stays loaded, as COM keeps in-process servers
  if (library == nullptr) return CO_E_DLLNOTFOUND;
  auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
      reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
  if (getClassObject == nullptr) return CO_E_ERRORINDLL;
  void* factoryObject = nullptr;
  HRESULT hr = getClassObject(clsid, IID_IClassFactory, &factoryObject);
  if (FAILED(hr)) return hr;
  auto* factory = static_cast<IClassFactory*>(factoryObject);
  hr = factory->CreateInstance(outer, riid, object);
  factory->Release();
  return hr;
}

}  // extern "C"
