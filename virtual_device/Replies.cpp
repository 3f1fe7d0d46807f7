#include "virtual_device/Replies.h"

#include <cstring>

#include "platform/ks.h"

namespace vkx7 {
namespace detail {

vk::IoStatus ReplyBytes(const vk::IoRequest& request, const void* value, DWORD size) {
  if (size == 0) return {ERROR_SUCCESS, 0};  // nothing to answer
  if (request.outputSize == 0) return {ERROR_MORE_DATA, size};
  if (request.outputSize < size) return {ERROR_INSUFFICIENT_BUFFER, size};
  if (request.output == nullptr) return {ERROR_NOACCESS, 0};
  if (size != 0) std::memcpy(request.output, value, size);
  return {ERROR_SUCCESS, size};
}

std::vector<BYTE> MultipleItem(const void* items, size_t bytes, ULONG count) {
  std::vector<BYTE> reply(sizeof(KSMULTIPLE_ITEM) + bytes);
  KSMULTIPLE_ITEM header;
  header.Size = static_cast<ULONG>(reply.size());
  header.Count = count;
  std::memcpy(reply.data(), &header, sizeof header);
  if (bytes != 0) std::memcpy(reply.data() + sizeof header, items, bytes);
  return reply;
}

std::vector<BYTE> MultipleRanges(const std::vector<std::vector<BYTE>>& ranges) {
  std::vector<BYTE> body;
  for (const std::vector<BYTE>& range : ranges) {
    // Each item starts on an 8-byte boundary of the reply, as KS lays them out.
    body.resize((body.size() + 7) / 8 * 8, 0);
    body.insert(body.end(), range.begin(), range.end());
  }
  body.resize((body.size() + 7) / 8 * 8, 0);
  return MultipleItem(body.data(), body.size(), static_cast<ULONG>(ranges.size()));
}

std::vector<BYTE> Utf16(const std::string& text) {
  std::vector<BYTE> bytes;
  for (char c : text) {
    bytes.push_back(static_cast<BYTE>(c));
    bytes.push_back(0);
  }
  bytes.push_back(0);
  bytes.push_back(0);
  return bytes;
}

bool ReadSetValue(const vk::IoRequest& request, void* value, DWORD size) {
  if (request.output == nullptr || request.outputSize < size) return false;
  std::memcpy(value, request.output, size);
  return true;
}

}  // namespace detail
}  // namespace vkx7
