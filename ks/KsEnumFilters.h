// CKsEnumFilters: the machine's KS filters found through device-interface enumeration. Lists
// every present interface of a first category that is also registered, and enabled, under
// every further category, and keeps a filter of the requested kind for each that opens and
// enumerates as asked. It owns the filters it keeps.
#pragma once

#include "ks/KsFilter.h"
#include "ks/KsList.h"

class CKsEnumFilters {
 public:
  explicit CKsEnumFilters(HRESULT* phr);
  virtual ~CKsEnumFilters();
  CKsEnumFilters(const CKsEnumFilters&) = delete;
  CKsEnumFilters& operator=(const CKsEnumFilters&) = delete;

  // eFilterType: FilterTypeRender and FilterTypeCapture make audio filters of that kind, any
  // other value plain filters. The list is rebuilt from scratch on every call.
  HRESULT EnumFilters(ULONG eFilterType, const GUID* aguidCategories, ULONG cguidCategories,
                      BOOL fNeedPins, BOOL fNeedNodes, BOOL fInstantiate);
  virtual HRESULT DestroyLists();

  CKsList<CKsFilter> m_Filters;  // in the order their interfaces were enumerated
};
