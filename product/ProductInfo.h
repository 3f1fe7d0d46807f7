// The product's version and names, the one place they are written. Plain macros, so that the
// resource script reads them too; the build takes the project version from here.
#pragma once

#define KX7_VERSION_MAJOR 1
#define KX7_VERSION_MINOR 1
#define KX7_VERSION_PATCH 0
#define KX7_VERSION_BUILD 0
#define KX7_VERSION_TEXT "1.1.0.0"
#define KX7_PRODUCT_NAME "NORVA KX-7 ASIO"
#define KX7_COMPANY_NAME "Norva"
// The library's file name carries its bitness; the 64-bit name also serves the Linux build.
#define KX7_MODULE_STEM "NORVA-KX-7-ASIO"
#if defined(_WIN32) && !defined(_WIN64)
#define KX7_MODULE_BASE_NAME KX7_MODULE_STEM "-x86"
#else
#define KX7_MODULE_BASE_NAME KX7_MODULE_STEM "-x64"
#endif
#define KX7_FILE_NAME KX7_MODULE_BASE_NAME ".dll"
