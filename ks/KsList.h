// CKsList: the layer's doubly linked list of element pointers, in insertion order. A list never
// owns its elements; their owner deletes them while emptying the list.
#pragma once

#include <new>

#include "platform/windows.h"

template <typename T>
class CKsList {
 public:
  struct Node {
    Node* pNext;
    Node* pPrev;
    T* pData;
  };

  CKsList() = default;
  CKsList(const CKsList&) = delete;
  CKsList& operator=(const CKsList&) = delete;
  ~CKsList() {
    while (m_pHead != nullptr) RemoveHead();
  }

  // Appends at the tail; false (list unchanged) when the node cannot be allocated.
  bool AddTail(T* pData) {
    Node* pNode = new (std::nothrow) Node{nullptr, m_pTail, pData};
    if (pNode == nullptr) return false;
    if (m_pTail != nullptr) {
      m_pTail->pNext = pNode;
    } else {
      m_pHead = pNode;
    }
    m_pTail = pNode;
    ++m_nCount;
    return true;
  }

  // Unlinks the head and gives its element; null when the list is empty.
  T* RemoveHead() {
    Node* pNode = m_pHead;
    if (pNode == nullptr) return nullptr;
    m_pHead = pNode->pNext;
    if (m_pHead != nullptr) {
      m_pHead->pPrev = nullptr;
    } else {
      m_pTail = nullptr;
    }
    --m_nCount;
    T* pData = pNode->pData;
    delete pNode;
    return pData;
  }

  // Unlinks the first node holding `pData`; E_FAIL when none does.
  HRESULT Remove(T* pData) {
    for (Node* pNode = m_pHead; pNode != nullptr; pNode = pNode->pNext) {
      if (pNode->pData != pData) continue;
      (pNode->pPrev != nullptr ? pNode->pPrev->pNext : m_pHead) = pNode->pNext;
      (pNode->pNext != nullptr ? pNode->pNext->pPrev : m_pTail) = pNode->pPrev;
      --m_nCount;
      delete pNode;
      return S_OK;
    }
    return E_FAIL;
  }

  bool IsEmpty() const { return m_pHead == nullptr; }
  ULONG GetCount() const { return m_nCount; }
  Node* GetHead() const { return m_pHead; }
  Node* GetTail() const { return m_pTail; }

  // Range-for over the elements, head to tail.
  class Iterator {
   public:
    explicit Iterator(Node* pNode) : m_pNode(pNode) {}
    T* operator*() const { return m_pNode->pData; }
    Iterator& operator++() {
      m_pNode = m_pNode->pNext;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return m_pNode != other.m_pNode; }

   private:
    Node* m_pNode;
  };
  Iterator begin() const { return Iterator(m_pHead); }
  Iterator end() const { return Iterator(nullptr); }

 private:
  Node* m_pHead = nullptr;
  Node* m_pTail = nullptr;
  ULONG m_nCount = 0;
};
