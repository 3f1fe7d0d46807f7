// CKsIrpTarget: the handle of a KS filter or pin, the one synchronous I/O-control primitive and
// the property requests built on it.
#pragma once

#include "platform/ks.h"
#include "platform/windows.h"

class CKsIrpTarget {
 public:
  explicit CKsIrpTarget(HANDLE handle);

  HANDLE GetHandle();
  // TRUE when the value is neither null nor INVALID_HANDLE_VALUE.
  static BOOL IsValidHandle(HANDLE handle);
  // Closes a valid handle and sets the variable to INVALID_HANDLE_VALUE; TRUE for no handle.
  static BOOL SafeCloseHandle(HANDLE& handle);
  BOOL Close();

  // One I/O control that waits for its completion; a request that pends is waited for and its
  // outcome and byte count read with GetOverlappedResult. A size query (IOCTL_KS_PROPERTY with
  // no output room) answered with ERROR_MORE_DATA or ERROR_INSUFFICIENT_BUFFER and a size
  // succeeds and leaves that size in the byte count; without a size it fails.
  static HRESULT SyncIoctl(HANDLE handle, ULONG ulIoctl, PVOID pvInBuffer, ULONG cbInBuffer,
                           PVOID pvOutBuffer, ULONG cbOutBuffer, PULONG pulBytesReturned);

  HRESULT PropertySetSupport(REFGUID guidPropertySet);
  HRESULT PropertyBasicSupport(REFGUID guidPropertySet, ULONG nProperty, PULONG pulTypeSupport);
  HRESULT GetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue, ULONG cbValue,
                            PVOID pvInstance = nullptr, ULONG cbInstance = 0);
  HRESULT SetPropertySimple(REFGUID guidPropertySet, ULONG nProperty, PVOID pvValue, ULONG cbValue,
                            PVOID pvInstance = nullptr, ULONG cbInstance = 0);
  // Reads a multiple-item reply of any size into a buffer that then belongs to the caller (free
  // it with KsFreeReply). The buffer is stored in *ppKsMultipleItem as soon as it exists, and
  // its size in *pcbReply when asked for; a reply size of 0 leaves both untouched.
  HRESULT GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty,
                           PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbReply = nullptr);
  // The same with a caller-built property record (KSP_PIN, KSNODEPROPERTY ...), which already
  // names the set and property and is sent with both requests.
  HRESULT GetPropertyMulti(REFGUID guidPropertySet, ULONG nProperty, PVOID pvProperty,
                           ULONG cbProperty, PKSMULTIPLE_ITEM* ppKsMultipleItem,
                           PULONG pcbReply = nullptr);
  HRESULT GetNodePropertySimple(ULONG nNodeId, REFGUID guidPropertySet, ULONG nProperty,
                                PVOID pvValue, ULONG cbValue, PVOID pvInstance = nullptr,
                                ULONG cbInstance = 0);
  HRESULT SetNodePropertySimple(ULONG nNodeId, REFGUID guidPropertySet, ULONG nProperty,
                                PVOID pvValue, ULONG cbValue, PVOID pvInstance = nullptr,
                                ULONG cbInstance = 0);
  HRESULT GetNodePropertyChannel(ULONG nNodeId, ULONG nChannel, REFGUID guidPropertySet,
                                 ULONG nProperty, PVOID pvValue, ULONG cbValue,
                                 PVOID pvInstance = nullptr, ULONG cbInstance = 0);
  HRESULT SetNodePropertyChannel(ULONG nNodeId, ULONG nChannel, REFGUID guidPropertySet,
                                 ULONG nProperty, PVOID pvValue, ULONG cbValue,
                                 PVOID pvInstance = nullptr, ULONG cbInstance = 0);

 protected:
  HANDLE m_handle;
};
