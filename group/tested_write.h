// A write as every write interface makes it: the write test the value must pass, then the write to
// the runtime.
#pragma once

#include "addrspace/address_space.h"
#include "rtdb/point_descriptor.h"

#include <oaidl.h>

// OPC_E_BADRIGHTS for a point that is not writeable (before the value is looked at);
// OPC_E_RANGE for a NaN or an infinity; OPC_E_BADTYPE for a value that does not convert to the
// canonical type; OPC_E_RANGE for a value whose conversion lies outside the limits of a point with
// an engineering range; OPC_S_CLAMP, with `value` converted in place, for a value of another
// type; else S_OK.
HRESULT WriteTest(const PointDescriptor& point, VARIANT& value);

// A write of one point as every write interface makes it: the write test, then the write to the
// runtime, without the point's lock (E_FAIL when it does not get there). Quality and timestamp are
// passed on only where given.
HRESULT TestAndWritePoint(const COPCAddressSpaceMgt& space, COPCItem& point, const VARIANT& value, const WORD* quality,
                          const FILETIME* timestamp);
