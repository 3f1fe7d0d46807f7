#include "ks/KsEnumFilters.h"

#include <cstring>
#include <new>

#include "ks/KsAudFilter.h"
#include "ks/KsReply.h"
#include "ks/KsTrace.h"
#include "platform/device_access.h"

namespace {

constexpr DWORD kDetailBufferSize = 528;

// The interface's "FriendlyName", or an empty text when it has none.
void ReadFriendlyName(HDEVINFO hDevInfo, SP_DEVICE_INTERFACE_DATA* pInterfaceData,
                      CHAR (&szFriendlyName)[MAX_PATH]) {
  std::memset(szFriendlyName, 0, sizeof szFriendlyName);
  HKEY hKey = SetupDiOpenDeviceInterfaceRegKey(hDevInfo, pInterfaceData, 0, KEY_READ);
  if (hKey == nullptr || hKey == reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE)) return;
  DWORD dwType = 0;
  DWORD cbName = sizeof szFriendlyName;
  const LSTATUS status = RegQueryValueExA(hKey, "FriendlyName", nullptr, &dwType,
                                          reinterpret_cast<LPBYTE>(szFriendlyName), &cbName);
  RegCloseKey(hKey);
  // A registry string need not end in a terminator, and only text is a name.
  if (status != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) {
    std::memset(szFriendlyName, 0, sizeof szFriendlyName);
  }
  szFriendlyName[MAX_PATH - 1] = '\0';
}

CKsFilter* NewFilter(ULONG eFilterType, LPCSTR pszPath, HRESULT* phr) {
  switch (eFilterType) {
    case FilterTypeRender:
      return new (std::nothrow) CKsAudRenFilter(pszPath, phr);
    case FilterTypeCapture:
      return new (std::nothrow) CKsAudCapFilter(pszPath, phr);
    default:
      return new (std::nothrow) CKsFilter(pszPath, phr);
  }
}

}  // namespace

CKsEnumFilters::CKsEnumFilters(HRESULT* phr) {
  KS_TRACE_ENTER("CKsEnumFilters::CKsEnumFilters");
  if (phr != nullptr) *phr = S_OK;
  KS_TRACE_LEAVE_HR("CKsEnumFilters::CKsEnumFilters", S_OK);
}

CKsEnumFilters::~CKsEnumFilters() {
  KS_TRACE_ENTER("CKsEnumFilters::~CKsEnumFilters");
  const HRESULT hr = DestroyLists();
  KS_TRACE_LEAVE_HR("CKsEnumFilters::~CKsEnumFilters", hr);
}

HRESULT CKsEnumFilters::DestroyLists() {
  KS_TRACE_ENTER("CKsEnumFilters::DestroyLists");
  while (CKsFilter* pFilter = m_Filters.RemoveHead()) delete pFilter;
  KS_TRACE_LEAVE_HR("CKsEnumFilters::DestroyLists", S_OK);
  return S_OK;
}

HRESULT CKsEnumFilters::EnumFilters(ULONG eFilterType, const GUID* aguidCategories,
                                    ULONG cguidCategories, BOOL fNeedPins, BOOL fNeedNodes,
                                    BOOL fInstantiate) {
  KS_TRACE_ENTER("CKsEnumFilters::EnumFilters");
  HRESULT hr = DestroyLists();
  if (FAILED(hr)) {
    KS_TRACE_LEAVE_HR("CKsEnumFilters::EnumFilters", hr);
    return hr;
  }
  if (aguidCategories == nullptr || cguidCategories == 0 ||
      IsEqualGUID(aguidCategories[0], GUID_NULL)) {
    KS_TRACE_LEAVE_HR("CKsEnumFilters::EnumFilters", E_FAIL);
    return E_FAIL;
  }

  HDEVINFO hDevInfo = SetupDiGetClassDevsA(&aguidCategories[0], nullptr, nullptr,
                                           DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (hDevInfo == nullptr || hDevInfo == INVALID_HANDLE_VALUE) {
    KsTrace(KS_TRACE_WARNING, "No devices found");
    KS_TRACE_LEAVE_HR("CKsEnumFilters::EnumFilters", E_FAIL);
    return E_FAIL;
  }

  bool fOutOfMemory = false;
  SP_DEVICE_INTERFACE_DATA interfaceData;
  std::memset(&interfaceData, 0, sizeof interfaceData);
  interfaceData.cbSize = sizeof interfaceData;
  for (DWORD dwIndex = 0;
       SetupDiEnumDeviceInterfaces(hDevInfo, nullptr, &aguidCategories[0], dwIndex, &interfaceData);
       ++dwIndex, interfaceData.cbSize = sizeof interfaceData) {
    CHAR szFriendlyName[MAX_PATH];
    ReadFriendlyName(hDevInfo, &interfaceData, szFriendlyName);

    BYTE* pbDetail = new (std::nothrow) BYTE[kDetailBufferSize]();
    if (pbDetail == nullptr) {
      KsTrace(KS_TRACE_WARNING, "Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure");
      fOutOfMemory = true;
      break;
    }
    auto* pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(pbDetail);
    pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SP_DEVINFO_DATA devInfoData;
    std::memset(&devInfoData, 0, sizeof devInfoData);
    devInfoData.cbSize = sizeof devInfoData;
    if (!SetupDiGetDeviceInterfaceDetailA(hDevInfo, &interfaceData, pDetail, kDetailBufferSize,
                                          nullptr, &devInfoData)) {
      delete[] pbDetail;
      continue;
    }
    pbDetail[kDetailBufferSize - 1] = 0;

    bool fAliasesGood = true;
    for (ULONG i = 1; i < cguidCategories && fAliasesGood; ++i) {
      SP_DEVICE_INTERFACE_DATA aliasData;
      std::memset(&aliasData, 0, sizeof aliasData);
      aliasData.cbSize = sizeof aliasData;
      if (!SetupDiGetDeviceInterfaceAlias(hDevInfo, &interfaceData, &aguidCategories[i],
                                          &aliasData)) {
        KsTrace(KS_TRACE_INFO, "Failed to get requested DeviceInterfaceAlias");
        fAliasesGood = false;
      } else if (aliasData.Flags == 0 || (aliasData.Flags & SPINT_REMOVED) != 0) {
        KsTrace(KS_TRACE_INFO, "DeviceInterfaceAlias disabled.");
        fAliasesGood = false;
      }
    }
    if (!fAliasesGood) {
      delete[] pbDetail;
      continue;
    }

    HRESULT hrFilter = S_OK;
    CKsFilter* pFilter = NewFilter(eFilterType, pDetail->DevicePath, &hrFilter);
    if (pFilter == nullptr) {
      hrFilter = E_OUTOFMEMORY;
    } else {
      std::memcpy(pFilter->m_szFriendlyName, szFriendlyName, sizeof szFriendlyName);
      pFilter->m_szFriendlyName[MAX_PATH - 1] = '\0';
    }
    if (SUCCEEDED(hrFilter) && (fNeedPins || fNeedNodes || fInstantiate)) {
      hrFilter = pFilter->Instantiate();
      if (SUCCEEDED(hrFilter) && fNeedNodes) hrFilter = pFilter->EnumerateNodes();
      if (SUCCEEDED(hrFilter) && fNeedPins) hrFilter = pFilter->EnumeratePins();
    }
    if (SUCCEEDED(hrFilter) && !m_Filters.AddTail(pFilter)) hrFilter = E_OUTOFMEMORY;
    if (FAILED(hrFilter)) {
      delete pFilter;
      KsTrace(KS_TRACE_ERROR, "Failed to create filter for %s", pDetail->DevicePath);
    }
    delete[] pbDetail;
  }

  SetupDiDestroyDeviceInfoList(hDevInfo);
  if (fOutOfMemory) {
    hr = E_OUTOFMEMORY;
  } else {
    hr = m_Filters.IsEmpty() ? E_FAIL : S_OK;
  }
  KS_TRACE_LEAVE_HR("CKsEnumFilters::EnumFilters", hr);
  return hr;
}
