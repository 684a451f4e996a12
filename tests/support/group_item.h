// One item added to a group the way most cases add it: by item ID, with its client handle,
// requested type and active state, the call expected to succeed.
#pragma once

#include "opcda.h"
#include "tests/support/hresult.h"

#include <gtest/gtest.h>
#include <objbase.h>

namespace korvex::test {

// The item's server handle (0 when it was not added).
inline OPCHANDLE AddOneItem(IOPCItemMgt& group, const wchar_t* itemId, OPCHANDLE clientHandle,
                            VARTYPE requested = VT_EMPTY, BOOL active = TRUE) {
    OPCITEMDEF d{};
    d.szAccessPath = const_cast<LPWSTR>(L"");
    d.szItemID = const_cast<LPWSTR>(itemId);
    d.bActive = active;
    d.hClient = clientHandle;
    d.vtRequestedDataType = requested;
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    EXPECT_HR(group.AddItems(1, &d, &results, &errors), S_OK) << "adding " << itemId;
    const OPCHANDLE handle = results ? results[0].hServer : 0;
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return handle;
}

}  // namespace korvex::test
