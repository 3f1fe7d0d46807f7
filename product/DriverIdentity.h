// The driver's fixed identity: class identifier (also the interface identifier of IASIO), names.
#pragma once

#include <cstdint>

#include "platform/windows.h"
#include "product/ProductInfo.h"

// {C8817D90-B773-48F1-8708-4ECD6D913F64}
inline const CLSID CLSID_NorvaKx7Asio = {
    0xc8817d90, 0xb773, 0x48f1, {0x87, 0x08, 0x4e, 0xcd, 0x6d, 0x91, 0x3f, 0x64}};

inline constexpr const char kDriverName[] = KX7_PRODUCT_NAME;
inline constexpr const WCHAR kDriverDisplayName[] = L"" KX7_PRODUCT_NAME;
inline constexpr const char kDriverKeyName[] = KX7_PRODUCT_NAME " Driver";
inline constexpr const char kModuleBaseName[] = KX7_MODULE_BASE_NAME;
inline constexpr const char kThreadingModel[] = "Apartment";
inline constexpr int32_t kDriverVersion = 1;
