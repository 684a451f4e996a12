// The server class's class factory and its registration with COM: each activation by a client
// creates a new server object.
#pragma once

#include "com/com_object.h"
#include "group/server_context.h"

#include <objbase.h>

namespace app {

// Lives as long as its registration and so holds no module lock: it must not keep the server up.
class CServerClassFactory final
    : public korvex::com::ComObject<CServerClassFactory, IClassFactory, korvex::com::no_module_lock> {
public:
    // Each server object it makes serves `context`, which outlives the factory.
    explicit CServerClassFactory(const ServerContext& context) : context_(context) {}

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) noexcept override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) noexcept override;

private:
    const ServerContext context_;
};

// Publishes the class factory for CLSID_KorvexOPCServer as a local server for many clients, and
// revokes it.
class ClassObjectRegistration {
public:
    ClassObjectRegistration() = default;
    ~ClassObjectRegistration() { Revoke(); }
    ClassObjectRegistration(const ClassObjectRegistration&) = delete;
    ClassObjectRegistration& operator=(const ClassObjectRegistration&) = delete;

    // Registers suspended, then resumes: clients are served from here on.
    HRESULT Register(const ServerContext& context);
    void Revoke();

private:
    DWORD cookie_ = 0;
};

}  // namespace app
