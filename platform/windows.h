// The Win32 base API the system is written against. On Windows the SDK headers; elsewhere the
// emulation under platform/emu with the same names, types, values and contracts.
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <process.h>
#else
#include "platform/emu/types.h"
#include "platform/emu/errors.h"
#include "platform/emu/sync.h"
#include "platform/emu/module.h"
#include "platform/emu/registry.h"
#include "platform/emu/text.h"
#include "platform/emu/window.h"
#endif
