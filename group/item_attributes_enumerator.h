// IEnumOPCItemAttributes over a snapshot of a group's items.
#pragma once

#include "com/enumerator.h"
#include "com/task_memory.h"
#include "opcda.h"

#include <string>

struct ItemAttributes {
    std::wstring accessPath;
    std::wstring itemId;
    BOOL active = FALSE;
    OPCHANDLE clientHandle = 0;
    OPCHANDLE serverHandle = 0;
    DWORD accessRights = 0;
    VARTYPE requestedType = VT_EMPTY;
    VARTYPE canonicalType = VT_EMPTY;
};

struct ItemAttributesItems {
    using Item = ItemAttributes;
    using Out = OPCITEMATTRIBUTES;
    static constexpr bool taskArray = true;
    static constexpr HRESULT missingCountError = E_POINTER;

    static HRESULT copy(const ItemAttributes& item, OPCITEMATTRIBUTES& out) noexcept {
        out.bActive = item.active;
        out.hClient = item.clientHandle;
        out.hServer = item.serverHandle;
        out.dwAccessRights = item.accessRights;
        out.vtRequestedDataType = item.requestedType;
        out.vtCanonicalDataType = item.canonicalType;
        out.dwEUType = OPC_NOENUM;  // for every item, analog ones too; no EU info is handed out
        VariantInit(&out.vEUInfo);
        out.szAccessPath = korvex::com::taskStringCopy(item.accessPath).release();
        out.szItemID = korvex::com::taskStringCopy(item.itemId).release();
        return out.szAccessPath && out.szItemID ? S_OK : E_OUTOFMEMORY;
    }

    static void destroy(OPCITEMATTRIBUTES& out) noexcept {
        CoTaskMemFree(out.szAccessPath);
        CoTaskMemFree(out.szItemID);
        VariantClear(&out.vEUInfo);
        out = OPCITEMATTRIBUTES{};
    }
};

using ItemAttributesEnumerator = korvex::com::Enumerator<IEnumOPCItemAttributes, ItemAttributesItems>;
