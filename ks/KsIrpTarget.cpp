#include "ks/KsIrpTarget.h"

#include <cstring>

#include "ks/KsReply.h"
#include "ks/KsTrace.h"
#include "platform/device_access.h"

namespace {

// A property request: the header record (flags, node and channel already filled in) with the
// instance data directly behind it, and the value in the output-buffer position (where KS takes
// the value of a set request too).
template <typename Header>
HRESULT PropertyRequest(HANDLE handle, const Header& header, PVOID pvValue, ULONG cbValue,
                        PVOID pvInstance, ULONG cbInstance) {
  if (pvInstance == nullptr) cbInstance = 0;
  if (cbInstance > KS_MAX_REPLY_SIZE) return E_OUTOFMEMORY;
  const ULONG cbRequest = sizeof header + cbInstance;
  BYTE* pbRequest = KsAllocReply(cbRequest);
  if (pbRequest == nullptr) return E_OUTOFMEMORY;
  std::memcpy(pbRequest, &header, sizeof header);
  if (cbInstance != 0) std::memcpy(pbRequest + sizeof header, pvInstance, cbInstance);
  const HRESULT hr = CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pbRequest, cbRequest,
                                             pvValue, cbValue, nullptr);
  KsFreeReply(pbRequest);
  return hr;
}

// The two steps of a multiple-item read, both with the caller's property record: the size
// query, then the data request into a buffer of that size, stored for the caller at once. (A
// size query with only the plain header would leave out the pin or node the record names.)
HRESULT MultiRequest(HANDLE handle, PVOID pvProperty, ULONG cbProperty,
                     PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbReply) {
  ULONG cbReply = 0;
  HRESULT hr = CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvProperty, cbProperty, nullptr,
                                       0, &cbReply);
  if (FAILED(hr) || cbReply == 0) return hr;
  BYTE* pbReply = KsAllocReply(cbReply);
  if (pbReply == nullptr) return E_OUTOFMEMORY;
  *ppKsMultipleItem = reinterpret_cast<PKSMULTIPLE_ITEM>(pbReply);
  if (pcbReply != nullptr) *pcbReply = cbReply;
  return CKsIrpTarget::SyncIoctl(handle, IOCTL_KS_PROPERTY, pvProperty, cbProperty, pbReply,
                                 cbReply, nullptr);
}

// A request of one property; ulFlags is KSPROPERTY_TYPE_GET, _SET or a support query.
KSPROPERTY Property(REFGUID guidPropertySet, ULONG nProperty, ULONG ulFlags) {
  KSPROPERTY ksProperty;
  std::memset(&ksProperty, 0, sizeof ksProperty);
  ksProperty.Set = guidPropertySet;
  ksProperty.Id = nProperty;
  ksProperty.Flags = ulFlags;
  return ksProperty;
}

// The same for one property of node nNodeId.
KSNODEPROPERTY NodeProperty(ULONG nNodeId, REFGUID guidPropertySet, ULONG nProperty,
                            ULONG ulFlags) {
  KSNODEPROPERTY ksNodeProperty;
  std::memset(&ksNodeProperty, 0, sizeof ksNodeProperty);
  ksNodeProperty.Property =
      Property(guidPropertySet, nProperty, ulFlags | KSPROPERTY_TYPE_TOPOLOGY);
  ksNodeProperty.NodeId = nNodeId;
  return ksNodeProperty;
}

// The same for one channel of the node.
KSNODEPROPERTY_AUDIO_CHANNEL ChannelProperty(ULONG nNodeId, ULONG nChannel, REFGUID guidPropertySet,
                                             ULONG nProperty, ULONG ulFlags) {
  KSNODEPROPERTY_AUDIO_CHANNEL ksChannelProperty;
  std::memset(&ksChannelProperty, 0, sizeof ksChannelProperty);
  ksChannelProperty.NodeProperty = NodeProperty(nNodeId, guidPropertySet, nProperty, ulFlags);
  ksChannelProperty.Channel = static_cast<LONG>(nChannel);
  return ksChannelProperty;
}

}  // namespace

CKsIrpTarget::CKsIrpTarget(HANDLE handle) {
  KS_TRACE_ENTER("CKsIrpTarget::CKsIrpTarget");
  m_handle = handle;
  KS_TRACE_LEAVE("CKsIrpTarget::CKsIrpTarget");
}

HANDLE CKsIrpTarget::GetHandle() {
  KS_TRACE_ENTER("CKsIrpTarget::GetHandle");
  KS_TRACE_LEAVE("CKsIrpTarget::GetHandle");
  return m_handle;
}

BOOL CKsIrpTarget::IsValidHandle(HANDLE handle) {
  KS_TRACE_ENTER("CKsIrpTarget::IsValidHandle");
  const BOOL fValid = (handle != nullptr && handle != INVALID_HANDLE_VALUE) ? TRUE : FALSE;
  KS_TRACE_LEAVE("CKsIrpTarget::IsValidHandle");
  return fValid;
}

BOOL CKsIrpTarget::SafeCloseHandle(HANDLE& handle) {
  KS_TRACE_ENTER("CKsIrpTarget::SafeCloseHandle");
  BOOL fResult = TRUE;
  if (IsValidHandle(handle)) {
    fResult = CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  KS_TRACE_LEAVE("CKsIrpTarget::SafeCloseHandle");
  return fResult;
}

BOOL CKsIrpTarget::Close() {
  KS_TRACE_ENTER("CKsIrpTarget::Close");
  const BOOL fResult = SafeCloseHandle(m_handle);
  KS_TRACE_LEAVE("CKsIrpTarget::Close");
  return fResult;
}

HRESULT CKsIrpTarget::SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer,
                                PVOID pvOutBuffer, ULONG cbOutBuffer, PULONG pulBytesReturned) {
  KS_TRACE_ENTER("CKsIrpTarget::SyncIoctl");
  if (!IsValidHandle(handle)) {
    KsTrace(KS_TRACE_ERROR, "CKsIrpTarget::SyncIoctl Invalid Handle");
    KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", E_FAIL);
    return E_FAIL;
  }
  ULONG ulLocalCount = 0;
  if (pulBytesReturned == nullptr) pulBytesReturned = &ulLocalCount;

  OVERLAPPED overlapped;
  std::memset(&overlapped, 0, sizeof overlapped);
  HANDLE hEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (hEvent == nullptr) {
    KsTrace(KS_TRACE_ERROR, "CKsIrpTarget::SyncIoctl CreateEvent failed");
    KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", E_OUTOFMEMORY);
    return E_OUTOFMEMORY;
  }
  // The lowest bit keeps the completion off any I/O completion port bound to the handle.
  overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(hEvent) | 1);

  HRESULT hr = S_OK;
  DWORD cbReturned = 0;
  DWORD dwError = ERROR_SUCCESS;
  if (!DeviceIoControl(handle, ulIoctl, pvInBuffer, cbInBuffer, pvOutBuffer, cbOutBuffer,
                       &cbReturned, &overlapped)) {
    dwError = GetLastError();
    if (dwError == ERROR_IO_PENDING) {
      const DWORD dwWait = WaitForSingleObject(hEvent, INFINITE);
      if (dwWait != WAIT_OBJECT_0) {
        hr = E_FAIL;
        KsTrace(KS_TRACE_ERROR, "CKsIrpTarget::SyncIoctl WaitForSingleObject failed dwWait:0x%08x",
                static_cast<unsigned>(dwWait));
      } else if (GetOverlappedResult(handle, &overlapped, &cbReturned, FALSE)) {
        // The request completed later: its outcome and byte count are in the OVERLAPPED.
        dwError = ERROR_SUCCESS;
      } else {
        dwError = GetLastError();
      }
    }
    if (SUCCEEDED(hr) && dwError != ERROR_SUCCESS) {
      // Only the size query of a multiple-item read may end so, and only with a size: Windows
      // leaves the count alone on ERROR_INSUFFICIENT_BUFFER, and no size is no answer.
      const bool fSizeAnswer =
          (dwError == ERROR_INSUFFICIENT_BUFFER || dwError == ERROR_MORE_DATA) &&
          ulIoctl == IOCTL_KS_PROPERTY && cbOutBuffer == 0 && cbReturned != 0;
      if (!fSizeAnswer) hr = E_FAIL;
    }
    if (FAILED(hr)) cbReturned = 0;
  }
  *pulBytesReturned = cbReturned;

  SafeCloseHandle(overlapped.hEvent);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SyncIoctl", hr);
  return hr;
}

HRESULT CKsIrpTarget::PropertySetSupport(REFGUID guidPropertySet) {
  KS_TRACE_ENTER("CKsIrpTarget::PropertySetSupport");
  KSPROPERTY ksProperty = Property(guidPropertySet, 0, KSPROPERTY_TYPE_SETSUPPORT);
  const HRESULT hr =
      SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksProperty, sizeof ksProperty, nullptr, 0, nullptr);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::PropertySetSupport", hr);
  return hr;
}

HRESULT CKsIrpTarget::PropertyBasicSupport(REFGUID guidPropertySet, ULONG nProperty,
                                           PULONG pulTypeSupport) {
  KS_TRACE_ENTER("CKsIrpTarget::PropertyBasicSupport");
  KSPROPERTY ksProperty = Property(guidPropertySet, nProperty, KSPROPERTY_TYPE_BASICSUPPORT);
  const HRESULT hr = SyncIoctl(m_handle, IOCTL_KS_PROPERTY, &ksProperty, sizeof ksProperty,
                               pulTypeSupport, sizeof(ULONG), nullptr);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::PropertyBasicSupport", hr);
  return hr;
}

HRESULT CKsIrpTarget::GetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue, PVOID pvInstance, ULONG cbInstance) {
  KS_TRACE_ENTER("CKsIrpTarget::GetPropertySimple");
  const HRESULT hr =
      PropertyRequest(m_handle, Property(guidPropertySet, nProperty, KSPROPERTY_TYPE_GET), pvValue,
                      cbValue, pvInstance, cbInstance);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::GetPropertySimple", hr);
  return hr;
}

HRESULT CKsIrpTarget::SetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue,
                                        ULONG cbValue, PVOID pvInstance, ULONG cbInstance) {
  KS_TRACE_ENTER("CKsIrpTarget::SetPropertySimple");
  const HRESULT hr =
      PropertyRequest(m_handle, Property(guidPropertySet, nProperty, KSPROPERTY_TYPE_SET), pvValue,
                      cbValue, pvInstance, cbInstance);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SetPropertySimple", hr);
  return hr;
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbReply) {
  KS_TRACE_ENTER("CKsIrpTarget::GetPropertyMulti");
  HRESULT hr = E_POINTER;
  if (ppKsMultipleItem != nullptr) {
    KSPROPERTY ksProperty = Property(guidPropertySet, nProperty, KSPROPERTY_TYPE_GET);
    hr = MultiRequest(m_handle, &ksProperty, sizeof ksProperty, ppKsMultipleItem, pcbReply);
  }
  KS_TRACE_LEAVE_HR("CKsIrpTarget::GetPropertyMulti", hr);
  return hr;
}

HRESULT CKsIrpTarget::GetPropertyMulti(REFGUID /*guidPropertySet*/, ULONG /*nProperty*/,
                                       PVOID pvProperty, ULONG cbProperty,
                                       PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbReply) {
  KS_TRACE_ENTER("CKsIrpTarget::GetPropertyMulti");
  HRESULT hr = E_POINTER;
  if (ppKsMultipleItem != nullptr && pvProperty != nullptr) {
    hr = MultiRequest(m_handle, pvProperty, cbProperty, ppKsMultipleItem, pcbReply);
  }
  KS_TRACE_LEAVE_HR("CKsIrpTarget::GetPropertyMulti", hr);
  return hr;
}

HRESULT CKsIrpTarget::GetNodePropertySimple(ULONG nNodeId, REFGUID guidPropertySet, ULONG nProperty,
                                            PVOID pvValue, ULONG cbValue, PVOID pvInstance,
                                            ULONG cbInstance) {
  KS_TRACE_ENTER("CKsIrpTarget::GetNodePropertySimple");
  const HRESULT hr = PropertyRequest(
      m_handle, NodeProperty(nNodeId, guidPropertySet, nProperty, KSPROPERTY_TYPE_GET), pvValue,
      cbValue, pvInstance, cbInstance);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::GetNodePropertySimple", hr);
  return hr;
}

HRESULT CKsIrpTarget::SetNodePropertySimple(ULONG nNodeId, REFGUID guidPropertySet, ULONG nProperty,
                                            PVOID pvValue, ULONG cbValue, PVOID pvInstance,
                                            ULONG cbInstance) {
  KS_TRACE_ENTER("CKsIrpTarget::SetNodePropertySimple");
  const HRESULT hr = PropertyRequest(
      m_handle, NodeProperty(nNodeId, guidPropertySet, nProperty, KSPROPERTY_TYPE_SET), pvValue,
      cbValue, pvInstance, cbInstance);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SetNodePropertySimple", hr);
  return hr;
}

HRESULT CKsIrpTarget::GetNodePropertyChannel(ULONG nNodeId, ULONG nChannel, REFGUID guidPropertySet,
                                             ULONG nProperty, PVOID pvValue, ULONG cbValue,
                                             PVOID pvInstance, ULONG cbInstance) {
  KS_TRACE_ENTER("CKsIrpTarget::GetNodePropertyChannel");
  const HRESULT hr = PropertyRequest(
      m_handle, ChannelProperty(nNodeId, nChannel, guidPropertySet, nProperty, KSPROPERTY_TYPE_GET),
      pvValue, cbValue, pvInstance, cbInstance);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::GetNodePropertyChannel", hr);
  return hr;
}

HRESULT CKsIrpTarget::SetNodePropertyChannel(ULONG nNodeId, ULONG nChannel, REFGUID guidPropertySet,
                                             ULONG nProperty, PVOID pvValue, ULONG cbValue,
                                             PVOID pvInstance, ULONG cbInstance) {
  KS_TRACE_ENTER("CKsIrpTarget::SetNodePropertyChannel");
  const HRESULT hr = PropertyRequest(
      m_handle, ChannelProperty(nNodeId, nChannel, guidPropertySet, nProperty, KSPROPERTY_TYPE_SET),
      pvValue, cbValue, pvInstance, cbInstance);
  KS_TRACE_LEAVE_HR("CKsIrpTarget::SetNodePropertyChannel", hr);
  return hr;
}
