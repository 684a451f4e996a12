#include "proxy_registration.h"

#include "wine_process.h"

namespace korvex::test {

HRESULT RegisterProxyStub() {
    static bool registered = false;
    if (registered) return S_OK;
    // The DLL of the test's own architecture, in its own registry view; the server's, when the
    // server is of the other architecture, was registered with the test prefix.
    const HMODULE proxy = LoadLibraryA((testProgramDirectory() + "\\korvexps.dll").c_str());
    if (proxy == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    // Through void(*)(), the generic function pointer type, so that the cast draws no warning.
    const auto registerServer = reinterpret_cast<HRESULT(WINAPI*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(proxy, "DllRegisterServer")));
    if (registerServer == nullptr) return HRESULT_FROM_WIN32(GetLastError());
    const HRESULT hr = registerServer();
    registered = SUCCEEDED(hr);
    return hr;
}

}  // namespace korvex::test
