#include "app/class_factory.h"

#include "app/server_clsid.h"
#include "com/com_boundary.h"
#include "server/server_module.h"

namespace app {

HRESULT STDMETHODCALLTYPE CServerClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept
    try {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return server::CreateServer(context_, riid, object);
} catch (...) {
    return korvex::com::ExceptionToHResult();
}

HRESULT STDMETHODCALLTYPE CServerClassFactory::LockServer(BOOL lock) noexcept {
    if (lock) {
        korvex::com::ModuleLock::lock();
    } else {
        korvex::com::ModuleLock::unlock();
    }
    return S_OK;
}

HRESULT ClassObjectRegistration::Register(const ServerContext& context) {
    korvex::com::ComPtr<CServerClassFactory> factory = korvex::com::make<CServerClassFactory>(context);
    if (!factory) return E_OUTOFMEMORY;
    HRESULT hr = CoRegisterClassObject(CLSID_KorvexOPCServer, factory->identity(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie_);
    if (FAILED(hr)) {
        cookie_ = 0;
        return hr;
    }
    return CoResumeClassObjects();
}

void ClassObjectRegistration::Revoke() {
    if (cookie_ != 0) {
        CoRevokeClassObject(cookie_);
        cookie_ = 0;
    }
}

}  // namespace app
