// One queued kernel-streaming transfer: the stream header followed by the OVERLAPPED whose
// auto-reset event the pin signals when the transfer completes.
#pragma once

#include "platform/ks.h"
#include "platform/windows.h"

struct StreamPacket {
  KSSTREAM_HEADER header;
  OVERLAPPED overlapped;
};
