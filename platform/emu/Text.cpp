// Text services. The ANSI code page is taken to be Latin-1; UTF-8 is converted as such.
#include <string>

#include "platform/emu/errors.h"
#include "platform/emu/text.h"

namespace {

void AppendUtf8(std::string* out, uint32_t c) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

extern "C" {

LPSTR CharLowerA(LPSTR text) {
  for (char* c = text; c != nullptr && *c != '\0'; ++c) {
    if (*c >= 'A' && *c <= 'Z') *c = static_cast<char>(*c - 'A' + 'a');
  }
  return text;
}

LPSTR CharUpperA(LPSTR text) {
  for (char* c = text; c != nullptr && *c != '\0'; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  return text;
}

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR narrow,
                        int narrowSize, LPCSTR, LPBOOL) {
  if (wide == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::string out;
  for (int i = 0; wideCount < 0 ? true : i < wideCount; ++i) {
    const auto c = static_cast<uint32_t>(wide[i]);
    if (codePage == CP_UTF8) {
      AppendUtf8(&out, c);
    } else {
      out += c < 0x100 ? static_cast<char>(c) : '?';
    }
    if (wideCount < 0 && c == 0) break;
  }
  if (narrowSize == 0) return static_cast<int>(out.size());
  if (narrow == nullptr || static_cast<int>(out.size()) > narrowSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  out.copy(narrow, out.size());
  return static_cast<int>(out.size());
}

int MultiByteToWideChar(UINT, DWORD, LPCSTR narrow, int narrowCount, LPWSTR wide, int wideSize) {
  if (narrow == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int count =
      narrowCount < 0 ? static_cast<int>(std::char_traits<char>::length(narrow)) + 1 : narrowCount;
  if (wideSize == 0) return count;
  if (wide == nullptr || count > wideSize) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < count; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
  return count;
}

}  // extern "C"
