// The kernel-streaming layer in one include: IRP targets, filters, pins, nodes, audio filters
// and pins, filter enumeration, the choice of a device's filters and formats, and the trace
// facility.
#pragma once

#include "ks/KsAudFilter.h"
#include "ks/KsAudPin.h"
#include "ks/KsDeviceChoice.h"
#include "ks/KsEnumFilters.h"
#include "ks/KsFilter.h"
#include "ks/KsIrpTarget.h"
#include "ks/KsList.h"
#include "ks/KsNode.h"
#include "ks/KsPin.h"
#include "ks/KsReply.h"
#include "ks/KsTrace.h"
#include "ks/KsTypes.h"
