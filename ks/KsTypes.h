// Small enumerations of the kernel-streaming layer, 32 bits wide.
#pragma once

#include "platform/windows.h"

enum KsFilterType : ULONG {
  FilterTypeUnknown = 0,
  FilterTypeRender = 1,
  FilterTypeCapture = 2,
};

enum KsPinType : ULONG {
  PinTypeUnknown = 0,
  PinTypeRender = 1,
  PinTypeCapture = 2,
};

// How an audio pin is created: with the standard or the looped streaming interface, or as the
// pin prefers (any value other than 1 and 2).
enum KsStreamingMode : ULONG {
  KsStreamingModeDefault = 0,
  KsStreamingModeStandard = 1,
  KsStreamingModeLooped = 2,
};
