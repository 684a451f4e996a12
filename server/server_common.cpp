// IOPCCommon and IOPCServerPublicGroups of the server object.
#include "server/opc_server.h"

#include "com/com_boundary.h"
#include "server/status_codes.h"

#include <algorithm>
#include <iterator>

HRESULT COPCServer::SetLocaleID(LCID dwLcid) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (std::find(std::begin(kSupportedLocales), std::end(kSupportedLocales), dwLcid) == std::end(kSupportedLocales))
        return E_INVALIDARG;
    std::lock_guard guard(lock_);
    localeId_ = dwLcid;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetLocaleID(LCID* pdwLcid) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (pdwLcid == nullptr) return E_POINTER;
    std::lock_guard guard(lock_);
    *pdwLcid = localeId_;
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) try {
    if (context_.state.IsFailed()) return E_FAIL;
    if (pdwCount == nullptr || pdwLcid == nullptr) return E_POINTER;
    *pdwLcid = nullptr;
    auto* locales = static_cast<LCID*>(CoTaskMemAlloc(sizeof kSupportedLocales));
    if (locales == nullptr) return E_FAIL;
    std::copy(std::begin(kSupportedLocales), std::end(kSupportedLocales), locales);
    *pdwLcid = locales;
    *pdwCount = static_cast<DWORD>(std::size(kSupportedLocales));
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::GetErrorString(HRESULT dwError, LPWSTR* ppString) try {
    LCID locale = 0;
    {
        std::lock_guard guard(lock_);
        locale = localeId_;
    }
    return server::GetErrorText(dwError, locale, ppString);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::SetClientName(LPCWSTR szName) try {
    if (context_.state.IsFailed()) return E_FAIL;
    std::lock_guard guard(lock_);
    clientName_ = szName ? szName : L"";
    return S_OK;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

std::wstring COPCServer::clientName() const {
    std::lock_guard guard(lock_);
    return clientName_;
}

HRESULT COPCServer::GetPublicGroupByName(LPCWSTR /*szName*/, REFIID /*riid*/, LPUNKNOWN* ppUnk) try {
    return ppUnk == nullptr ? E_POINTER : E_NOTIMPL;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT COPCServer::RemovePublicGroup(OPCHANDLE /*hServerGroup*/, BOOL /*bForce*/) try {
    return E_NOTIMPL;
} catch (...) {
    return korvex::com::ExceptionToHResult();
}
