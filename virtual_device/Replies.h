// Building property replies with the KS size conventions (internal).
#pragma once

#include <string>
#include <vector>

#include "platform/vkernel/VirtualKernel.h"

namespace vkx7 {
namespace detail {

// Answers a get request with `size` bytes: a request without output room is the size query
// (ERROR_MORE_DATA and the size), a short buffer gets ERROR_INSUFFICIENT_BUFFER; an empty
// answer succeeds with no bytes.
vk::IoStatus ReplyBytes(const vk::IoRequest& request, const void* value, DWORD size);

template <typename T>
vk::IoStatus ReplyValue(const vk::IoRequest& request, const T& value) {
  return ReplyBytes(request, &value, sizeof value);
}

// A KSMULTIPLE_ITEM reply: the header (Size covers it) followed by the items as given.
std::vector<BYTE> MultipleItem(const void* items, size_t bytes, ULONG count);
// Data ranges (and attribute lists) behind the header, each on an 8-byte boundary of the reply.
std::vector<BYTE> MultipleRanges(const std::vector<std::vector<BYTE>>& ranges);
// A terminated UTF-16LE string.
std::vector<BYTE> Utf16(const std::string& text);

// The value a set request carries in its output buffer, when it has at least `size` bytes.
bool ReadSetValue(const vk::IoRequest& request, void* value, DWORD size);

}  // namespace detail
}  // namespace vkx7
