#include "ks/KsFilter.h"

#include <cstring>
#include <new>

#include "ks/KsReply.h"
#include "ks/KsTrace.h"
#include "platform/device_access.h"

namespace {

// Deletes every node of a list and empties it.
void DeleteNodes(CKsList<CKsNode>& list) {
  while (CKsNode* pNode = list.RemoveHead()) delete pNode;
}

// A get request of one property of pin nPinId.
KSP_PIN PinPropertyGet(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty) {
  KSP_PIN ksPProp;
  std::memset(&ksPProp, 0, sizeof ksPProp);
  ksPProp.Property.Set = guidPropertySet;
  ksPProp.Property.Id = nProperty;
  ksPProp.Property.Flags = KSPROPERTY_TYPE_GET;
  ksPProp.PinId = nPinId;
  ksPProp.Reserved = 0;
  return ksPProp;
}

}  // namespace

CKsFilter::CKsFilter(LPCSTR pszName, HRESULT* phr)
    : CKsIrpTarget(INVALID_HANDLE_VALUE), m_eFilterType(FilterTypeUnknown) {
  KS_TRACE_ENTER("CKsFilter::CKsFilter");
  HRESULT hr = InternalInit();
  if (pszName == nullptr) {
    KsTrace(KS_TRACE_ERROR, "pszName cannot be NULL");
    hr = E_INVALIDARG;
  } else {
    const size_t cch = strnlen(pszName, MAX_PATH - 1);
    std::memcpy(m_szFilterName, pszName, cch);
    m_szFilterName[cch] = '\0';
  }
  if (phr != nullptr) *phr = hr;
  KS_TRACE_LEAVE_HR("CKsFilter::CKsFilter", hr);
}

CKsFilter::~CKsFilter() {
  KS_TRACE_ENTER("CKsFilter::~CKsFilter");
  const HRESULT hr = DestroyLists();
  SafeCloseHandle(m_handle);
  KS_TRACE_LEAVE_HR("CKsFilter::~CKsFilter", hr);
}

HRESULT CKsFilter::InternalInit() {
  KS_TRACE_ENTER("CKsFilter::InternalInit");
  std::memset(m_szFilterName, 0, sizeof m_szFilterName);
  std::memset(m_szFriendlyName, 0, sizeof m_szFriendlyName);
  KS_TRACE_LEAVE_HR("CKsFilter::InternalInit", S_OK);
  return S_OK;
}

HRESULT CKsFilter::Instantiate() {
  KS_TRACE_ENTER("CKsFilter::Instantiate");
  HRESULT hr = S_OK;
  // Overlapped, so that property and stream requests complete through their events.
  m_handle = CreateFileA(m_szFilterName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (!IsValidHandle(m_handle)) {
    const DWORD dwError = GetLastError();
    KsTrace(KS_TRACE_ERROR,
            "CKsFilter::Instantiate: CreateFile failed for device %s.  ErrorCode = 0x%08x",
            m_szFilterName, static_cast<unsigned>(dwError));
    hr = E_FAIL;
  }
  KS_TRACE_LEAVE_HR("CKsFilter::Instantiate", hr);
  return hr;
}

HRESULT CKsFilter::GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                        PVOID pvValue, ULONG cbValue) {
  KS_TRACE_ENTER("CKsFilter::GetPinPropertySimple");
  KSP_PIN ksPProp = PinPropertyGet(nPinId, guidPropertySet, nProperty);
  const HRESULT hr =
      SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPProp, sizeof ksPProp, pvValue, cbValue, nullptr);
  KS_TRACE_LEAVE_HR("CKsFilter::GetPinPropertySimple", hr);
  return hr;
}

HRESULT CKsFilter::GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbReply) {
  KS_TRACE_ENTER("CKsFilter::GetPinPropertyMulti");
  if (ppKsMultipleItem == nullptr) {
    KS_TRACE_LEAVE_HR("CKsFilter::GetPinPropertyMulti", E_POINTER);
    return E_POINTER;
  }
  KSP_PIN ksPProp = PinPropertyGet(nPinId, guidPropertySet, nProperty);
  ULONG cbReply = 0;
  HRESULT hr =
      SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPProp, sizeof ksPProp, nullptr, 0, &cbReply);
  if (SUCCEEDED(hr)) {
    BYTE* pbReply = KsAllocReply(cbReply);
    if (pbReply == nullptr) {
      hr = E_OUTOFMEMORY;
    } else {
      *ppKsMultipleItem = reinterpret_cast<PKSMULTIPLE_ITEM>(pbReply);
      if (pcbReply != nullptr) *pcbReply = cbReply;
      hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksPProp, sizeof ksPProp, pbReply, cbReply,
                     nullptr);
    }
  }
  KS_TRACE_LEAVE_HR("CKsFilter::GetPinPropertyMulti", hr);
  return hr;
}

HRESULT CKsFilter::EnumeratePins() {
  KS_TRACE_ENTER("CKsFilter::EnumeratePins");
  ULONG cPins = 0;
  HRESULT hr =
      GetPinPropertySimple(0, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, &cPins, sizeof cPins);
  if (SUCCEEDED(hr)) {
    if (cPins > KS_MAX_PIN_TYPES) {
      KsTrace(KS_TRACE_WARNING, "Filter reports %lu pin types; only the first %lu are used",
              static_cast<unsigned long>(cPins), static_cast<unsigned long>(KS_MAX_PIN_TYPES));
      cPins = KS_MAX_PIN_TYPES;
    }
    for (ULONG nPinId = 0; nPinId < cPins; ++nPinId) {
      HRESULT hrPin = S_OK;
      CKsPin* pPin = new (std::nothrow) CKsPin(this, nPinId, &hrPin);
      if (pPin == nullptr) {
        KsTrace(KS_TRACE_ERROR, "Failed to create pin");
      } else if (FAILED(hrPin)) {
        KsTrace(KS_TRACE_ERROR, "Failed to construct pin");
        delete pPin;
      } else if (!m_Pins.AddTail(pPin)) {
        KsTrace(KS_TRACE_ERROR, "Failed to add pin to list");
        delete pPin;
      }
    }
  }
  hr = ClassifyPins();
  if (m_RenderSinkPins.IsEmpty() && m_CaptureSourcePins.IsEmpty() && m_CaptureSinkPins.IsEmpty() &&
      m_RenderSourcePins.IsEmpty() && m_NoCommPins.IsEmpty()) {
    KsTrace(KS_TRACE_ERROR, "Filter is not viable. It has no pins.");
    hr = E_FAIL;
  }
  KS_TRACE_LEAVE_HR("CKsFilter::EnumeratePins", hr);
  return hr;
}

HRESULT CKsFilter::ClassifyPins() {
  KS_TRACE_ENTER("CKsFilter::ClassifyPins");
  HRESULT hr = S_OK;
  for (CKsPin* pPin : m_Pins) {
    ULONG ulCommunication = 0;
    ULONG ulDataFlow = 0;
    hr = pPin->GetCommunication(&ulCommunication);
    if (SUCCEEDED(hr)) hr = pPin->GetDataFlow(&ulDataFlow);
    if (FAILED(hr)) break;

    const bool fIn = ulDataFlow == KSPIN_DATAFLOW_IN;
    CKsList<CKsPin>& sinkList = fIn ? m_RenderSinkPins : m_CaptureSinkPins;
    CKsList<CKsPin>& sourceList = fIn ? m_RenderSourcePins : m_CaptureSourcePins;
    bool fAdded = true;
    switch (ulCommunication) {
      case KSPIN_COMMUNICATION_NONE:
        fAdded = m_NoCommPins.AddTail(pPin);
        break;
      case KSPIN_COMMUNICATION_SINK:
        fAdded = sinkList.AddTail(pPin);
        break;
      case KSPIN_COMMUNICATION_SOURCE:
        fAdded = sourceList.AddTail(pPin);
        break;
      case KSPIN_COMMUNICATION_BOTH: {
        // Both appends are tried even when the first fails.
        const bool fSink = sinkList.AddTail(pPin);
        const bool fSource = sourceList.AddTail(pPin);
        fAdded = fSink && fSource;
        break;
      }
      default:
        KsTrace(KS_TRACE_INFO, "Pin communication type not recognized");
        break;
    }
    if (!fAdded) {
      hr = E_OUTOFMEMORY;
      break;
    }
  }
  KS_TRACE_LEAVE_HR("CKsFilter::ClassifyPins", hr);
  return hr;
}

HRESULT CKsFilter::EnumerateNodes() {
  KS_TRACE_ENTER("CKsFilter::EnumerateNodes");
  DeleteNodes(m_Nodes);

  PKSMULTIPLE_ITEM pReply = nullptr;
  ULONG cbReply = 0;
  HRESULT hr = GetPropertyMulti(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &pReply, &cbReply);
  if (FAILED(hr)) {
    KsTrace(KS_TRACE_WARNING,
            "Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES");
  } else if (pReply != nullptr) {
    KSMULTIPLE_ITEM header = {};
    if (cbReply >= sizeof header) std::memcpy(&header, pReply, sizeof header);
    const ULONG cFit = KsFittingItems(pReply, cbReply, sizeof(GUID));
    if (cFit != header.Count) {
      KsTrace(KS_TRACE_WARNING,
              "KSPROPERTY_TOPOLOGY_NODES reply holds %lu of its %lu nodes; none is used",
              static_cast<unsigned long>(cFit), static_cast<unsigned long>(header.Count));
    }
    const BYTE* pbNodes = reinterpret_cast<const BYTE*>(pReply) + sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < cFit; ++i) {
      GUID guidType;
      std::memcpy(&guidType, pbNodes + i * sizeof(GUID), sizeof guidType);
      HRESULT hrNode = S_OK;
      CKsNode* pNode = new (std::nothrow) CKsNode(i, &guidType, &hrNode);
      if (pNode != nullptr && !m_Nodes.AddTail(pNode)) delete pNode;
    }
    if (m_Nodes.GetCount() != header.Count) {
      hr = E_FAIL;
      DeleteNodes(m_Nodes);
    } else {
      hr = S_OK;
    }
  }
  KsFreeReply(pReply);
  KS_TRACE_LEAVE_HR("CKsFilter::EnumerateNodes", hr);
  return hr;
}

HRESULT CKsFilter::DestroyLists() {
  KS_TRACE_ENTER("CKsFilter::DestroyLists");
  DeleteNodes(m_Nodes);
  while (CKsPin* pPin = m_Pins.RemoveHead()) delete pPin;
  // The classification lists only refer to pins of m_Pins.
  while (m_RenderSinkPins.RemoveHead() != nullptr) {
  }
  while (m_CaptureSourcePins.RemoveHead() != nullptr) {
  }
  while (m_CaptureSinkPins.RemoveHead() != nullptr) {
  }
  while (m_RenderSourcePins.RemoveHead() != nullptr) {
  }
  while (m_NoCommPins.RemoveHead() != nullptr) {
  }
  KS_TRACE_LEAVE_HR("CKsFilter::DestroyLists", S_OK);
  return S_OK;
}

KsFilterType CKsFilter::GetType() {
  KS_TRACE_ENTER("CKsFilter::GetType");
  KS_TRACE_LEAVE("CKsFilter::GetType");
  return m_eFilterType;
}
