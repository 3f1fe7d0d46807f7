// The class factory and the table of classes this in-process server can create.
#pragma once

#include <atomic>

#include "com/ComBase.h"

typedef INonDelegatingUnknown* (*CreateInstanceFunction)(IUnknown* outer, HRESULT* phr);
typedef void (*ClassLoadRoutine)(BOOL loading, const CLSID* classId);

struct ClassTemplate {
  const WCHAR* name;
  const CLSID* classId;
  CreateInstanceFunction create;
  ClassLoadRoutine load;  // optional, run at process attach and detach
};

extern const ClassTemplate classTemplates[];
extern const int classTemplateCount;

class CClassFactory : public IClassFactory {
 public:
  explicit CClassFactory(const ClassTemplate* source) : classTemplate(source) {}
  virtual ~CClassFactory() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  const ClassTemplate* const classTemplate;
  std::atomic<LONG> referenceCount{0};
};
