// The server object's groups, error strings, status, locale, client name, server list and
// shutdown connection point. Canned rules:
//   groups         AddGroup with an empty name names the group "组<its handle>"; handles count from
//                  0x51; a group added without a time bias gets kServerTimeBias, without a deadband 0;
//                  RemoveGroup and RemovePublicGroup answer the echo of (handle, force)
//   enumerators    CreateGroupEnumerator answers S_FALSE when there is no group in the scope
//   error strings  errorText(); locales 0, LOCALE_SYSTEM_DEFAULT and LOCALE_USER_DEFAULT mean the
//                  server's locale (SetLocaleID), whose defaults mean English
//   shutdown       SetClientName sends the name as the reason of ShutdownRequest when a client
//                  sink is connected: any text can go through IOPCShutdown that way
//   server list    EnumClassesOfCategories lists the implemented categories, the required ones,
//                  then kServerClsid; GetClassDetails of another class gives "Unregistered.<class>"
//                  with an empty user type (and no version-independent ProgID); CLSIDFromProgID reads
//                  the class back from "<anything>.{class}"
#include "canned_server.h"

#include "callback_worker.h"
#include "conformance_protocol.h"

#include "com/standard_enumerators.h"
#include "com/task_memory.h"
#include "opcerror.h"

#include <algorithm>

namespace conformance {

using korvex::com::ComPtr;
using korvex::com::TaskArray;
using korvex::com::taskStringCopy;

namespace {

bool isDefaultLocale(LCID locale) {
    return locale == LOCALE_NEUTRAL || locale == LOCALE_SYSTEM_DEFAULT || locale == LOCALE_USER_DEFAULT;
}

std::wstring guidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

struct GuidItems {
    using Item = GUID;
    using Out = GUID;
    static HRESULT copy(const GUID& item, GUID& out) noexcept {
        out = item;
        return S_OK;
    }
    static void destroy(GUID&) noexcept {}
};

std::vector<GUID> listedClasses(ULONG cImplemented, const CATID* implemented, ULONG cRequired, const CATID* required) {
    std::vector<GUID> classes(implemented, implemented + cImplemented);
    classes.insert(classes.end(), required, required + cRequired);
    classes.push_back(kServerClsid);
    return classes;
}

}  // namespace

CannedServer::CannedServer()
    : shutdownPoint_(korvex::com::make<SingleConnectionPoint<IOPCShutdown>>(this)) {}

void CannedServer::finalRelease() noexcept {
    if (shutdownPoint_) shutdownPoint_->detach();
    std::vector<ComPtr<CannedGroup>> groups;
    {
        std::lock_guard lock(mutex_);
        groups.swap(groups_);
    }
    for (const auto& group : groups) group->orphan();
}

// GroupOwner --------------------------------------------------------------------------------------

bool CannedServer::nameInUse(const std::wstring& name, const CannedGroup* except) {
    std::lock_guard lock(mutex_);
    return std::any_of(groups_.begin(), groups_.end(),
                       [&](const ComPtr<CannedGroup>& g) { return g.Get() != except && g->name() == name; });
}

HRESULT CannedServer::adopt(ComPtr<CannedGroup> group) {
    std::lock_guard lock(mutex_);
    groups_.push_back(std::move(group));
    return S_OK;
}

OPCHANDLE CannedServer::newGroupHandle() {
    std::lock_guard lock(mutex_);
    return ++lastGroupHandle_;
}

ComPtr<CannedGroup> CannedServer::findGroup(bool isPublic, const wchar_t* name, OPCHANDLE handle) {
    std::lock_guard lock(mutex_);
    for (const auto& group : groups_) {
        if (group->isPublic() != isPublic) continue;
        if (name ? group->name() == name : group->serverHandle() == handle) return group;
    }
    return nullptr;
}

HRESULT CannedServer::removeGroup(bool isPublic, OPCHANDLE handle, BOOL force) {
    ComPtr<CannedGroup> removed;
    {
        std::lock_guard lock(mutex_);
        const auto found = std::find_if(groups_.begin(), groups_.end(), [&](const ComPtr<CannedGroup>& g) {
            return g->isPublic() == isPublic && g->serverHandle() == handle;
        });
        if (found == groups_.end()) return E_INVALIDARG;
        removed = std::move(*found);
        groups_.erase(found);
    }
    removed->orphan();
    return (Echo{} << handle << force).code();
}

LCID CannedServer::effectiveLocale(LCID locale) {
    if (isDefaultLocale(locale)) {
        std::lock_guard lock(mutex_);
        locale = locale_;
    }
    return isDefaultLocale(locale) ? kEnglish : locale;
}

// IOPCServer --------------------------------------------------------------------------------------

HRESULT CannedServer::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                               LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                               DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) {
    *phServerGroup = 0;
    *pRevisedUpdateRate = 0;
    *ppUnk = nullptr;
    if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
    GroupState state;
    state.serverHandle = newGroupHandle();
    state.name = szName && *szName ? std::wstring(szName) : L"\u7ec4" + std::to_wstring(state.serverHandle);
    if (nameInUse(state.name, nullptr)) return OPC_E_DUPLICATENAME;
    state.clientHandle = hClientGroup;
    state.active = bActive;
    state.updateRate = CannedGroup::reviseRate(dwRequestedUpdateRate);
    state.timeBias = pTimeBias ? *pTimeBias : kServerTimeBias;
    state.percentDeadband = pPercentDeadband ? *pPercentDeadband : 0.0f;
    state.lcid = dwLCID;
    ComPtr<CannedGroup> group = korvex::com::make<CannedGroup>(this, state);
    if (!group) return E_OUTOFMEMORY;
    if (const HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)); FAILED(hr)) return hr;
    adopt(group);
    *phServerGroup = state.serverHandle;
    *pRevisedUpdateRate = state.updateRate;
    return state.updateRate == dwRequestedUpdateRate ? S_OK : OPC_S_UNSUPPORTEDRATE;
}

HRESULT CannedServer::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
    *ppString = nullptr;
    const auto text = errorText(dwError, effectiveLocale(dwLocale));
    if (!text) return E_INVALIDARG;
    return taskStringCopy(*text, ppString);
}

HRESULT CannedServer::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    *ppUnk = nullptr;
    const ComPtr<CannedGroup> group = findGroup(false, szName, 0);
    if (!group) return E_INVALIDARG;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT CannedServer::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
    *ppServerStatus = nullptr;
    std::wstring vendor = kVendorInfo;
    DWORD groupCount = 0;
    {
        std::lock_guard lock(mutex_);
        if (!clientName_.empty()) vendor += L"; " + clientName_;
        groupCount = static_cast<DWORD>(groups_.size());
    }
    auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
    if (!status) return E_OUTOFMEMORY;
    *status = OPCSERVERSTATUS{};
    status->ftStartTime = kStartTime;
    status->ftCurrentTime = kCurrentTime;
    status->dwServerState = OPC_STATUS_RUNNING;
    status->dwGroupCount = groupCount;
    status->dwBandWidth = 0xFFFFFFFF;
    status->wMajorVersion = 3;
    status->wMinorVersion = 0;
    status->wBuildNumber = 0x1234;
    if (FAILED(taskStringCopy(vendor, &status->szVendorInfo))) {
        CoTaskMemFree(status);
        return E_OUTOFMEMORY;
    }
    *ppServerStatus = status;
    return S_OK;
}

HRESULT CannedServer::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    return removeGroup(false, hServerGroup, bForce);
}

HRESULT CannedServer::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
    *ppUnk = nullptr;
    bool withPrivate = false, withPublic = false;
    switch (dwScope) {
    case OPC_ENUM_PRIVATE_CONNECTIONS:
    case OPC_ENUM_PRIVATE:
        withPrivate = true;
        break;
    case OPC_ENUM_PUBLIC_CONNECTIONS:
    case OPC_ENUM_PUBLIC:
        withPublic = true;
        break;
    case OPC_ENUM_ALL_CONNECTIONS:
    case OPC_ENUM_ALL:
        withPrivate = withPublic = true;
        break;
    default:
        return E_INVALIDARG;
    }
    std::vector<std::wstring> names;
    std::vector<ComPtr<IUnknown>> objects;
    {
        std::lock_guard lock(mutex_);
        for (const auto& group : groups_) {
            if (group->isPublic() ? !withPublic : !withPrivate) continue;
            names.push_back(group->name());
            objects.emplace_back(group->identity());
        }
    }
    const HRESULT found = names.empty() ? S_FALSE : S_OK;
    HRESULT hr = E_NOINTERFACE;
    if (riid == IID_IEnumString) {
        auto enumerator = korvex::com::make<korvex::com::StringEnumerator>(std::move(names));
        hr = enumerator ? enumerator->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)) : E_OUTOFMEMORY;
    } else if (riid == IID_IEnumUnknown) {
        auto enumerator = korvex::com::make<korvex::com::UnknownEnumerator>(std::move(objects));
        hr = enumerator ? enumerator->QueryInterface(riid, reinterpret_cast<void**>(ppUnk)) : E_OUTOFMEMORY;
    }
    return FAILED(hr) ? hr : found;
}

// IOPCServerPublicGroups --------------------------------------------------------------------------

HRESULT CannedServer::GetPublicGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
    *ppUnk = nullptr;
    const ComPtr<CannedGroup> group = findGroup(true, szName, 0);
    if (!group) return E_INVALIDARG;
    return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT CannedServer::RemovePublicGroup(OPCHANDLE hServerGroup, BOOL bForce) {
    return removeGroup(true, hServerGroup, bForce);
}

// IOPCCommon --------------------------------------------------------------------------------------

HRESULT CannedServer::SetLocaleID(LCID dwLcid) {
    if (dwLcid != kEnglish && dwLcid != kChineseLocale && dwLcid != LOCALE_SYSTEM_DEFAULT &&
        dwLcid != LOCALE_USER_DEFAULT)
        return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    locale_ = dwLcid;
    return S_OK;
}

HRESULT CannedServer::GetLocaleID(LCID* pdwLcid) {
    std::lock_guard lock(mutex_);
    *pdwLcid = locale_;
    return S_OK;
}

HRESULT CannedServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) {
    *pdwCount = 0;
    *pdwLcid = nullptr;
    const LCID available[] = {kEnglish, kChineseLocale, LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT};
    TaskArray<LCID> locales;
    if (FAILED(locales.allocate(std::size(available)))) return E_OUTOFMEMORY;
    std::copy(std::begin(available), std::end(available), locales.begin());
    *pdwCount = static_cast<DWORD>(locales.size());
    *pdwLcid = locales.release();
    return S_OK;
}

HRESULT CannedServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) {
    return GetErrorString(dwError, LOCALE_NEUTRAL, ppString);
}

HRESULT CannedServer::SetClientName(LPCWSTR szName) {
    const std::wstring name = szName;
    {
        std::lock_guard lock(mutex_);
        clientName_ = name;
    }
    if (ComPtr<IOPCShutdown> sink = shutdownPoint_->sink()) {
        CallbackWorker::instance().post([sink, name, self = ComPtr<CannedServer>(this)] {
            sink->ShutdownRequest(name.c_str());
        });
    }
    return S_OK;
}

// IOPCServerList, IOPCServerList2 -----------------------------------------------------------------

HRESULT CannedServer::EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                              CATID rgcatidReq[], IEnumGUID** ppenumClsid) {
    auto enumerator = korvex::com::make<korvex::com::Enumerator<IEnumGUID, GuidItems>>(
        listedClasses(cImplemented, rgcatidImpl, cRequired, rgcatidReq));
    *ppenumClsid = enumerator.Detach();
    return *ppenumClsid ? S_OK : E_OUTOFMEMORY;
}

HRESULT CannedServer::EnumClassesOfCategories(ULONG cImplemented, CATID rgcatidImpl[], ULONG cRequired,
                                              CATID rgcatidReq[], IOPCEnumGUID** ppenumClsid) {
    auto enumerator = korvex::com::make<korvex::com::Enumerator<IOPCEnumGUID, GuidItems>>(
        listedClasses(cImplemented, rgcatidImpl, cRequired, rgcatidReq));
    *ppenumClsid = enumerator.Detach();
    return *ppenumClsid ? S_OK : E_OUTOFMEMORY;
}

HRESULT CannedServer::GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType) {
    *ppszProgID = nullptr;
    *ppszUserType = nullptr;
    if (clsid == CLSID_NULL) return E_INVALIDARG;
    const bool ours = clsid == kServerClsid;
    if (FAILED(taskStringCopy(ours ? std::wstring(kProgId) : L"Unregistered." + guidText(clsid), ppszProgID)) ||
        FAILED(taskStringCopy(ours ? kUserType : L"", ppszUserType))) {
        CoTaskMemFree(*ppszProgID);
        *ppszProgID = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CannedServer::GetClassDetails(REFCLSID clsid, LPOLESTR* ppszProgID, LPOLESTR* ppszUserType,
                                      LPOLESTR* ppszVerIndProgID) {
    *ppszVerIndProgID = nullptr;
    const HRESULT hr = GetClassDetails(clsid, ppszProgID, ppszUserType);
    if (FAILED(hr) || clsid != kServerClsid) return hr;
    if (FAILED(taskStringCopy(kVersionIndependentProgId, ppszVerIndProgID))) {
        CoTaskMemFree(*ppszProgID);
        CoTaskMemFree(*ppszUserType);
        *ppszProgID = *ppszUserType = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CannedServer::CLSIDFromProgID(LPCOLESTR szProgId, LPCLSID clsid) {
    *clsid = CLSID_NULL;
    const std::wstring_view progId = szProgId;
    if (progId == kProgId || progId == kVersionIndependentProgId) {
        *clsid = kServerClsid;
        return S_OK;
    }
    const auto dot = progId.rfind(L'.');
    if (dot == std::wstring_view::npos) return CO_E_CLASSSTRING;
    const std::wstring text(progId.substr(dot + 1));
    return CLSIDFromString(text.c_str(), clsid) == NOERROR ? S_OK : CO_E_CLASSSTRING;
}

// IConnectionPointContainer -----------------------------------------------------------------------

HRESULT CannedServer::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    auto enumerator = korvex::com::make<korvex::com::ConnectionPointEnumerator>(
        std::vector<ComPtr<IConnectionPoint>>{ComPtr<IConnectionPoint>(shutdownPoint_.Get())});
    if (!enumerator) return E_OUTOFMEMORY;
    *ppEnum = enumerator.Detach();
    return S_OK;
}

HRESULT CannedServer::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    *ppCP = nullptr;
    if (riid != IID_IOPCShutdown) return CONNECT_E_NOCONNECTION;
    *ppCP = ComPtr<IConnectionPoint>(shutdownPoint_.Get()).Detach();
    return S_OK;
}

}  // namespace conformance
