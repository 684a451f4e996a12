// IOPCItemDeadbandMgt of the group: a percent deadband of an analog item's own, which the update
// scan applies instead of the group's. Items are used under the group lock, so that a concurrent
// RemoveItems or the group's destruction never takes one away underneath.
#include "group/opc_group.h"

#include "com/com_boundary.h"
#include "com/task_memory.h"
#include "opcerror.h"

using korvex::com::ErrorArray;
using korvex::com::TaskArray;

namespace {

// Only an analog point with a range ("EUType" 1) has something to take a percentage of.
HRESULT CheckDeadbandSupported(const GroupItem* item) {
    if (!item) return OPC_E_INVALIDHANDLE;
    if (!item->point->HasAnalogEU()) return OPC_E_DEADBANDNOTSUPPORTED;
    return S_OK;
}

HRESULT CheckDeadbandSet(const GroupItem* item) {
    if (const HRESULT supported = CheckDeadbandSupported(item); FAILED(supported)) return supported;
    return item->deadbandSet ? S_OK : OPC_E_DEADBANDNOTSET;
}

}  // namespace

HRESULT COPCGroup::SetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT* pPercentDeadband,
                                   HRESULT** ppErrors) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (phServer == nullptr || pPercentDeadband == nullptr) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    {
        std::lock_guard guard(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            const FLOAT percent = pPercentDeadband[i];
            // Written so that NaN fails too: as a band it would hide every change of the item.
            if (!(percent >= 0.0f && percent <= 100.0f)) {
                errors[i] = E_INVALIDARG;
                continue;
            }
            GroupItem* item = items_.Find(phServer[i]);
            errors[i] = CheckDeadbandSupported(item);
            if (FAILED(errors[i])) continue;
            item->itemDeadband = percent;
            item->deadbandSet = true;
        }
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::GetItemDeadband(DWORD dwCount, OPCHANDLE* phServer, FLOAT** ppPercentDeadband,
                                   HRESULT** ppErrors) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppPercentDeadband == nullptr || ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0) return E_INVALIDARG;
    *ppPercentDeadband = nullptr;
    *ppErrors = nullptr;
    if (phServer == nullptr) return E_INVALIDARG;
    TaskArray<FLOAT> deadbands;
    ErrorArray errors;
    if (FAILED(deadbands.allocate(dwCount)) || FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    {
        std::lock_guard guard(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            const GroupItem* item = items_.Find(phServer[i]);
            errors[i] = CheckDeadbandSet(item);
            deadbands[i] = SUCCEEDED(errors[i]) ? item->itemDeadband : 0.0f;
        }
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppPercentDeadband = deadbands.release();
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::ClearItemDeadband(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppErrors == nullptr) return E_POINTER;
    if (dwCount == 0) return E_INVALIDARG;
    *ppErrors = nullptr;
    if (phServer == nullptr) return E_INVALIDARG;
    ErrorArray errors;
    if (FAILED(errors.allocate(dwCount))) return E_OUTOFMEMORY;
    {
        std::lock_guard guard(lock_);
        for (DWORD i = 0; i < dwCount; ++i) {
            GroupItem* item = items_.Find(phServer[i]);
            errors[i] = CheckDeadbandSet(item);
            if (FAILED(errors[i])) continue;
            item->deadbandSet = false;
            item->itemDeadband = 0.0f;
        }
    }
    const HRESULT result = korvex::com::itemsResult(errors.items());
    *ppErrors = errors.release();
    return result;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
