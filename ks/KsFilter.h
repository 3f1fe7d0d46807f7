// CKsFilter: one KS filter opened by its device-interface path, with its pins sorted by data
// flow and communication and its topology nodes. It owns its pins and nodes.
#pragma once

#include "ks/KsIrpTarget.h"
#include "ks/KsList.h"
#include "ks/KsNode.h"
#include "ks/KsPin.h"
#include "ks/KsTypes.h"

class CKsFilter : public CKsIrpTarget {
 public:
  CKsFilter(LPCSTR pszName, HRESULT* phr);
  virtual ~CKsFilter();
  CKsFilter(const CKsFilter&) = delete;
  CKsFilter& operator=(const CKsFilter&) = delete;

  virtual HRESULT Instantiate();
  virtual HRESULT EnumerateNodes();
  virtual HRESULT EnumeratePins();
  virtual HRESULT DestroyLists();

  HRESULT InternalInit();
  HRESULT ClassifyPins();
  // A KSP_PIN get request on the filter's handle.
  HRESULT GetPinPropertySimple(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                               PVOID pvValue, ULONG cbValue);
  // A two-step multiple-item read for one pin; the reply belongs to the caller (KsFreeReply),
  // and its allocated size goes to *pcbReply when asked for.
  HRESULT GetPinPropertyMulti(ULONG nPinId, REFGUID guidPropertySet, ULONG nProperty,
                              PKSMULTIPLE_ITEM* ppKsMultipleItem, PULONG pcbReply = nullptr);
  KsFilterType GetType();

  CKsList<CKsNode> m_Nodes;
  CKsList<CKsPin> m_Pins;
  CKsList<CKsPin> m_RenderSinkPins;
  CKsList<CKsPin> m_CaptureSourcePins;
  CKsList<CKsPin> m_CaptureSinkPins;
  CKsList<CKsPin> m_RenderSourcePins;
  CKsList<CKsPin> m_NoCommPins;
  KsFilterType m_eFilterType;
  CHAR m_szFilterName[MAX_PATH];
  CHAR m_szFriendlyName[MAX_PATH];
};
