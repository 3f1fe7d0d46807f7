// Text services: ANSI lower-casing and wide/narrow conversion.
#pragma once

#include "platform/emu/types.h"

#define CP_ACP 0u
#define CP_UTF8 65001u

extern "C" {
LPSTR CharLowerA(LPSTR text);
LPSTR CharUpperA(LPSTR text);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR narrow,
                        int narrowSize, LPCSTR defaultChar, LPBOOL usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR narrow, int narrowCount, LPWSTR wide,
                        int wideSize);
}
