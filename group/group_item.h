// A client's item in a group: a point plus the client's settings and the value last reported to
// that client. The point's description, item ID and server handle are its point item's.
#pragma once

#include "addrspace/opc_item.h"
#include "values/value_record.h"

#include "opcda.h"

struct GroupItem {
    COPCItem* point = nullptr;  // the point item of the address space; lives as long as the process
    OPCHANDLE clientHandle = 0;
    bool active = true;
    VARTYPE requestedType = VT_EMPTY;  // VT_EMPTY: the canonical type
    bool deadbandSet = false;
    FLOAT itemDeadband = 0.0f;
    values::ValueRecord value = values::ValueRecord::Fresh();

    OPCHANDLE serverHandle() const { return point->serverHandle(); }

    // A copy for another group: the point and the client's settings, not the deadband nor the value.
    GroupItem CopyForClone() const {
        GroupItem copy;
        copy.point = point;
        copy.clientHandle = clientHandle;
        copy.active = active;
        copy.requestedType = requestedType;
        return copy;
    }
};
