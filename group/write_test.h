// The test every write runs before its value goes to the runtime.
#pragma once

#include "group/point_descriptor.h"

#include <oaidl.h>

// OPC_E_BADRIGHTS for a point that is not writeable (before the value is looked at);
// OPC_E_BADTYPE for a value that does not convert to the canonical type; OPC_S_CLAMP, with
// `value` converted in place and no range test, for a value of another type; OPC_E_RANGE for a
// canonical value outside the limits of a point with an engineering range; else S_OK.
HRESULT WriteTest(const PointDescriptor& point, VARIANT& value);
