// The server list's class factory, published while KorvexServerList.exe serves: each activation
// creates a new server list object.
#pragma once

#include "com/com_object.h"

#include <objbase.h>

namespace serverlist {

// Lives as long as its registration and so holds no module lock: it must not keep the program up.
class CServerListClassFactory final
    : public korvex::com::ComObject<CServerListClassFactory, IClassFactory, korvex::com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;
};

// Publishes the factory for CLSID_OpcServerList as a local server for many clients, and revokes it.
class ClassObjectRegistration {
public:
    ClassObjectRegistration() = default;
    ~ClassObjectRegistration() { Revoke(); }
    ClassObjectRegistration(const ClassObjectRegistration&) = delete;
    ClassObjectRegistration& operator=(const ClassObjectRegistration&) = delete;

    HRESULT Register();
    void Revoke();

private:
    DWORD cookie_ = 0;
};

}  // namespace serverlist
