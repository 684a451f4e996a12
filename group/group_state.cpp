// IOPCGroupStateMgt, IOPCGroupStateMgt2 and IOPCPublicGroupStateMgt of the group.
#include "group/opc_group.h"

#include "com/com_boundary.h"
#include "com/task_memory.h"
#include "group/update_rate.h"
#include "opcerror.h"
#include "values/value_record.h"

using korvex::com::ComPtr;

HRESULT COPCGroup::GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, FLOAT* pPercentDeadband,
                            DWORD* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup ||
        !phServerGroup)
        return E_POINTER;
    const State s = state();
    if (const HRESULT hr = korvex::com::taskStringCopy(s.name, ppName); FAILED(hr)) return hr;
    *pUpdateRate = s.updateRate;
    *pActive = s.active;
    *pTimeBias = s.timeBias;
    *pPercentDeadband = s.percentDeadband;
    *pLCID = s.lcid;
    *phClientGroup = s.clientGroupHandle;
    *phServerGroup = serverGroupHandle_;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                            FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (pRevisedUpdateRate == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    if (pActive) {
        // A deactivated group's items are emptied, so the next update after reactivation reports them.
        if (state_.active && !*pActive) {
            for (GroupItem& item : items_.list()) values::ResetOutOfService(item.value);
        }
        // A group that becomes active is scanned in the next tick: the countdown ran on while it
        // was inactive, and a client that activates its group once subscribed waits for its first
        // values no longer than one base period, whatever its update rate.
        if (!state_.active && *pActive) updateCountdown_ = 0;
        state_.active = *pActive ? TRUE : FALSE;
    }
    if (pTimeBias) state_.timeBias = *pTimeBias;
    if (pPercentDeadband) state_.percentDeadband = *pPercentDeadband;
    if (pLCID) state_.lcid = *pLCID;
    if (phClientGroup) state_.clientGroupHandle = *phClientGroup;
    if (!pRequestedUpdateRate) return S_OK;
    // A new rate takes effect when the running countdown to the group's next update expires.
    state_.updateRate = ReviseUpdateRate(*pRequestedUpdateRate);
    *pRevisedUpdateRate = state_.updateRate;
    return state_.updateRate == *pRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetName(LPCWSTR szName) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    const std::wstring newName = szName ? szName : L"";
    if (newName.empty()) return E_INVALIDARG;
    // The server lock before the group lock.
    std::lock_guard tableGuard(table_->lock());
    const std::wstring oldName = name();
    if (newName == oldName) return S_OK;
    if (table_->Contains(newName)) return OPC_E_DUPLICATENAME;
    if (!table_->Rename(oldName, newName)) return E_FAIL;  // the server object is gone
    std::lock_guard guard(lock_);
    state_.name = newName;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::CloneGroup(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (ppUnk == nullptr) return E_POINTER;
    *ppUnk = nullptr;
    std::wstring cloneName = szName ? szName : L"";
    if (cloneName.empty()) {
        cloneName = table_->NextDefaultName();
    } else if (table_->Contains(cloneName)) {
        return OPC_E_DUPLICATENAME;
    }

    ComPtr<COPCGroup> clone = korvex::com::make<COPCGroup>(context_, table_);
    if (!clone) return E_OUTOFMEMORY;
    const HRESULT query = clone->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(query)) {
        *ppUnk = nullptr;
        return query;
    }
    // A clone keeps its own keep-alive, callbacks and subscribers, and starts inactive. Its items
    // are copies without deadband and value, taken under the source's lock.
    {
        std::lock_guard sourceGuard(lock_);
        State copied = state_;
        copied.name = cloneName;
        copied.active = FALSE;
        copied.keepAliveTime = 0;
        clone->SetInitialState(copied);
        std::lock_guard cloneGuard(clone->lock_);
        for (const GroupItem& item : items_.list()) clone->items_.Append(item.CopyForClone());
    }
    if (!table_->Add(cloneName, clone)) {
        (*ppUnk)->Release();
        *ppUnk = nullptr;
        // Another call took the name meanwhile, or the server object went away.
        return table_->Contains(cloneName) ? OPC_E_DUPLICATENAME : E_FAIL;
    }
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::SetKeepAlive(DWORD dwKeepAliveTime, DWORD* pdwRevisedKeepAliveTime) try {
    if (const HRESULT gate = CheckGates(); FAILED(gate)) return gate;
    if (pdwRevisedKeepAliveTime == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    state_.keepAliveTime = ReviseKeepAlive(dwKeepAliveTime);
    *pdwRevisedKeepAliveTime = state_.keepAliveTime;
    keepAliveElapsed_ = 0;
    keepAliveArmed_ = false;
    return state_.keepAliveTime == dwKeepAliveTime ? S_OK : OPC_S_UNSUPPORTEDRATE;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::GetKeepAlive(DWORD* pdwKeepAliveTime) try {
    if (pdwKeepAliveTime == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    if (removePending_) return E_FAIL;
    *pdwKeepAliveTime = state_.keepAliveTime;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::GetState(BOOL* pPublic) try { return pPublic == nullptr ? E_POINTER : E_NOTIMPL; } catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCGroup::MoveToPublic() try { return E_NOTIMPL; } catch (...) {
    return korvex::com::ExceptionToHResult();
}
