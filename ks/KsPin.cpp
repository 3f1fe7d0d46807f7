#include "ks/KsPin.h"

#include <atomic>
#include <cstring>

#include "ks/KsFilter.h"
#include "ks/KsReply.h"
#include "ks/KsTrace.h"
#include "platform/device_access.h"

const char* const g_apszKsStateNames[4] = {"KSSTATE_STOP", "KSSTATE_ACQUIRE", "KSSTATE_PAUSE",
                                           "KSSTATE_RUN"};

namespace {

// "ksuser.dll" and its KsCreatePin, resolved at the first pin creation that needs them and kept
// for the life of the process (the module is never released).
std::atomic<HMODULE> s_hKsUser{nullptr};
std::atomic<PFNKSCREATEPIN> s_pfnKsCreatePin{nullptr};

PFNKSCREATEPIN ResolveKsCreatePin() {
  PFNKSCREATEPIN pfn = s_pfnKsCreatePin.load(std::memory_order_acquire);
  if (pfn != nullptr) return pfn;
  HMODULE hModule = s_hKsUser.load(std::memory_order_acquire);
  if (hModule == nullptr) {
    hModule = LoadLibraryA("ksuser.dll");
    if (hModule == nullptr) return nullptr;  // tried again at the next creation
    s_hKsUser.store(hModule, std::memory_order_release);
  }
  const FARPROC proc = GetProcAddress(hModule, "KsCreatePin");
  if (proc == nullptr) return nullptr;
  pfn = reinterpret_cast<PFNKSCREATEPIN>(reinterpret_cast<void (*)()>(proc));
  s_pfnKsCreatePin.store(pfn, std::memory_order_release);
  return pfn;
}

// Sends one stream request (IOCTL_KS_WRITE_STREAM or IOCTL_KS_READ_STREAM) without waiting:
// S_OK when the pin took it, done or pending. A refusal is E_FAIL, traced with the caller's
// message, a format whose one conversion takes the error number.
KS_TRACE_FORMAT(5, 0)
HRESULT QueueStreamRequest(HANDLE hPin, DWORD dwIoctl, PKSSTREAM_HEADER pKSStreamHeader,
                           LPOVERLAPPED pOverlapped, const char* pszFailure) {
  if (pKSStreamHeader == nullptr || pOverlapped == nullptr) return E_POINTER;
  DWORD cbReturned = 0;
  if (DeviceIoControl(hPin, dwIoctl, nullptr, 0, pKSStreamHeader, pKSStreamHeader->Size,
                      &cbReturned, pOverlapped)) {
    return S_OK;
  }
  const DWORD dwError = GetLastError();
  if (dwError == ERROR_IO_PENDING) return S_OK;
  KsTrace(KS_TRACE_ERROR, pszFailure, static_cast<unsigned>(dwError));
  return E_FAIL;
}

// Reads one multiple-item pin property into *ppReply. The item count covers only the items
// that lie wholly inside the reply; false when the read failed or not every item fitted.
bool ReadPinItems(CKsFilter* pFilter, ULONG nPinId, ULONG nProperty, ULONG cbItem,
                  PKSMULTIPLE_ITEM* ppReply, ULONG* pcItems) {
  ULONG cbReply = 0;
  if (FAILED(pFilter->GetPinPropertyMulti(nPinId, KSPROPSETID_Pin, nProperty, ppReply, &cbReply))) {
    return false;
  }
  if (*ppReply == nullptr) return true;  // an empty reply: no items
  KSMULTIPLE_ITEM header = {};
  if (cbReply >= sizeof header) std::memcpy(&header, *ppReply, sizeof header);
  *pcItems = cbItem != 0 ? KsFittingItems(*ppReply, cbReply, cbItem)
                         : KsFittingDataRanges(*ppReply, cbReply);
  return *pcItems == header.Count;
}

BYTE* FirstItem(PKSMULTIPLE_ITEM pReply) {
  return reinterpret_cast<BYTE*>(pReply) + sizeof(KSMULTIPLE_ITEM);
}

}  // namespace

CKsPin::CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr)
    : CKsIrpTarget(INVALID_HANDLE_VALUE),
      m_pksPinCreate(nullptr),
      m_cbPinCreateSize(0),
      m_nId(nId),
      m_pFilter(pFilter),
      m_guidCategory(),
      m_Descriptor(),
      m_eType(PinTypeUnknown),
      m_ksState(KSSTATE_STOP),
      m_szName(),
      m_fLooped(FALSE),
      m_pLinkPin(nullptr) {
  KS_TRACE_ENTER("CKsPin::CKsPin");
  const HRESULT hr = Init();
  if (phr != nullptr) *phr = hr;
  KS_TRACE_LEAVE_HR("CKsPin::CKsPin", hr);
}

CKsPin::~CKsPin() {
  KS_TRACE_ENTER("CKsPin::~CKsPin");
  ClosePin();
  KsFreeReply(m_pksPinCreate);
  KsFreeReply(m_Descriptor.pmiDataRanges);
  KsFreeReply(m_Descriptor.pmiInterfaces);
  KsFreeReply(m_Descriptor.pmiMediums);
  KS_TRACE_LEAVE("CKsPin::~CKsPin");
}

HRESULT CKsPin::Init() {
  KS_TRACE_ENTER("CKsPin::Init");
  const int nPinId = static_cast<int>(m_nId);
  bool fFailed = false;

  if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION,
                                             &m_Descriptor.Communication, sizeof(ULONG)))) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: %d", nPinId);
    fFailed = true;
  }

  // A malformed reply counts as a failed read; the items that fitted it are still used.
  ULONG cItems = 0;
  if (!ReadPinItems(m_pFilter, m_nId, KSPROPERTY_PIN_INTERFACES, sizeof(KSPIN_INTERFACE),
                    &m_Descriptor.pmiInterfaces, &cItems)) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: %d", nPinId);
    fFailed = true;
  }
  m_Descriptor.cInterfaces = cItems;
  if (cItems != 0) {
    m_Descriptor.pInterfaces =
        reinterpret_cast<PKSPIN_INTERFACE>(FirstItem(m_Descriptor.pmiInterfaces));
  }

  cItems = 0;
  if (!ReadPinItems(m_pFilter, m_nId, KSPROPERTY_PIN_MEDIUMS, sizeof(KSPIN_MEDIUM),
                    &m_Descriptor.pmiMediums, &cItems)) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: %d", nPinId);
    fFailed = true;
  }
  m_Descriptor.cMediums = cItems;
  if (cItems != 0) {
    m_Descriptor.pMediums = reinterpret_cast<PKSPIN_MEDIUM>(FirstItem(m_Descriptor.pmiMediums));
  }

  cItems = 0;
  if (!ReadPinItems(m_pFilter, m_nId, KSPROPERTY_PIN_DATARANGES, 0, &m_Descriptor.pmiDataRanges,
                    &cItems)) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: %d", nPinId);
    fFailed = true;
  }
  m_Descriptor.cDataRanges = cItems;
  if (cItems != 0) m_Descriptor.pDataRanges = FirstItem(m_Descriptor.pmiDataRanges);

  if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW,
                                             &m_Descriptor.DataFlow, sizeof(ULONG)))) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: %d", nPinId);
    fFailed = true;
  }
  if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES,
                                             &m_Descriptor.CInstances, sizeof(KSPIN_CINSTANCES)))) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: %d", nPinId);
    fFailed = true;
  }
  if (FAILED(m_pFilter->GetPinPropertySimple(
          m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, &m_Descriptor.CInstancesGlobal,
          sizeof(KSPIN_CINSTANCES)))) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: %d", nPinId);
    fFailed = true;
  }
  if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY,
                                             &m_guidCategory, sizeof(GUID)))) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: %d", nPinId);
    fFailed = true;
  }
  if (FAILED(m_pFilter->GetPinPropertySimple(m_nId, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, m_szName,
                                             sizeof m_szName - 1))) {
    KsTrace(KS_TRACE_PIN_PROPERTY,
            "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: %d", nPinId);
    fFailed = true;
  }
  // The name is UTF-16: its last two bytes are never part of a reply, so it always ends.
  m_szName[sizeof m_szName - 2] = '\0';
  m_szName[sizeof m_szName - 1] = '\0';

  const HRESULT hr = fFailed ? S_FALSE : S_OK;
  KS_TRACE_LEAVE_HR("CKsPin::Init", hr);
  return hr;
}

HRESULT CKsPin::Instantiate(BOOL fLooped) {
  KS_TRACE_ENTER("CKsPin::Instantiate");
  if (m_pksPinCreate == nullptr) {
    KS_TRACE_LEAVE_HR("CKsPin::Instantiate", S_OK);
    return S_OK;
  }
  if (m_pLinkPin != nullptr) m_pksPinCreate->PinToHandle = m_pLinkPin->GetHandle();
  m_fLooped = fLooped;
  m_pksPinCreate->Interface.Id =
      fLooped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;

  HRESULT hr = S_OK;
  const PFNKSCREATEPIN pfnKsCreatePin = ResolveKsCreatePin();
  if (pfnKsCreatePin == nullptr) {
    hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  } else {
    HANDLE hPin = INVALID_HANDLE_VALUE;
    const DWORD dwResult =
        pfnKsCreatePin(m_pFilter->GetHandle(), m_pksPinCreate, GENERIC_READ | GENERIC_WRITE, &hPin);
    const LONG lResult = static_cast<LONG>(dwResult);
    if (lResult == 0) {
      // A creation that reports success without a handle is a failure.
      hr = IsValidHandle(hPin) ? S_OK : E_FAIL;
      if (SUCCEEDED(hr)) m_handle = hPin;
    } else if (lResult > 0) {
      hr = static_cast<HRESULT>(0x80070000u | (dwResult & 0xFFFFu));
    } else {
      hr = lResult;
    }
  }
  if (FAILED(hr)) {
    KsTrace(KS_TRACE_ERROR, "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(hr));
  }
  KS_TRACE_LEAVE_HR("CKsPin::Instantiate", hr);
  return hr;
}

HRESULT CKsPin::SetState(KSSTATE ksState) {
  KS_TRACE_ENTER("CKsPin::SetState");
  ULONG ulState = static_cast<ULONG>(ksState);
  const HRESULT hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
                                       &ulState, sizeof ulState);
  if (SUCCEEDED(hr)) {
    m_ksState = ksState;
  } else {
    KsTrace(KS_TRACE_ERROR, "Failed to Set Pin State");
  }
  KS_TRACE_LEAVE_HR("CKsPin::SetState", hr);
  return hr;
}

HRESULT CKsPin::GetState(PKSSTATE pksState) {
  KS_TRACE_ENTER("CKsPin::GetState");
  HRESULT hr = S_OK;
  if (pksState == nullptr) {
    KsTrace(KS_TRACE_ERROR, "pksState == NULL");
    hr = E_INVALIDARG;
  } else if (!IsValidHandle(m_handle)) {
    KsTrace(KS_TRACE_ERROR, "No valid pin handle");
    hr = E_FAIL;
  } else {
    ULONG ulState = 0;
    hr = GetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &ulState,
                           sizeof ulState);
    if (SUCCEEDED(hr) && ulState > KSSTATE_RUN) {
      KsTrace(KS_TRACE_ERROR, "Pin reported the unknown state %lu",
              static_cast<unsigned long>(ulState));
      hr = E_FAIL;
    } else if (SUCCEEDED(hr)) {
      *pksState = static_cast<KSSTATE>(ulState);
    }
  }
  KS_TRACE_LEAVE_HR("CKsPin::GetState", hr);
  return hr;
}

HRESULT CKsPin::Reset() {
  KS_TRACE_ENTER("CKsPin::Reset");
  ULONG ulReset = KSRESET_BEGIN;
  HRESULT hr =
      SyncIoctl(m_handle, IOCTL_KS_RESET_STATE, &ulReset, sizeof ulReset, nullptr, 0, nullptr);
  if (FAILED(hr)) KsTrace(KS_TRACE_ERROR, "IOCTL_KS_RESET_STATE failed");
  ulReset = KSRESET_END;
  hr = SyncIoctl(m_handle, IOCTL_KS_RESET_STATE, &ulReset, sizeof ulReset, nullptr, 0, nullptr);
  if (FAILED(hr)) KsTrace(KS_TRACE_ERROR, "IOCTL_KS_RESET_STATE failed");
  KS_TRACE_LEAVE_HR("CKsPin::Reset", hr);
  return hr;
}

HRESULT CKsPin::WriteData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped) {
  KS_TRACE_ENTER("CKsPin::WriteData");
  const HRESULT hr =
      QueueStreamRequest(m_handle, IOCTL_KS_WRITE_STREAM, pKSStreamHeader, pOverlapped,
                         "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x");
  KS_TRACE_LEAVE_HR("CKsPin::WriteData", hr);
  return hr;
}

HRESULT CKsPin::ReadData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped) {
  KS_TRACE_ENTER("CKsPin::ReadData");
  const HRESULT hr = QueueStreamRequest(m_handle, IOCTL_KS_READ_STREAM, pKSStreamHeader,
                                        pOverlapped, "DeviceIoControl Failed!  Error=0x%08x");
  KS_TRACE_LEAVE_HR("CKsPin::ReadData", hr);
  return hr;
}

HRESULT CKsPin::SetFormat(PKSDATAFORMAT pksFormat) {
  KS_TRACE_ENTER("CKsPin::SetFormat");
  HRESULT hr = E_POINTER;
  if (pksFormat != nullptr) {
    hr = SetPropertySimple(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, pksFormat,
                           pksFormat->FormatSize);
  }
  KS_TRACE_LEAVE_HR("CKsPin::SetFormat", hr);
  return hr;
}

HRESULT CKsPin::SetPinConnect(PKSPIN_CONNECT pksPinConnect, ULONG cbKsPinConnect) {
  KS_TRACE_ENTER("CKsPin::SetPinConnect");
  HRESULT hr = S_OK;
  if (pksPinConnect == nullptr || cbKsPinConnect < sizeof(KSPIN_CONNECT)) {
    hr = E_INVALIDARG;
  } else {
    BYTE* pbCopy = KsAllocReply(cbKsPinConnect);
    if (pbCopy == nullptr) {
      hr = E_OUTOFMEMORY;
    } else {
      std::memcpy(pbCopy, pksPinConnect, cbKsPinConnect);
      KsFreeReply(m_pksPinCreate);
      m_pksPinCreate = reinterpret_cast<PKSPIN_CONNECT>(pbCopy);
      m_cbPinCreateSize = cbKsPinConnect;
    }
  }
  KS_TRACE_LEAVE("CKsPin::SetPinConnect");
  return hr;
}

void CKsPin::ClosePin() {
  KS_TRACE_ENTER("CKsPin::ClosePin");
  if (IsValidHandle(m_handle)) {
    SetState(KSSTATE_STOP);
    SafeCloseHandle(m_handle);
  }
  KS_TRACE_LEAVE("CKsPin::ClosePin");
}

ULONG CKsPin::GetId() {
  KS_TRACE_ENTER("CKsPin::GetId");
  KS_TRACE_LEAVE("CKsPin::GetId");
  return m_nId;
}

KsPinType CKsPin::GetType() {
  KS_TRACE_ENTER("CKsPin::GetType");
  KS_TRACE_LEAVE("CKsPin::GetType");
  return m_eType;
}

KsPinDescriptor* CKsPin::GetPinDescriptor() {
  KS_TRACE_ENTER("CKsPin::GetPinDescriptor");
  KS_TRACE_LEAVE("CKsPin::GetPinDescriptor");
  return &m_Descriptor;
}

HRESULT CKsPin::GetDataFlow(PULONG pulDataFlow) {
  KS_TRACE_ENTER("CKsPin::GetDataFlow");
  HRESULT hr = E_POINTER;
  if (pulDataFlow != nullptr) {
    *pulDataFlow = m_Descriptor.DataFlow;
    hr = S_OK;
  }
  KS_TRACE_LEAVE_HR("CKsPin::GetDataFlow", hr);
  return hr;
}

HRESULT CKsPin::GetCommunication(PULONG pulCommunication) {
  KS_TRACE_ENTER("CKsPin::GetCommunication");
  HRESULT hr = E_POINTER;
  if (pulCommunication != nullptr) {
    *pulCommunication = m_Descriptor.Communication;
    hr = S_OK;
  }
  KS_TRACE_LEAVE_HR("CKsPin::GetCommunication", hr);
  return hr;
}

BOOL CKsPin::HasDataRangeWithSpecifier(REFGUID guidSpecifier) {
  KS_TRACE_ENTER("CKsPin::HasDataRangeWithSpecifier");
  BOOL fFound = FALSE;
  CKsDataRangeWalk walk(m_Descriptor.pDataRanges, m_Descriptor.cDataRanges);
  while (const BYTE* pbRange = walk.Next()) {
    if (IsEqualGUID(KsReadDataRange(pbRange).Specifier, guidSpecifier)) {
      fFound = TRUE;
      break;
    }
  }
  KS_TRACE_LEAVE("CKsPin::HasDataRangeWithSpecifier");
  return fFound;
}
