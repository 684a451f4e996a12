#include "tools/serverlist/class_factory.h"

#include "com/com_boundary.h"
#include "opccomn.h"
#include "tools/serverlist/server_list.h"

namespace serverlist {

HRESULT STDMETHODCALLTYPE CServerListClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept
    try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    korvex::com::ComPtr<CServerList> list = korvex::com::make<CServerList>();
    if (!list) return E_OUTOFMEMORY;
    return list->QueryInterface(riid, object);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT STDMETHODCALLTYPE CServerListClassFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        korvex::com::ModuleLock::lock();
    } else {
        korvex::com::ModuleLock::unlock();
    }
    return S_OK;
}

HRESULT ClassObjectRegistration::Register() {
    korvex::com::ComPtr<CServerListClassFactory> factory = korvex::com::make<CServerListClassFactory>();
    if (!factory) return E_OUTOFMEMORY;
    const HRESULT hr = CoRegisterClassObject(CLSID_OpcServerList, factory->identity(), CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &cookie_);
    if (FAILED(hr)) cookie_ = 0;
    return hr;
}

void ClassObjectRegistration::Revoke() {
    if (cookie_ != 0) {
        CoRevokeClassObject(cookie_);
        cookie_ = 0;
    }
}

}  // namespace serverlist
