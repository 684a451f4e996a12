// conformance_server.exe: the local server COM starts (with -Embedding) for the conformance
// test. It serves CannedServer objects until the last of its objects is gone, then ends.
#include "callback_worker.h"
#include "canned_server.h"
#include "conformance_protocol.h"

#include "com/com_object.h"
#include "com/module_lock.h"

#include <objbase.h>

#include <cstdio>

namespace {

using korvex::com::ComPtr;

HANDLE lastObjectGone = nullptr;

class ServerFactory final
    : public korvex::com::ComObject<ServerFactory, IClassFactory, korvex::com::no_module_lock> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        ComPtr<conformance::CannedServer> server = korvex::com::make<conformance::CannedServer>();
        if (!server) return E_OUTOFMEMORY;
        return server->QueryInterface(riid, object);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            korvex::com::ModuleLock::lock();
        else
            korvex::com::ModuleLock::unlock();
        return S_OK;
    }
};

}  // namespace

int main() {
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
    lastObjectGone = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    korvex::com::ModuleLock::onZero([]() noexcept { SetEvent(lastObjectGone); });

    ComPtr<ServerFactory> factory = korvex::com::make<ServerFactory>();
    DWORD registration = 0;
    const HRESULT hr = CoRegisterClassObject(conformance::kServerClsid, factory->identity(), CLSCTX_LOCAL_SERVER,
                                             REGCLS_MULTIPLEUSE, &registration);
    if (FAILED(hr)) {
        std::fprintf(stderr, "conformance_server: CoRegisterClassObject failed: 0x%08lX\n",
                     static_cast<unsigned long>(hr));
        return 2;
    }
    // Until the last object is released (no client then comes back), or a minute without any
    // client: a server nobody calls must not outlive its test.
    for (;;) {
        if (WaitForSingleObject(lastObjectGone, 60000) == WAIT_OBJECT_0) {
            ResetEvent(lastObjectGone);
            Sleep(200);  // a client between two objects (the test's next case) creates one now
            if (korvex::com::ModuleLock::count() == 0) break;
        } else if (korvex::com::ModuleLock::count() == 0) {
            break;
        }
    }
    CoRevokeClassObject(registration);
    conformance::CallbackWorker::instance().stop();
    factory = nullptr;
    CoUninitialize();
    return 0;
}
