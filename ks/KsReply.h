// Bounds checks for what a device hands back. A reply is only ever read inside the bytes the
// layer allocated for it and inside the length the reply gives itself; items that do not fit
// are not used.
#pragma once

#include "platform/ks.h"

// Largest multiple-item reply the layer accepts; a larger reported size is treated as an
// allocation failure.
#define KS_MAX_REPLY_SIZE (1u << 20)
// Most pin types the layer enumerates on one filter.
#define KS_MAX_PIN_TYPES 256u

// Allocates a zero-filled reply buffer of `cb` bytes; null on failure or above the limit.
BYTE* KsAllocReply(ULONG cb);
void KsFreeReply(void* pReply);

// The part of a multiple-item reply that can be trusted: at most `cbReply` bytes (what was
// allocated) and at most the reply's own Size. 0 when not even the header is there.
ULONG KsReplyLimit(const KSMULTIPLE_ITEM* pReply, ULONG cbReply);

// How many of the reply's Count items of `cbItem` bytes each lie wholly inside it.
ULONG KsFittingItems(const KSMULTIPLE_ITEM* pReply, ULONG cbReply, ULONG cbItem);

// How many of the reply's Count items of a data-range reply are whole. The items start at byte
// 8, each on an 8-byte boundary after the one before; an item is a data range (at least a
// KSDATARANGE long) or, right after a range flagged KSDATARANGE_ATTRIBUTES, that range's
// attribute list (a KSMULTIPLE_ITEM of at least its header's size). The walk stops at the
// first item that does not end inside the reply.
ULONG KsFittingDataRanges(const KSMULTIPLE_ITEM* pReply, ULONG cbReply);

// Copies the KSDATARANGE header at `pRange` (which may be unaligned).
KSDATARANGE KsReadDataRange(const BYTE* pRange);

// The data ranges among the whole items of a data-range reply (as KsFittingDataRanges counted
// them), in order, without the attribute lists.
class CKsDataRangeWalk {
 public:
  CKsDataRangeWalk(const BYTE* pFirstItem, ULONG cItems);
  // The next data range, or null after the last.
  const BYTE* Next();

 private:
  const BYTE* m_pNext;
  ULONG m_cLeft;
  bool m_fAttributesNext;
};
