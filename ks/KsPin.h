// CKsPin: one pin of a KS filter. It reads its descriptor from the filter when constructed,
// holds the connect record it is created with, and once created changes state and moves
// stream buffers asynchronously.
#pragma once

#include "ks/KsIrpTarget.h"
#include "ks/KsTypes.h"
#include "platform/ks.h"

class CKsFilter;

// What the filter says about one pin type. The arrays point into the three owned replies and
// their counts only cover items that lie wholly inside them. The data-range items (ranges and
// their attribute lists) each start on an 8-byte boundary of the reply: walk them with
// CKsDataRangeWalk and read each with KsReadDataRange.
struct KsPinDescriptor {
  ULONG cInterfaces;
  PKSPIN_INTERFACE pInterfaces;
  ULONG cMediums;
  PKSPIN_MEDIUM pMediums;
  ULONG cDataRanges;
  const BYTE* pDataRanges;
  ULONG DataFlow;       // KSPIN_DATAFLOW as the device reported it
  ULONG Communication;  // KSPIN_COMMUNICATION as the device reported it
  KSPIN_CINSTANCES CInstances;
  KSPIN_CINSTANCES CInstancesGlobal;
  PKSMULTIPLE_ITEM pmiDataRanges;
  PKSMULTIPLE_ITEM pmiMediums;
  PKSMULTIPLE_ITEM pmiInterfaces;
};

class CKsPin : public CKsIrpTarget {
 public:
  CKsPin(CKsFilter* pFilter, ULONG nId, HRESULT* phr);
  virtual ~CKsPin();
  CKsPin(const CKsPin&) = delete;
  CKsPin& operator=(const CKsPin&) = delete;

  virtual HRESULT Instantiate(BOOL fLooped);
  virtual HRESULT SetState(KSSTATE ksState);

  // Reads the descriptor: S_OK, or S_FALSE when any query failed.
  HRESULT Init();
  HRESULT GetState(PKSSTATE pksState);
  HRESULT Reset();
  // Queue one stream request without waiting; the caller keeps the header, its data and the
  // OVERLAPPED alive until the OVERLAPPED's event is signalled.
  HRESULT WriteData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped);
  HRESULT ReadData(PKSSTREAM_HEADER pKSStreamHeader, LPOVERLAPPED pOverlapped);
  // Changes the data format of a created pin.
  HRESULT SetFormat(PKSDATAFORMAT pksFormat);
  HRESULT SetPinConnect(PKSPIN_CONNECT pksPinConnect, ULONG cbKsPinConnect);
  void ClosePin();
  ULONG GetId();
  KsPinType GetType();
  KsPinDescriptor* GetPinDescriptor();
  HRESULT GetDataFlow(PULONG pulDataFlow);
  HRESULT GetCommunication(PULONG pulCommunication);
  BOOL HasDataRangeWithSpecifier(REFGUID guidSpecifier);

  PKSPIN_CONNECT m_pksPinCreate;
  ULONG m_cbPinCreateSize;
  ULONG m_nId;
  CKsFilter* m_pFilter;
  GUID m_guidCategory;
  KsPinDescriptor m_Descriptor;
  KsPinType m_eType;
  KSSTATE m_ksState;
  CHAR m_szName[MAX_PATH];  // KSPROPERTY_PIN_NAME: a UTF-16 string, always terminated
  BOOL m_fLooped;
  CKsPin* m_pLinkPin;
};

// Display names of the four KSSTATE values, indexed by value.
extern const char* const g_apszKsStateNames[4];
