#include "ks/KsReply.h"

#include <cstring>
#include <new>

BYTE* KsAllocReply(ULONG cb) {
  if (cb > KS_MAX_REPLY_SIZE) return nullptr;
  return new (std::nothrow) BYTE[cb == 0 ? 1 : cb]();
}

void KsFreeReply(void* pReply) { delete[] static_cast<BYTE*>(pReply); }

ULONG KsReplyLimit(const KSMULTIPLE_ITEM* pReply, ULONG cbReply) {
  if (pReply == nullptr || cbReply < sizeof(KSMULTIPLE_ITEM)) return 0;
  KSMULTIPLE_ITEM header;
  std::memcpy(&header, pReply, sizeof header);
  if (header.Size < sizeof(KSMULTIPLE_ITEM)) return 0;
  return header.Size < cbReply ? header.Size : cbReply;
}

ULONG KsFittingItems(const KSMULTIPLE_ITEM* pReply, ULONG cbReply, ULONG cbItem) {
  const ULONG cbLimit = KsReplyLimit(pReply, cbReply);
  if (cbLimit == 0 || cbItem == 0) return 0;
  KSMULTIPLE_ITEM header;
  std::memcpy(&header, pReply, sizeof header);
  const ULONG cFit = (cbLimit - sizeof(KSMULTIPLE_ITEM)) / cbItem;
  return header.Count < cFit ? header.Count : cFit;
}

namespace {

// Items of a data-range reply start on 8-byte boundaries.
ULONG AlignItem(ULONG cbOffset) { return (cbOffset + 7u) & ~7u; }

// The size an item gives itself: a range's FormatSize, an attribute list's Size (both the
// first 32-bit value).
ULONG ItemSize(const BYTE* pItem) {
  ULONG cb;
  std::memcpy(&cb, pItem, sizeof cb);
  return cb;
}

bool HasAttributes(const BYTE* pRange) {
  return (KsReadDataRange(pRange).Flags & KSDATARANGE_ATTRIBUTES) != 0;
}

}  // namespace

ULONG KsFittingDataRanges(const KSMULTIPLE_ITEM* pReply, ULONG cbReply) {
  const ULONG cbLimit = KsReplyLimit(pReply, cbReply);
  if (cbLimit == 0) return 0;
  KSMULTIPLE_ITEM header;
  std::memcpy(&header, pReply, sizeof header);
  const BYTE* pbReply = reinterpret_cast<const BYTE*>(pReply);
  ULONG cbOffset = sizeof(KSMULTIPLE_ITEM);
  ULONG cItems = 0;
  bool fList = false;
  while (cItems < header.Count && cbOffset <= cbLimit) {
    const ULONG cbLeast = fList ? sizeof(KSMULTIPLE_ITEM) : sizeof(KSDATARANGE);
    if (cbLimit - cbOffset < cbLeast) break;
    const ULONG cbItem = ItemSize(pbReply + cbOffset);
    if (cbItem < cbLeast || cbItem > cbLimit - cbOffset) break;
    fList = !fList && HasAttributes(pbReply + cbOffset);
    cbOffset = AlignItem(cbOffset + cbItem);
    ++cItems;
  }
  return cItems;
}

CKsDataRangeWalk::CKsDataRangeWalk(const BYTE* pFirstItem, ULONG cItems)
    : m_pNext(pFirstItem), m_cLeft(pFirstItem != nullptr ? cItems : 0), m_fAttributesNext(false) {}

const BYTE* CKsDataRangeWalk::Next() {
  while (m_cLeft > 0) {
    const BYTE* pItem = m_pNext;
    const bool fList = m_fAttributesNext;
    --m_cLeft;
    m_fAttributesNext = !fList && HasAttributes(pItem);
    // The item's own offset is 8-byte aligned, so aligning its size aligns the next one, which
    // the count says lies inside the reply.
    if (m_cLeft > 0) m_pNext = pItem + AlignItem(ItemSize(pItem));
    if (!fList) return pItem;
  }
  return nullptr;
}

KSDATARANGE KsReadDataRange(const BYTE* pRange) {
  KSDATARANGE range;
  std::memcpy(&range, pRange, sizeof range);
  return range;
}
