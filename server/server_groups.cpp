// IOPCServer of the server object: the client's groups and the server status.
#include "server/opc_server.h"

#include "com/com_boundary.h"
#include "com/standard_enumerators.h"
#include "com/task_memory.h"
#include "group/opc_group.h"
#include "group/update_rate.h"
#include "opcerror.h"
#include "server/status_codes.h"

using korvex::com::ComPtr;

namespace {

constexpr const wchar_t* kVendorInfo = L"Korvex OPC Server";
// The project's version (CMake), which the setup program also carries.
constexpr WORD kMajorVersion = KORVEX_VERSION_MAJOR;
constexpr WORD kMinorVersion = KORVEX_VERSION_MINOR;
constexpr WORD kBuildNumber = KORVEX_VERSION_BUILD;
constexpr LCID kEnglishUS = 1033;

}  // namespace

HRESULT COPCServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                             LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                             DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_POINTER;
    *ppUnk = nullptr;
    std::wstring name = szName ? szName : L"";
    if (name.empty()) {
        name = groups_->NextDefaultName();
    } else if (groups_->Contains(name)) {
        return OPC_E_DUPLICATENAME;
    }

    ComPtr<COPCGroup> group = korvex::com::make<COPCGroup>(context_, groups_);
    if (!group) return E_OUTOFMEMORY;
    const HRESULT query = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (FAILED(query)) {
        *ppUnk = nullptr;
        return query;  // the group goes; its handle stays spent
    }

    COPCGroup::State state = group->state();
    state.name = name;
    state.active = bActive ? TRUE : FALSE;
    state.clientGroupHandle = hClientGroup;
    if (pTimeBias) state.timeBias = *pTimeBias;
    // A percent deadband is taken from AddGroup only as a fraction up to 1.0; anything else is
    // ignored without error (SetState stores any value).
    if (pPercentDeadband && *pPercentDeadband > 0.0f && *pPercentDeadband <= 1.0f)
        state.percentDeadband = *pPercentDeadband;
    if (dwLCID == kEnglishUS) state.lcid = dwLCID;
    state.updateRate = ReviseUpdateRate(dwRequestedUpdateRate);
    group->SetInitialState(state);

    if (!groups_->Add(name, group)) {
        // Another call of this client took the name meanwhile.
        (*ppUnk)->Release();
        *ppUnk = nullptr;
        return OPC_E_DUPLICATENAME;
    }
    *phServerGroup = group->serverGroupHandle();
    *pRevisedUpdateRate = state.updateRate;
    return state.updateRate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) try {
    return server::GetErrorText(dwError, dwLocale, ppString);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (ppUnk == nullptr) return E_POINTER;
    *ppUnk = nullptr;
    if (szName == nullptr || *szName == L'\0') return E_INVALIDARG;
    const ComPtr<COPCGroup> group = groups_->Find(szName);
    if (!group) return E_FAIL;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) try {
    if (ppServerStatus == nullptr) return E_POINTER;
    *ppServerStatus = nullptr;
    auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
    if (status == nullptr) return E_OUTOFMEMORY;
    *status = OPCSERVERSTATUS{};
    status->ftStartTime = context_.state.startTime();
    CoFileTimeNow(&status->ftCurrentTime);
    status->ftLastUpdateTime = groups_->LastUpdateTime();
    status->dwServerState = context_.state.status();
    status->dwGroupCount = static_cast<DWORD>(groups_->Count());
    status->dwBandWidth = 0xFFFFFFFF;
    status->wMajorVersion = kMajorVersion;
    status->wMinorVersion = kMinorVersion;
    status->wBuildNumber = kBuildNumber;
    status->szVendorInfo = korvex::com::taskStringCopy(kVendorInfo).release();
    if (status->szVendorInfo == nullptr) {
        CoTaskMemFree(status);
        return E_OUTOFMEMORY;
    }
    *ppServerStatus = status;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) try {
    if (context_.state.IsFailed()) return E_FAIL;
    std::lock_guard guard(groups_->lock());
    ComPtr<COPCGroup> group = groups_->FindByHandle(hServerGroup);
    if (!group) return E_INVALIDARG;  // no group, another client's group, or a destroyed one
    if (bForce) {
        group->SetRemovePending(false);
        CoDisconnectObject(group->identity(), 0);
        groups_->Remove(group->name());
        return S_OK;
    }
    group->SetRemovePending(true);
    // Two references: the table's and ours. Any more, and the client still holds the group: it
    // leaves the table when the client lets go.
    if (group->refCount() > 2) return OPC_S_INUSE;
    group->SetRemovePending(false);
    groups_->Remove(group->name());
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::CreateGroupEnumerator(OPCENUMSCOPE /*dwScope*/, REFIID riid, LPUNKNOWN* ppUnk) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (riid != IID_IEnumString && riid != IID_IEnumUnknown) return E_INVALIDARG;
    if (ppUnk == nullptr) return E_INVALIDARG;
    *ppUnk = nullptr;
    // A snapshot: later changes to the group list do not show in it. Every scope lists all of
    // this client's groups; there are no public groups.
    const std::vector<GroupTable::Entry> entries = groups_->Snapshot();
    HRESULT hr;
    if (riid == IID_IEnumString) {
        std::vector<std::wstring> names;
        for (const GroupTable::Entry& entry : entries) names.push_back(entry.name);
        auto enumerator = korvex::com::make<korvex::com::StringEnumerator>(std::move(names));
        if (!enumerator) return E_OUTOFMEMORY;
        hr = enumerator->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    } else {
        std::vector<ComPtr<IUnknown>> groups;
        for (const GroupTable::Entry& entry : entries) groups.emplace_back(entry.group->identity());
        auto enumerator = korvex::com::make<korvex::com::UnknownEnumerator>(std::move(groups));
        if (!enumerator) return E_OUTOFMEMORY;
        hr = enumerator->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    }
    if (FAILED(hr)) return hr;
    return entries.empty() ? S_FALSE : S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
