#include "ks/KsNode.h"

#include "ks/KsTrace.h"

namespace {
constexpr ULONG kNoCpuResources = 0x454E4F4E;
}  // namespace

CKsNode::CKsNode(ULONG nId, const GUID* pguidType, HRESULT* phr)
    : m_nId(nId), m_nCpuResources(kNoCpuResources), m_guidType() {
  KS_TRACE_ENTER("CKsNode::CKsNode");
  if (pguidType != nullptr) m_guidType = *pguidType;
  if (phr != nullptr) *phr = S_OK;
  KS_TRACE_LEAVE_HR("CKsNode::CKsNode", S_OK);
}

CKsNode::CKsNode(const CKsNode* pksnCopy, HRESULT* phr)
    : m_nId(0), m_nCpuResources(kNoCpuResources), m_guidType() {
  KS_TRACE_ENTER("CKsNode::CKsNode");
  if (pksnCopy != nullptr) {
    m_nId = pksnCopy->m_nId;
    m_nCpuResources = pksnCopy->m_nCpuResources;
    m_guidType = pksnCopy->m_guidType;
  }
  if (phr != nullptr) *phr = S_OK;
  KS_TRACE_LEAVE_HR("CKsNode::CKsNode", S_OK);
}

GUID CKsNode::GetType() {
  KS_TRACE_ENTER("CKsNode::GetType");
  KS_TRACE_LEAVE("CKsNode::GetType");
  return m_guidType;
}

ULONG CKsNode::GetId() {
  KS_TRACE_ENTER("CKsNode::GetId");
  KS_TRACE_LEAVE("CKsNode::GetId");
  return m_nId;
}

ULONG CKsNode::GetCpuResources() {
  KS_TRACE_ENTER("CKsNode::GetCpuResources");
  KS_TRACE_LEAVE("CKsNode::GetCpuResources");
  return m_nCpuResources;
}
