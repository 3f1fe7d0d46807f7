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

ULONG KsFittingDataRanges(const KSMULTIPLE_ITEM* pReply, ULONG cbReply) {
  const ULONG cbLimit = KsReplyLimit(pReply, cbReply);
  if (cbLimit == 0) return 0;
  KSMULTIPLE_ITEM header;
  std::memcpy(&header, pReply, sizeof header);
  const BYTE* pbReply = reinterpret_cast<const BYTE*>(pReply);
  ULONG cbOffset = sizeof(KSMULTIPLE_ITEM);
  ULONG cRanges = 0;
  while (cRanges < header.Count && cbLimit - cbOffset >= sizeof(KSDATARANGE)) {
    const KSDATARANGE range = KsReadDataRange(pbReply + cbOffset);
    if (range.FormatSize < sizeof(KSDATARANGE) || range.FormatSize > cbLimit - cbOffset) break;
    cbOffset += range.FormatSize;
    ++cRanges;
  }
  return cRanges;
}

KSDATARANGE KsReadDataRange(const BYTE* pRange) {
  KSDATARANGE range;
  std::memcpy(&range, pRange, sizeof range);
  return range;
}
