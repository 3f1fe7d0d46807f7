// CKsNode: one topology node of a filter (its id and type).
#pragma once

#include "platform/windows.h"

class CKsNode {
 public:
  CKsNode(ULONG nId, const GUID* pguidType, HRESULT* phr);
  // Copies id, CPU resources and type from another node when one is given.
  CKsNode(const CKsNode* pksnCopy, HRESULT* phr);

  GUID GetType();
  ULONG GetId();
  ULONG GetCpuResources();

 private:
  ULONG m_nId;
  ULONG m_nCpuResources;  // "NONE" in memory order
  GUID m_guidType;
};
